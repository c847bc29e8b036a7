// Frame bodies and the bit reader the layer decoders read them with.
#pragma once

#include <cstdint>

namespace kuv {

constexpr int32_t kLookBackBytes = 512;
constexpr int32_t kSlotBytes = 2304;
constexpr int32_t kStoreBytes = kLookBackBytes + 2 * kSlotBytes;
// Zero bytes past the end so the 3-byte look-ahead of getBits stays inside.
constexpr int32_t kStoreGuardBytes = 8;

// A look-back area for Layer III reservoir bytes, then two slots that frame
// bodies alternate between.
struct FrameStore {
  uint8_t bytes[kStoreBytes + kStoreGuardBytes];
  int32_t currentSlot;
  int32_t currentLength;
  int32_t previousSlot;
  int32_t previousLength;
  // Layer III main data received since the store was last cleared that a
  // frame's reservoir may reach back into.
  int32_t reservoirBytes;
};

inline int32_t slotStart(int32_t slot) { return kLookBackBytes + slot * kSlotBytes; }

// Bits are read most significant first. Reads past the store give zeros, so
// a corrupt length field cannot make a decoder read outside the buffer.
struct BitReader {
  const uint8_t* data = nullptr;  // FrameStore::bytes
  uint32_t pos = 0;               // byte position in the store
  uint32_t bit = 0;               // 0..7
};

void clearFrameStore(FrameStore& store);
void pointBitReader(BitReader& reader, const FrameStore& store, int32_t position);

// n from 0 to 16; 0 returns 0 without reading.
inline uint32_t getBits(BitReader& r, uint32_t n) {
  if (n == 0) return 0;
  uint32_t value = 0;
  if (r.pos < static_cast<uint32_t>(kStoreBytes)) {
    const uint8_t* p = r.data + r.pos;
    value = ((static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2]);
    value = ((value << r.bit) & 0xFFFFFFu) >> (24 - n);
  }
  r.bit += n;
  r.pos += r.bit >> 3;
  r.bit &= 7;
  return value;
}

// n from 1 to 9.
inline uint32_t getBitsShort(BitReader& r, uint32_t n) {
  uint32_t value = 0;
  if (r.pos < static_cast<uint32_t>(kStoreBytes)) {
    const uint8_t* p = r.data + r.pos;
    value = (static_cast<uint32_t>(p[0]) << 8) | p[1];
    value = ((value << r.bit) & 0xFFFFu) >> (16 - n);
  }
  r.bit += n;
  r.pos += r.bit >> 3;
  r.bit &= 7;
  return value;
}

inline uint32_t getBit(BitReader& r) {
  uint32_t value = 0;
  if (r.pos < static_cast<uint32_t>(kStoreBytes)) value = (r.data[r.pos] >> (7 - r.bit)) & 1u;
  if (++r.bit == 8) {
    r.bit = 0;
    ++r.pos;
  }
  return value;
}

// Layer III bit reservoir: copies the last len bytes of the previous body to
// just before the current frame's main data (after sideInfoLength bytes of
// side information) and points the reader at the first copied byte.
void prependReservoir(BitReader& reader, FrameStore& store, int32_t sideInfoLength, int32_t len);

}  // namespace kuv
