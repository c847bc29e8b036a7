// Layer III Huffman codes decoded by table lookup, and the budget-counting
// reader they are read with.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "decoder/bit_reader.h"

namespace kuv {

// A lookup entry is a leaf or a link. A leaf holds the decoded value in bits
// 0-7 and the code bits it takes at its level in bits 8-12; read as a
// big-value pair (x in bits 4-7, y in 0-3), it also holds those bits plus
// the pair's sign bits in bits 13-17, and whether x and y are 15 (followed
// by linbits) in bits 18 and 19, so a pair's whole length is known from the
// entry and the next pair's lookup need not wait for the values. A link (top bit)
// holds the bits its level takes in bits 8-12, the next level's width in
// bits 0-4 and that level's first entry in bits 13-30.
constexpr uint32_t kLookupLink = 0x80000000u;
// Widest level: 256 entries of 4 bytes keep a first level in a few cache
// lines; only codes longer than this take a second step.
constexpr int32_t kLookupLevelBits = 8;
constexpr int32_t kLookupEntries = 4864;

struct HuffmanLookupTable {
  int32_t rootBits;  // width of the first level
  int32_t first;     // the first level's first entry
  int32_t linbits;
};

struct HuffmanLookup {
  HuffmanLookupTable tables[32];
  HuffmanLookupTable count1[2];
  int32_t used;  // entries filled
  uint32_t entries[kLookupEntries];
};

// Filled by buildHuffmanLookup (part of the Layer III table set), read-only
// afterwards.
extern HuffmanLookup huffmanLookup;
void buildHuffmanLookup();

// Reads the bits of the granule's Huffman data from a 64-bit cache,
// counting them against its budget. The caller puts the bit reader at the
// granule's end afterwards, so this reader never hands its position back.
struct BudgetReader {
  const uint8_t* data;
  uint32_t nextByte;  // next byte to load into the cache
  uint64_t cache = 0;
  int32_t cached = 0;  // valid bits, from the top of the cache
  int32_t remaining;

