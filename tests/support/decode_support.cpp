#include "support/decode_support.h"

#include <cstring>
#include <memory>

#include "decoder/bit_reader.h"
#include "decoder/decoder_state.h"
#include "decoder/frame_context.h"
#include "decoder/layer12.h"
#include "decoder/synthesis.h"
#include "engine/decoder_thread.h"
#include "engine/frame_reader.h"
#include "engine/input_stream.h"
#include "layer3/layer3.h"
#include "support/test_support.h"

namespace kuv::test {

int32_t capturePcm(void* context, int32_t length, const uint8_t* data) {
  auto* bytes = static_cast<std::vector<uint8_t>*>(context);
  bytes->insert(bytes->end(), data, data + length);
  return length;
}

Decoded decodeInProcess(const std::string& path, const DecodeOptions& options) {
  Decoded out;
  MessageRecorder recorder(options.answer);
  prepareDecoderTables();
  auto stream = std::make_unique<InputStream>();
  auto decoder = std::make_unique<DecoderState>();
  PcmStagingBuffer& pcm = decoder->pcm;
  pcm.write = capturePcm;
  pcm.writeContext = &out.bytes;
  FrameContext ctx;
  ctx.state = decoder.get();
  const int monoOut = options.channelSelect >= 0 ? 1 : 0;
  const int eightBit = options.eightBit ? 1 : 0;
  routeOutput(ctx, options.channelSelect, options.downSample, eightBit);
  out.opened = openStream(*stream, path);
  if (out.opened) {
    resetFrameState(*stream);
    while (readFrameTellingUser(*stream, ctx)) {
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
    capturePcm(&out.bytes, pcm.fill, pcm.data);
    closeStream(*stream);
  }
  for (size_t i = 0; i + 1 < out.bytes.size(); i += 2) {
    out.samples.push_back(static_cast<int16_t>(out.bytes[i] | (out.bytes[i + 1] << 8)));
  }
  return out;
}

size_t bestOffset(const std::vector<int16_t>& ours, const std::vector<int16_t>& theirs, size_t maxOffset, size_t step) {
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
