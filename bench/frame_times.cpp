// Times every frame's decode (frame reading, the layer routine, synthesis
// and PCM conversion) of a file, in process, with the output discarded.
//   kuv_frame_times FILE
// Prints the frame count, the median and largest time per frame, and the
// CPU seconds per second of audio.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "decoder/bit_reader.h"
#include "decoder/decoder_state.h"
#include "decoder/frame_context.h"
#include "decoder/frame_header.h"
#include "decoder/frame_timing.h"
#include "decoder/layer12.h"
#include "decoder/synthesis.h"
#include "engine/frame_reader.h"
#include "engine/input_stream.h"
#include "layer3/layer3.h"

namespace {
int32_t discard(void*, int32_t length, const uint8_t*) { return length; }
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kuv_frame_times FILE\n");
    return 2;
  }
  using namespace kuv;
  prepareDecoderTables();
  auto stream = std::make_unique<InputStream>();
  auto decoder = std::make_unique<DecoderState>();
  PcmStagingBuffer& pcm = decoder->pcm;
  pcm.write = discard;
  FrameContext ctx;
  ctx.state = decoder.get();
  routeOutput(ctx, -1, 0, 0);
  if (!openStream(*stream, argv[1])) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  resetFrameState(*stream);
  std::vector<double> micros;
  double audioSeconds = 0;
  const auto begin = std::chrono::steady_clock::now();
  for (;;) {
    const auto start = std::chrono::steady_clock::now();
    if (!readFrame(*stream, ctx)) break;
    if (ctx.headerChanged) pcm.writeThreshold = writeThresholdFor(ctx.sampleRateIndex, 0);
    if (ctx.crcPresent) getBits(*ctx.bits, 16);
    if (ctx.decodeFrame) ctx.decodeFrame(ctx);
    const auto end = std::chrono::steady_clock::now();
    micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    audioSeconds += msPerFrame(ctx) / 1000.0;
  }
  const double total = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  closeStream(*stream);
  if (micros.empty()) return 1;
  std::vector<double> sorted = micros;
  std::sort(sorted.begin(), sorted.end());
  std::printf("frames %zu\nmedian_us %.1f\nmax_us %.1f\ncpu_per_audio_second %.5f\n", micros.size(),
              sorted[sorted.size() / 2], sorted.back(), total / audioSeconds);
  return 0;
}
