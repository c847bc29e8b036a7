// The sound device's volume: a gain of our own stream, not the mixer's, so
// only this player gets quieter. The feeder thread applies it to each period
// on its way to ALSA.
#pragma once

#include <cstdint>

namespace kuv {

// The 16-bit volume word of waveOut: 0xFFFF plays samples as they are.
constexpr uint32_t kUnityGain = 0xFFFF;

// Volume 0..63 to the gain word; 64 wraps to 0 (silence), as the 16-bit
// word did.
uint32_t gainOfVolume(int32_t volume);
int32_t volumeOfGain(uint32_t gain);

// Scales bytes of samples (unsigned 8-bit around 128, or 16-bit little-endian
// signed) by gain / 0xFFFF, truncating toward zero. An odd last byte of
// 16-bit data is copied as it is.
void scaleByGain(unsigned char* to, const unsigned char* from, int32_t bytes, bool eightBit, uint32_t gain);

}  // namespace kuv
