#include "output/device_gain.h"

namespace kuv {

uint32_t gainOfVolume(int32_t volume) { return (static_cast<uint32_t>(volume) << 10) & 0xFFFF; }

int32_t volumeOfGain(uint32_t gain) { return static_cast<int32_t>((gain & 0xFFFF) >> 10); }

void scaleByGain(unsigned char* to, const unsigned char* from, int32_t bytes, bool eightBit, uint32_t gain) {
  const int64_t scale = gain;
  if (eightBit) {
    for (int32_t i = 0; i < bytes; ++i) {
      to[i] = static_cast<unsigned char>(128 + (static_cast<int64_t>(from[i]) - 128) * scale / 0xFFFF);
    }
    return;
  }
  int32_t i = 0;
  for (; i + 1 < bytes; i += 2) {
    const int16_t sample = static_cast<int16_t>(from[i] | (from[i + 1] << 8));
    const int64_t scaled = sample * scale / 0xFFFF;
    const uint16_t bits = static_cast<uint16_t>(scaled);
    to[i] = static_cast<unsigned char>(bits & 0xFF);
    to[i + 1] = static_cast<unsigned char>(bits >> 8);
  }
  if (i < bytes) to[i] = from[i];
}

}  // namespace kuv
