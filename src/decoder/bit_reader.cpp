#include "decoder/bit_reader.h"

#include <cstring>

namespace kuv {

void clearFrameStore(FrameStore& store) {
  std::memset(store.bytes, 0, sizeof store.bytes);
  store.currentSlot = 1;  // the first body goes to slot 0
  store.currentLength = 0;
  store.previousSlot = 0;
  store.previousLength = 0;
  store.reservoirBytes = 0;
}

void pointBitReader(BitReader& reader, const FrameStore& store, int32_t position) {
  reader.data = store.bytes;
  reader.pos = position < 0 ? 0u : static_cast<uint32_t>(position);
  reader.bit = 0;
}

void prependReservoir(BitReader& reader, FrameStore& store, int32_t sideInfoLength, int32_t len) {
  const int32_t mainData = slotStart(store.currentSlot) + sideInfoLength;
  const int32_t dst = mainData - len;
  const int32_t src = slotStart(store.previousSlot) + store.previousLength - len;
  // len comes from the stream: a range outside the store copies nothing.
  if (len <= 0 || dst < 0 || src < 0 || mainData > kStoreBytes || src + len > kStoreBytes) {
    pointBitReader(reader, store, mainData);
    return;
  }
  std::memmove(store.bytes + dst, store.bytes + src, static_cast<size_t>(len));
  pointBitReader(reader, store, dst);
}

}  // namespace kuv