  BudgetReader(const BitReader& bits, int32_t budget) : data(bits.data), nextByte(bits.pos), remaining(budget) {
    refill();
    if (bits.bit) {
      cache <<= bits.bit;
      cached -= static_cast<int32_t>(bits.bit);
    }
  }
  // Leaves at least 56 valid bits (and at most 63). Cheap enough to run
  // before every codeword: no test on the bits left, whose outcome would
  // follow the code lengths and defeat the branch predictor.
  void refill() {
    if (nextByte + 8 <= static_cast<uint32_t>(kStoreBytes)) [[likely]] {
      // Eight bytes at once. The bits past the valid ones are the stream's
      // own, so the next refill ORs the same bits over them.
      uint64_t word;
      std::memcpy(&word, data + nextByte, sizeof word);
      if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
      cache |= word >> cached;
      nextByte += static_cast<uint32_t>(63 - cached) >> 3;
      cached |= 56;
      return;
    }
    while (cached < 56) {
      // Past the store the stream reads as zeros, as the bit reader does.
      const uint64_t byte = nextByte < static_cast<uint32_t>(kStoreBytes) ? data[nextByte] : 0;
      ++nextByte;
      cache |= byte << (56 - cached);
      cached += 8;
    }
  }
  void skip(int32_t n) {
    cache <<= n;
    cached -= n;
    remaining -= n;
  }
  uint32_t bit() {
    if (cached <= 0) refill();
    const uint32_t value = static_cast<uint32_t>(cache >> 63);
    skip(1);
    return value;
  }
};

// The top n bits of a window, n from 0 to 63.
inline uint32_t topBits(uint64_t window, int32_t n) { return static_cast<uint32_t>((window >> 1) >> (63 - n)); }

// Decodes the codeword at the top of the window: returns the leaf value and
// sets its length.
inline uint32_t lookupCode(const HuffmanLookupTable& table, uint64_t window, int32_t& length) {
  const uint32_t* entries = huffmanLookup.entries;
  uint32_t entry = entries[table.first + topBits(window, table.rootBits)];
  int32_t used = 0;
  while (entry & kLookupLink) {
    const int32_t taken = static_cast<int32_t>((entry >> 8) & 31);
    used += taken;
    window <<= taken;
    entry = entries[((entry >> 13) & 0x3FFFF) + topBits(window, static_cast<int32_t>(entry & 31))];
  }
  length = used + static_cast<int32_t>((entry >> 8) & 31);
  return entry & 0xFF;
}

// Decodes one big-value pair with its linbits and sign bits. The budget is
// not checked here: the caller looks at it after the pair. The pair's
// length comes from the entry alone, so the next pair can start while this
// one's values are still being taken apart.
inline void decodePair(const HuffmanLookupTable& table, BudgetReader& in, uint32_t magnitude[2], uint32_t sign[2]) {
  // A pair takes at most 19 + 2 * (13 + 1) = 47 bits.
  in.refill();
  uint64_t window = in.cache;
  const uint32_t* entries = huffmanLookup.entries;
  uint32_t entry = entries[table.first + topBits(window, table.rootBits)];
  int32_t linked = 0;
  if (entry & kLookupLink) [[unlikely]] {
    do {
      const int32_t taken = static_cast<int32_t>((entry >> 8) & 31);
      linked += taken;
      window <<= taken;
      entry = entries[((entry >> 13) & 0x3FFFF) + topBits(window, static_cast<int32_t>(entry & 31))];
    } while (entry & kLookupLink);
  }
  const uint32_t linbits = static_cast<uint32_t>(table.linbits);
  const uint32_t extraX = linbits & (0u - ((entry >> 18) & 1));
  const uint32_t extraY = linbits & (0u - ((entry >> 19) & 1));
  in.skip(linked + static_cast<int32_t>(((entry >> 13) & 31) + extraX + extraY));
  const uint32_t x = (entry >> 4) & 15, y = entry & 15;
  window <<= (entry >> 8) & 31;
  magnitude[0] = x + topBits(window, static_cast<int32_t>(extraX));
  window <<= extraX;
  const uint32_t signedX = x != 0;
  sign[0] = static_cast<uint32_t>(window >> 63) & signedX;
  window <<= signedX;
  magnitude[1] = y + topBits(window, static_cast<int32_t>(extraY));
  window <<= extraY;
  sign[1] = static_cast<uint32_t>(window >> 63) & static_cast<uint32_t>(y != 0);
}

// Decodes one quadruple (v, w, x, y) of -1, 0 or 1 and returns how many of
// them hold. When the budget ends inside the codeword the quadruple is all
// zero; when it ends before a sign bit the values up to that one hold and
// the budget is marked overrun (-1).
inline int32_t decodeQuad(int32_t tableB, BudgetReader& in, int32_t values[4]) {
  in.refill();
  uint64_t window = in.cache;
  uint32_t leaf;
  int32_t length;
  if (tableB) {
    // Table B is the four bits inverted.
    leaf = ~static_cast<uint32_t>(window >> 60) & 15;
    length = 4;
  } else {
    leaf = lookupCode(huffmanLookup.count1[0], window, length);
  }
  if (in.remaining >= 32) {
    // At most 6 + 4 bits: the budget cannot run out.
    window <<= length;
    for (int i = 0; i < 4; ++i) {
      const uint32_t set = (leaf >> (3 - i)) & 1;
      const uint32_t negative = static_cast<uint32_t>(window >> 63) & set;
      values[i] = static_cast<int32_t>(set) - 2 * static_cast<int32_t>(negative);
      window <<= set;
      length += static_cast<int32_t>(set);
    }
    in.skip(length);
    return 4;
  }
  if (length > in.remaining) {
    if (in.remaining > 0) in.skip(in.remaining);
    for (int i = 0; i < 4; ++i) values[i] = 0;
    return 4;
  }
  in.skip(length);
  for (int i = 0; i < 4; ++i) {
    values[i] = 0;
    if ((leaf >> (3 - i)) & 1) {
      if (in.remaining <= 0) {
        in.remaining = -1;
        return i;
      }
      values[i] = in.bit() ? -1 : 1;
    }
  }
  return 4;
}

}  // namespace kuv
