// One Layer III frame: side information, the bit reservoir, scale factors
// and the granule loop down to PCM in the decoder state's staging buffer.
#include <cstdlib>
#include <cstring>

#include "config/settings.h"
#include "decoder/bit_reader.h"
#include "decoder/decoder_state.h"
#include "decoder/frame_context.h"
#include "decoder/pcm_staging.h"
#include "decoder/vis_frame.h"
#include "layer3/band_tables.h"
#include "layer3/layer3.h"
#include "layer3/layer3_tables.h"

namespace kuv {

namespace {

// One frame's working values, on the decoding call's stack: nothing in
// here outlives the frame. The lines and slots are written in full before
// they are read.
struct FrameWork {
  Layer3SideInfo side{};
  ScaleFactors scale[2]{};
  int32_t intensityScale = 0;
  double lines[2][576];
  double slots[2][18][32];
};

inline uint32_t bitPosition(const BitReader& r) { return r.pos * 8 + r.bit; }
inline void setBitPosition(BitReader& r, uint32_t position) {
  r.pos = position / 8;
  r.bit = position % 8;
}

// Reads the side information. False for a frame that cannot be decoded.
bool readSideInfo(FrameWork& f, BitReader& br, const FrameContext& ctx, int32_t channels, int32_t gainShift) {
  Layer3SideInfo& si = f.side;
  const int32_t rate = ctx.sampleRateIndex;
  const int16_t* longBounds = kLongBandBounds[rate];
  const int16_t* shortBounds = kShortBandBounds[rate];
  const int32_t granules = ctx.lsf ? 1 : 2;
  if (ctx.lsf) {
    si.mainDataBegin = static_cast<int32_t>(getBits(br, 8));
    getBits(br, channels == 1 ? 1 : 2);
  } else {
    si.mainDataBegin = static_cast<int32_t>(getBits(br, 9));
    getBits(br, channels == 1 ? 5 : 3);
    for (int ch = 0; ch < channels; ++ch)
      for (int g = 0; g < 4; ++g) si.scfsi[ch][g] = static_cast<int32_t>(getBit(br));
  }
  bool usable = true;
  for (int gr = 0; gr < granules; ++gr) {
    for (int ch = 0; ch < channels; ++ch) {
      GranuleInfo& gi = si.granules[gr][ch];
      gi.part23Length = static_cast<int32_t>(getBits(br, 12));
      gi.bigValues = static_cast<int32_t>(getBits(br, 9));
      if (gi.bigValues > 288) gi.bigValues = 288;
      gi.gainBase = 256 - static_cast<int32_t>(getBits(br, 8)) + gainShift;
      gi.scalefacCompress = static_cast<int32_t>(getBits(br, ctx.lsf ? 9 : 4));
      gi.windowSwitching = static_cast<int32_t>(getBit(br));
      if (gi.windowSwitching) {
        gi.blockType = static_cast<int32_t>(getBits(br, 2));
        gi.mixedBlock = static_cast<int32_t>(getBit(br));
        gi.tableSelect[0] = static_cast<int32_t>(getBits(br, 5));
        gi.tableSelect[1] = static_cast<int32_t>(getBits(br, 5));
        gi.tableSelect[2] = 0;
        for (int w = 0; w < 3; ++w) gi.windowGain[w] = gi.gainBase + 8 * static_cast<int32_t>(getBits(br, 3));
        if (gi.blockType == 0) usable = false;
        gi.region1Start = gi.blockType == 2 ? 3 * shortBounds[3] / 2 : longBounds[8] / 2;
        gi.region2Start = 288;
      } else {
        for (int r = 0; r < 3; ++r) gi.tableSelect[r] = static_cast<int32_t>(getBits(br, 5));
        const int32_t region0 = static_cast<int32_t>(getBits(br, 4));
        const int32_t region1 = static_cast<int32_t>(getBits(br, 3));
        gi.blockType = 0;
        gi.mixedBlock = 0;
        for (int w = 0; w < 3; ++w) gi.windowGain[w] = gi.gainBase;
        gi.region1Start = longBounds[region0 + 1] / 2;
        const int32_t second = region0 + region1 + 2;
        gi.region2Start = longBounds[second < 22 ? second : 22] / 2;
      }
      gi.preflag = ctx.lsf ? 0 : static_cast<int32_t>(getBit(br));
      gi.scalefacScale = static_cast<int32_t>(getBit(br));
      gi.count1Table = static_cast<int32_t>(getBit(br));
    }
  }
  return usable;
}

// MPEG-1 scale factors; returns the bits read.
int32_t readScaleFactorsMpeg1(FrameWork& f, BitReader& br, int32_t ch, int32_t gr, GranuleInfo& gi) {
  ScaleFactors& sf = f.scale[ch];
  const uint32_t slen1 = kSlen[gi.scalefacCompress & 15][0];
  const uint32_t slen2 = kSlen[gi.scalefacCompress & 15][1];
  const uint32_t start = bitPosition(br);
  auto read = [&](int32_t slot, uint32_t bits) {
    sf.values[slot] = bits ? static_cast<int32_t>(getBits(br, bits)) : 0;
  };
  for (int i = 0; i < kScaleFactorSlots; ++i) sf.intensityLimit[i] = 7;
  if (gi.blockType == 2) {
    int32_t slot = 0;
    if (gi.mixedBlock) {
      for (int b = 0; b < 8; ++b) read(slot++, slen1);
      for (int i = 0; i < 9; ++i) read(slot++, slen1);
    } else {
      for (int i = 0; i < 18; ++i) read(slot++, slen1);
    }
    for (int i = 0; i < 18; ++i) read(slot++, slen2);
    while (slot < kScaleFactorSlots) sf.values[slot++] = 0;
  } else {
    static const int kGroups[5] = {0, 6, 11, 16, 21};
    for (int g = 0; g < 4; ++g) {
      // The second granule may keep the first granule's values of a group.
      if (gr == 1 && f.side.scfsi[ch][g]) continue;
      for (int b = kGroups[g]; b < kGroups[g + 1]; ++b) read(b, g < 2 ? slen1 : slen2);
    }
    for (int slot = 21; slot < kScaleFactorSlots; ++slot) sf.values[slot] = 0;
  }
  return static_cast<int32_t>(bitPosition(br) - start);
}

// LSF scale factors; returns the bits read.
int32_t readScaleFactorsLsf(FrameWork& f, BitReader& br, int32_t ch, GranuleInfo& gi, bool intensityChannel) {
  ScaleFactors& sf = f.scale[ch];
  const uint32_t start = bitPosition(br);
  uint32_t packed;
  if (intensityChannel) {
    packed = layer3Tables.lsfIntensitySlen[(gi.scalefacCompress >> 1) & 255];
    f.intensityScale = gi.scalefacCompress & 1;
  } else {
    packed = layer3Tables.lsfSlen[gi.scalefacCompress & 511];
  }
  const int32_t row = static_cast<int32_t>((packed >> 12) & 7);
  gi.preflag = static_cast<int32_t>((packed >> 15) & 1);
  const int kind = gi.blockType == 2 ? (gi.mixedBlock ? 2 : 1) : 0;
  const uint8_t* counts = kLsfPartitionCounts[row < 6 ? row : 0][kind];
  int32_t slot = 0;
  for (int p = 0; p < 4; ++p) {
    const uint32_t slen = (packed >> (3 * p)) & 7;
    for (int n = 0; n < counts[p] && slot < kScaleFactorSlots; ++n, ++slot) {
      sf.values[slot] = slen ? static_cast<int32_t>(getBits(br, slen)) : 0;
      // The largest value a partition can carry marks "not intensity coded".
      sf.intensityLimit[slot] = (1 << slen) - 1;
    }
  }
  for (; slot < kScaleFactorSlots; ++slot) {
    sf.values[slot] = 0;
    sf.intensityLimit[slot] = 0;
  }
  return static_cast<int32_t>(bitPosition(br) - start);
}

// One channel's lines of one granule; false when the data overran.
bool decodeChannel(FrameWork& f, BitReader& br, const FrameContext& ctx, int32_t gr, int32_t ch, bool msStereo,
                   bool intensity) {
  GranuleInfo& gi = f.side.granules[gr][ch];
  const uint32_t start = bitPosition(br);
  const int32_t part2 =
      ctx.lsf ? readScaleFactorsLsf(f, br, ch, gi, intensity && ch == 1) : readScaleFactorsMpeg1(f, br, ch, gr, gi);
  int32_t overrun;
  if (ch == 1 && msStereo) {
    overrun = decodeGranuleLinesMS(f.lines[0], f.lines[1], f.scale[1], gi, ctx.sampleRateIndex, part2, br);
  } else {
    overrun = decodeGranuleLines(f.lines[ch], f.scale[ch], gi, ctx.sampleRateIndex, part2, br);
  }
  // Down-sampled output hears only the lower 32 >> DownSample subbands.
  const int32_t cap = 32 >> ctx.downSample;
  if (gi.maxSubband > cap) gi.maxSubband = cap;
  // The next granule starts at this one's part2_3_length boundary.
  setBitPosition(br, start + static_cast<uint32_t>(gi.part23Length));
  return overrun == 0;
}

void buildVisFrame(VisFrame& v, const FrameWork& f, const FrameContext& ctx, int32_t carried) {
  v.link = 0;
  v.position = ctx.state->vis.positionMs(ctx.outRate, ctx.outChannels, ctx.outBits);
  for (int c = 0; c < 2; ++c) {
    // One channel carried: the right row repeats the left one.
    const double(*slots)[32] = f.slots[c < carried ? c : 0];
    uint8_t* row = c == 0 ? v.spectrumLeft : v.spectrumRight;
    for (int s = 0; s < 32; ++s) {
      for (int t = 0; t < 18; ++t) {
        const double scaled = slots[t][s] * 256.0;
        const int64_t value = scaled > 1e15 ? 0 : (scaled < -1e15 ? 0 : static_cast<int64_t>(scaled));
        row[18 * s + t] = static_cast<uint8_t>(std::llabs(value) & 0xFF);
      }
    }
  }
  const PcmStagingBuffer& pcm = ctx.state->pcm;
  const int32_t frames = pcm.fill / 4;
  const int32_t first = frames >= 576 ? frames - 576 : 0;
  const auto* samples = reinterpret_cast<const int16_t*>(pcm.data);
  for (int i = 0; i < 576; ++i) {
    const int32_t at = 2 * (first + i);
    v.waveformLeft[i] = static_cast<int8_t>(samples[at] >> 8);
    v.waveformRight[i] = static_cast<int8_t>(samples[at + 1] >> 8);
  }
}

}  // namespace

int decodeLayer3Frame(FrameContext& ctx) {
  DecoderState& state = *ctx.state;
  FrameWork f;
  BitReader& br = *ctx.bits;
  FrameStore& store = *ctx.store;
  const int32_t channels = ctx.channels == 1 ? 1 : 2;
  const int32_t sel = channels == 1 ? 0 : ctx.channelSelect;
  const bool joint = channels == 2 && ctx.mode == 1;
  const bool msStereo = joint && (ctx.modeExtension & 2);
  const bool intensity = joint && (ctx.modeExtension & 1);
  const bool mix = channels == 2 && sel == 3;
  // Mixing halves both channels (four gain steps) so their sum needs no
  // scaling; M/S folds its 1/sqrt(2) into the gains (two steps).
  const int32_t gainShift = (mix ? 4 : 0) + (msStereo ? 2 : 0);

  const bool usable = readSideInfo(f, br, ctx, channels, gainShift);
  // The reservoir: main data of earlier frames that this frame begins in.
  const int32_t mainBytes = ctx.bodyLength - ctx.sideInfoLength;
  const int32_t available = store.reservoirBytes;
  const int32_t reach = f.side.mainDataBegin;
  if (!usable) {
    store.reservoirBytes = mainBytes > 0 ? mainBytes : 0;
    return kFrameSkipped;
  }
  prependReservoir(br, store, ctx.sideInfoLength, reach);
  store.reservoirBytes = (mainBytes > 0 ? mainBytes : 0) + (reach < available ? reach : available);
  // A frame that begins in data never received (the start of a stream, just
  // after a seek) would decode as noise: it is left out.
  if (reach > available) return kFrameSkipped;

  // Channels taken through the filterbank: both for stereo output and for
  // the mix; one otherwise (the right one for Channels 1).
  const int32_t outputs = channels == 2 && sel < 0 ? 2 : 1;
  const bool bothThrough = channels == 2 && (sel < 0 || mix);
  const int32_t source = channels == 2 && sel == 1 ? 1 : 0;
  const int32_t granules = ctx.lsf ? 1 : 2;
  PcmStagingBuffer& pcm = state.pcm;

  for (int gr = 0; gr < granules; ++gr) {
    if (!decodeChannel(f, br, ctx, gr, 0, msStereo, intensity)) return kFrameSkipped;
    GranuleInfo& g0 = f.side.granules[gr][0];
    if (channels == 2) {
      if (!decodeChannel(f, br, ctx, gr, 1, msStereo, intensity)) return kFrameSkipped;
      GranuleInfo& g1 = f.side.granules[gr][1];
      if (intensity) {
        applyIntensityStereo(f.lines[0], f.lines[1], f.scale[1], g1, ctx.sampleRateIndex, msStereo, ctx.lsf,
                             f.intensityScale);
      }
      if (msStereo || intensity || mix) {
        const int32_t widest = g0.maxSubband > g1.maxSubband ? g0.maxSubband : g1.maxSubband;
        g0.maxSubband = g1.maxSubband = widest;
      }
    }
    if (sharedSetting(settings.EqActive)) {
      for (int c = 0; c < channels; ++c)
        for (int i = 0; i < 576; ++i) f.lines[c][i] *= equaliserTable[i];
    }
    // Each channel goes through the filterbank with its own block type and
    // its own overlap.
    if (bothThrough) {
      for (int c = 0; c < 2; ++c) {
        const GranuleInfo& gi = f.side.granules[gr][c];
        aliasReduction(f.lines[c], gi);
        hybridFilterbank(f.lines[c], f.slots[c], state.layer3.overlap[c], gi);
      }
      if (mix) {
        for (int t = 0; t < 18; ++t)
          for (int s = 0; s < 32; ++s) f.slots[0][t][s] += f.slots[1][t][s];
      }
    } else {
      const GranuleInfo& gi = f.side.granules[gr][source];
      aliasReduction(f.lines[source], gi);
      hybridFilterbank(f.lines[source], f.slots[0], state.layer3.overlap[source], gi);
    }

    for (int t = 0; t < 18; ++t) {
      if (!pcmMakeRoom(pcm, ctx.blockBytes)) return kFrameSkipped;
      uint8_t* at = pcm.data + pcm.fill;
      if (outputs == 2) {
        ctx.stereoPair(state.synthesis, f.slots[0][t], f.slots[1][t], at);
      } else {
        ctx.monoHandler(state.synthesis, f.slots[0][t], at);
      }
      pcm.fill += ctx.blockBytes;
      const VisSink& sink = state.vis;
      if (sink.countBlock && sink.countBlock(ctx.blockBytes, pcm.writeThreshold, pcm.fill)) {
        VisFrame vis;
        buildVisFrame(vis, f, ctx, outputs == 2 || mix ? 2 : 1);
        sink.push(vis);
      }
      if (!pcmWriteIfDue(pcm)) return kFrameWriteFailed;
    }
  }
  return 1;
}

}  // namespace kuv
