#include "decoder/frame_header.h"

#include "decoder/bit_reader.h"
#include "decoder/frame_context.h"

namespace kuv {

namespace {
// [lsf][layer - 1][index]
constexpr int16_t kBitRates[2][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}},
};
}  // namespace

int32_t bitRateKbps(int32_t lsf, int32_t layer, int32_t bitRateIndex) {
  if (lsf < 0 || lsf > 1 || layer < 1 || layer > 3 || bitRateIndex < 0 || bitRateIndex > 15) return 0;
  return kBitRates[lsf][layer - 1][bitRateIndex];
}

bool isPlausibleHeader(uint32_t word) {
  return hasSyncBits(word) && headerLayerField(word) != 0 && headerBitRateIndex(word) != 15 &&
         headerSampleRateField(word) != 3;
}

Layer2Table selectLayer2Table(int32_t lsf, int32_t sampleRateIndex, int32_t bitRateIndex, int32_t channels) {
  if (lsf) return kAllocLsf;
  if (bitRateIndex <= 0 || bitRateIndex >= 15) return kAllocA;
  return selectLayer2TableByKbps(lsf, sampleRateIndex, bitRateKbps(0, 2, bitRateIndex), channels);
}

Layer2Table selectLayer2TableByKbps(int32_t lsf, int32_t sampleRateIndex, int32_t kbps, int32_t channels) {
  if (lsf) return kAllocLsf;
  if (kbps <= 0) return kAllocA;
  const int32_t perChannel = kbps / (channels > 1 ? channels : 1);
  switch (sampleRateIndex) {
    case 0:  // 44100
      return perChannel <= 48 ? kAllocC : perChannel <= 80 ? kAllocA : kAllocB;
    case 1:  // 48000
      return perChannel <= 48 ? kAllocC : kAllocA;
    case 2:  // 32000
      return perChannel <= 48 ? kAllocD : perChannel <= 80 ? kAllocA : kAllocB;
    default:
      return kAllocA;
  }
}

int32_t layer3SideInfoLength(int32_t lsf, int32_t channels) {
  if (lsf) return channels == 1 ? 9 : 17;
  return channels == 1 ? 17 : 32;
}

int32_t frameBodyLength(int32_t layer, int32_t lsf, int32_t sampleRateIndex, int32_t bitRateIndex, int32_t padding) {
  if (sampleRateIndex < 0 || sampleRateIndex > 8) return 0;
  const int32_t kbps = bitRateKbps(lsf, layer, bitRateIndex);
  if (kbps == 0) return 0;
  const int32_t rate = kSampleRates[sampleRateIndex];
  switch (layer) {
    case 1:
      return (kbps * 12000 / rate + padding) * 4 - 4;
    case 2:
      return kbps * 144000 / rate + padding - 4;
    case 3:
      return kbps * 144000 / (rate << lsf) + padding - 4;
    default:
      return 0;
  }
}

void decodeHeaderFields(uint32_t word, FrameContext& ctx) {
  const int32_t id = static_cast<int32_t>((word >> 19) & 1);
  const int32_t version25 = static_cast<int32_t>((word >> 20) & 1);
  ctx.mpeg25 = version25 == 0 ? 1 : 0;
  ctx.lsf = (id == 0 || ctx.mpeg25) ? 1 : 0;
  ctx.layer = 4 - headerLayerField(word);
  ctx.crcPresent = ((word >> 16) & 1) == 0 ? 1 : 0;
  ctx.bitRateIndex = headerBitRateIndex(word);
  const int32_t field = headerSampleRateField(word);
  ctx.sampleRateIndex = field + (ctx.mpeg25 ? 6 : 3 * ctx.lsf);
  ctx.padding = headerPadding(word);
  ctx.privateBit = static_cast<int32_t>((word >> 8) & 1);
  ctx.mode = static_cast<int32_t>((word >> 6) & 3);
  ctx.modeExtension = static_cast<int32_t>((word >> 4) & 3);
  ctx.copyFlag = static_cast<int32_t>((word >> 3) & 1);
  ctx.original = static_cast<int32_t>((word >> 2) & 1);
  ctx.emphasis = static_cast<int32_t>(word & 3);
  ctx.channels = ctx.mode == 3 ? 1 : 2;
}

int32_t announcedBodyLength(uint32_t word) {
  FrameContext fields;
  decodeHeaderFields(word, fields);
  const int32_t body =
      frameBodyLength(fields.layer, fields.lsf, fields.sampleRateIndex, fields.bitRateIndex, fields.padding);
  return body > kSlotBytes ? -1 : body;
}

}  // namespace kuv
