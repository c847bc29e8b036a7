#include "support/decode_support.h"

#include <cstring>
#include <memory>

#include "engine/bit_reader.h"
#include "engine/frame_context.h"
#include "engine/input_stream.h"
#include "engine/layer12.h"
#include "engine/pcm_staging.h"
#include "engine/synthesis.h"
#include "layer3/layer3.h"
#include "output/output_system.h"
#include "support/test_support.h"

namespace kuv::test {

namespace {
std::vector<uint8_t>* sink = nullptr;
int32_t capture(int32_t length, const void* data) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  sink->insert(sink->end(), bytes, bytes + length);
  return length;
}
}  // namespace

Decoded decodeInProcess(const std::string& path, const DecodeOptions& options) {
  Decoded out;
  MessageRecorder recorder(options.answer);
  const OutputSystem saved = outputSystem;
  outputSystem = OutputSystem{};
  outputSystem.write = capture;
  sink = &out.bytes;

  buildSynthesisWindow(32768.0);
  buildLayerTables();
  buildEightBitTable();
  initLayer3Tables(options.downSample);
  auto stream = std::make_unique<InputStream>();
  auto staging = std::make_unique<uint8_t[]>(kPcmStagingBytes);
  PcmStagingBuffer pcm;
  pcm.data = staging.get();
  FrameContext ctx;
  ctx.pcm = &pcm;
  const int monoOut = options.channelSelect >= 0 ? 1 : 0;
  const int eightBit = options.eightBit ? 1 : 0;
  routeOutput(ctx, options.channelSelect, options.downSample, eightBit);
  out.opened = openStream(*stream, path);
  if (out.opened) {
    resetFrameState(*stream);
    while (readFrame(*stream, ctx)) {
      if (ctx.headerChanged) pcm.writeThreshold = writeThresholdFor(ctx.sampleRateIndex, options.downSample);
      ctx.outRate = 44100;
      ctx.outChannels = monoOut ? 1 : 2;
      ctx.outBits = eightBit ? 8 : 16;
      if (ctx.crcPresent) getBits(*ctx.bits, 16);
      const int result = ctx.decodeFrame ? ctx.decodeFrame(ctx) : -1;
      if (result == 1) {
        ++out.frames;
      } else {
        ++out.skipped;
      }
    }
    capture(pcm.fill, pcm.data);
    closeStream(*stream);
  }
  sink = nullptr;
  outputSystem = saved;
  for (size_t i = 0; i + 1 < out.bytes.size(); i += 2) {
    out.samples.push_back(static_cast<int16_t>(out.bytes[i] | (out.bytes[i + 1] << 8)));
  }
  return out;
}

size_t bestOffset(const std::vector<int16_t>& ours, const std::vector<int16_t>& theirs, size_t maxOffset,
                  size_t step) {
  size_t best = 0;
  double bestError = -1;
  const size_t window = 20000;
  for (size_t offset = 0; offset <= maxOffset; offset += step) {
    double error = 0;
    for (size_t i = 10000; i < 10000 + window && i + offset < ours.size() && i < theirs.size(); ++i) {
      const double d = static_cast<double>(ours[i + offset]) - theirs[i];
      error += d * d;
    }
    if (bestError < 0 || error < bestError) {
      bestError = error;
      best = offset;
    }
  }
  return best;
}

}  // namespace kuv::test
