// The visualisation record Layer III makes of its decoded signal, and where
// it hands them: the decoder only builds records; the engine queues them
// against the output's clock.
#pragma once

#include <cstdint>

namespace kuv {

// 2312 bytes, copied whole.
struct VisFrame {
  uint32_t link;      // queue-internal; meaningless in a copy
  uint32_t position;  // ms of output from the track start to this record
  uint8_t spectrumLeft[576];
  uint8_t spectrumRight[576];
  int8_t waveformLeft[576];
  int8_t waveformRight[576];
};
static_assert(sizeof(VisFrame) == 2312, "VisFrame is a fixed 2312-byte record");

// Set by the owner of a decoder state; without countBlock no records are made.
struct VisSink {
  // Counts a synthesised block of blockBytes; true when a record is due.
  bool (*countBlock)(int32_t blockBytes, int32_t writeThreshold, int32_t stagingFill) = nullptr;
  // The time stamp of a record made now, in ms of output.
  uint32_t (*positionMs)(int32_t outRate, int32_t outChannels, int32_t outBits) = nullptr;
  void (*push)(const VisFrame& frame) = nullptr;
};

}  // namespace kuv
