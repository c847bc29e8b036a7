// The Layer III decoder: side information, scale factors, Huffman decoding
// and requantisation, stereo processing, the equaliser, alias reduction and
// the hybrid filterbank, handing 32-sample blocks to the synthesis.
#pragma once

#include <cstdint>

namespace kuv {

struct FrameContext;
struct BitReader;

struct GranuleInfo {
  int32_t part23Length;
  int32_t bigValues;
  int32_t gainBase;  // GainTable index of global_gain (with the mix and M/S steps)
  int32_t scalefacCompress;
  int32_t windowSwitching;
  int32_t blockType;   // 0 normal, 1 start, 2 short, 3 stop
  int32_t mixedBlock;  // short blocks: the lowest two subbands long; else: they take the normal window
  int32_t tableSelect[3];
  int32_t windowGain[3];
  int32_t region1Start;  // in pairs of lines
  int32_t region2Start;
  int32_t preflag;
  int32_t scalefacScale;
  int32_t count1Table;
  // Written by the Huffman stage: one past the highest band holding a
  // non-zero value, per short window and for the long part, and the number
  // of subbands that hold any.
  int32_t maxBand[3];
  int32_t maxBandLong;
  int32_t maxSubband;
};

struct Layer3SideInfo {
  int32_t mainDataBegin;
  int32_t scfsi[2][4];
  GranuleInfo granules[2][2];  // [granule][channel]
};

constexpr int32_t kScaleFactorSlots = 40;

// Scale factors of one channel, with the intensity limit of each slot (the
// position that means "not intensity coded").
struct ScaleFactors {
  int32_t values[kScaleFactorSlots];
  int32_t intensityLimit[kScaleFactorSlots];
};

// What Layer III keeps from one granule to the next: the second halves of the
// last transforms, by channel, time slot and subband (as the slots are laid
// out, so the filterbank adds them a vector at a time). Never cleared: a new
// track or a seek continues from them.
struct Layer3State {
  alignas(16) double overlap[2][18][32] = {};
};

// Computes every Layer III table (prepareDecoderTables does it once for all).
void initLayer3Tables();
// 1 after a decoded frame, a negative value when the frame produced no PCM
// (damaged data, or a bit reservoir that reaches before what was received),
// -2 when the output refused the data.
int decodeLayer3Frame(FrameContext& ctx);
// Gains in thousandths for the fifteen equaliser bands (1000 = unity).
void setupEqualiser(const int32_t bands[15]);

// Stages, exposed for tests.
int32_t decodeGranuleLines(double* lines, const ScaleFactors& sf, GranuleInfo& gi, int32_t sampleRateIndex,
                           int32_t part2Length, BitReader& bits);
int32_t decodeGranuleLinesMS(double* mid, double* side, const ScaleFactors& sf, GranuleInfo& gi,
                             int32_t sampleRateIndex, int32_t part2Length, BitReader& bits);
void applyIntensityStereo(double* left, double* right, const ScaleFactors& sf, const GranuleInfo& gi,
                          int32_t sampleRateIndex, bool msStereo, int32_t lsf, int32_t intensityScale);
// overlap: the channel's Layer3State::overlap.
void hybridFilterbank(double* lines, double slots[18][32], double overlap[18][32], const GranuleInfo& gi);
void aliasReduction(double* lines, const GranuleInfo& gi);

}  // namespace kuv
