// Everything the decoding stages keep from one frame to the next, in one
// record owned by whoever decodes a stream (the decoder thread, kuv-decode's
// scanner, a test) and reached through the frame context. Per-frame scratch
// lives on the stack of the stage that needs it; tables computed once live
// beside their stage. Two records decode two streams in one process.
#pragma once

#include "decoder/pcm_staging.h"
#include "decoder/synthesis.h"
#include "decoder/vis_frame.h"
#include "layer3/layer3.h"

namespace kuv {

// About 200 KB: allocate it on the heap.
struct DecoderState {
  SynthesisState synthesis;
  Layer3State layer3;
  PcmStagingBuffer pcm;
  VisSink vis;
};

// Builds the tables every stage reads (synthesis window, Layer I/II
// multipliers, 8-bit conversion, Layer III) the first time it is called;
// they never change after, so any number of decoders can read them at once.
void prepareDecoderTables();

}  // namespace kuv
