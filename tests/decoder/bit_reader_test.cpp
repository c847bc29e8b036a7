#include "decoder/bit_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

namespace kuv {
namespace {

// Reads bit i of the store the slow way.
uint32_t bitAt(const FrameStore& store, uint64_t i) { return (store.bytes[i / 8] >> (7 - i % 8)) & 1u; }

TEST(BitReader, AgreesWithABitByBitReadingAtEveryWidthAndOffset) {
  auto store = std::make_unique<FrameStore>();
  clearFrameStore(*store);
  std::mt19937 random(7);
  for (int32_t i = 0; i < kStoreBytes; ++i) store->bytes[i] = static_cast<uint8_t>(random());
  BitReader r;
  pointBitReader(r, *store, 100);
  uint64_t at = 800;
  for (int step = 0; step < 5000; ++step) {
    const uint32_t kind = random() % 3;
    uint32_t n = kind == 0 ? random() % 17 : kind == 1 ? 1 + random() % 9 : 1;
    uint32_t expected = 0;
    for (uint32_t b = 0; b < n; ++b) expected = (expected << 1) | bitAt(*store, at + b);
    const uint32_t got = kind == 0 ? getBits(r, n) : kind == 1 ? getBitsShort(r, n) : getBit(r);
    ASSERT_EQ(got, expected) << "step " << step << " n " << n;
    at += n;
    ASSERT_EQ(r.pos * 8 + r.bit, at);
  }
}

TEST(BitReader, ReadsPastTheStoreGiveZeros) {
  auto store = std::make_unique<FrameStore>();
  clearFrameStore(*store);
  std::memset(store->bytes, 0xFF, kStoreBytes);
  BitReader r;
  pointBitReader(r, *store, kStoreBytes - 1);
  EXPECT_EQ(getBits(r, 8), 0xFFu);
  EXPECT_EQ(getBits(r, 16), 0u);
  for (int i = 0; i < 100000; ++i) getBits(r, 16);
  EXPECT_EQ(getBitsShort(r, 9), 0u);
  EXPECT_EQ(getBit(r), 0u);
}

TEST(BitReader, ReservoirBytesContinueThePreviousBody) {
  auto store = std::make_unique<FrameStore>();
  clearFrameStore(*store);
  // Previous body in slot 0, 400 bytes counting up; current body in slot 1.
  store->previousSlot = 0;
  store->previousLength = 400;
  store->currentSlot = 1;
  store->currentLength = 300;
  for (int i = 0; i < 400; ++i) store->bytes[slotStart(0) + i] = static_cast<uint8_t>(i);
  BitReader r;
  prependReservoir(r, *store, 32, 20);
  EXPECT_EQ(r.pos, static_cast<uint32_t>(slotStart(1) + 32 - 20));
  EXPECT_EQ(r.bit, 0u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(getBits(r, 8), static_cast<uint32_t>(380 + i) & 0xFF);
  // The other way round: the copy lands in the look-back area.
  store->previousSlot = 1;
  store->previousLength = 300;
  store->currentSlot = 0;
  prependReservoir(r, *store, 17, 511);
  EXPECT_EQ(r.pos, static_cast<uint32_t>(slotStart(0) + 17 - 511));
}

TEST(BitReader, ReservoirLengthsFromABrokenStreamStayInside) {
  auto store = std::make_unique<FrameStore>();
  clearFrameStore(*store);
  store->previousSlot = 1;
  store->previousLength = 2304;
  store->currentSlot = 0;
  BitReader r;
  for (int32_t len : {-5, 0, 4000, 100000, 520}) {
    prependReservoir(r, *store, 32, len);
    EXPECT_LE(r.pos, static_cast<uint32_t>(kStoreBytes));
  }
}

}  // namespace
}  // namespace kuv
