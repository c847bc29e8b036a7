// Output into a RIFF/WAVE file the user names when the output opens.
#pragma once

#include <cstdint>

namespace kuv {

constexpr const char* kWaveFileErrorTitle = "Wave file output error";

int32_t waveFileOpen(int32_t sampleRate, int32_t channels, int32_t eightBit);
int32_t waveFileClose(int32_t discard);
int32_t waveFileIsOpen();
int32_t waveFileWrite(int32_t length, const void* data);

}  // namespace kuv
