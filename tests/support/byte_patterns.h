// Byte patterns tests build their inputs from: literal bytes with zeros in
// them, fixed-width numbers in either byte order, ID3v2's syncsafe sizes and
// reproducible noise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kuv::test {

// The bytes of a literal, zero bytes included.
template <size_t N>
std::string B(const char (&bytes)[N]) {
  return std::string(bytes, N - 1);
}

inline std::string bigEndianBytes(uint32_t n) {
  return {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8), static_cast<char>(n)};
}

inline std::string littleEndianBytes(uint32_t n) {
  return {static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16), static_cast<char>(n >> 24)};
}

// Seven bits a byte, as ID3v2 writes its sizes.
inline std::string syncsafe32(uint32_t n) {
  return {static_cast<char>((n >> 21) & 0x7F), static_cast<char>((n >> 14) & 0x7F), static_cast<char>((n >> 7) & 0x7F),
          static_cast<char>(n & 0x7F)};
}

// The little-endian number of `width` bytes at `at`.
inline uint32_t readLittleEndian(const std::string& bytes, size_t at, int width) {
  uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(bytes[at + static_cast<size_t>(i)]);
  return value;
}

// Bytes from a seed, the same on every run, in which any loss, repetition
// or reordering shows.
inline std::string noiseBytes(size_t count, uint32_t seed) {
  std::string out(count, '\0');
  uint32_t x = seed * 2654435761u + 12345u;
  for (size_t i = 0; i < count; ++i) {
    x = x * 1664525u + 1013904223u;
    out[i] = static_cast<char>(x >> 24);
  }
  return out;
}

}  // namespace kuv::test
