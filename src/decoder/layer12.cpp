#include "decoder/layer12.h"

#include <cmath>
#include <cstring>

#include "decoder/bit_reader.h"
#include "decoder/decoder_state.h"
#include "decoder/frame_context.h"
#include "decoder/frame_header.h"
#include "decoder/layer2_tables.h"

namespace kuv {

namespace {

// Requantisation is one multiplication by multiplierByScale[scale index][row]:
// the scale factor, the level normalisation and the step size folded
// together. Indexed by scale first, so the values of all rows for one
// sub-band's scale factor lie together.
alignas(64) double multiplierByScale[64][32];

// Rows of the three samples a grouped code packs, first sample first.
struct Triple {
  uint8_t rows[3];
};
Triple grouped3[27];
Triple grouped5[125];
Triple grouped9[729];

void buildGrouping(Triple* table, int levels, const uint8_t* levelRows) {
  for (int c = 0; c < levels * levels * levels; ++c) {
    table[c].rows[0] = levelRows[c % levels];
    table[c].rows[1] = levelRows[(c / levels) % levels];
    table[c].rows[2] = levelRows[c / (levels * levels)];
  }
}

// Sub-band samples of one block, by channel.
using Block = double[2][32];

// One transmitted code of a Layer II granule: which sub-band and channels it
// feeds, how it is read, and its channels' multiplier rows for each part.
struct SampleCode {
  uint8_t subband;
  uint8_t bits;
  uint8_t first;  // first and last channel the samples go to
  uint8_t last;
  int32_t offset;        // ungrouped codes: added to the code
  const Triple* groups;  // grouped codes: the rows of each code, else null
  uint32_t groupCount;
  const double* scales[3][2];  // multiplierByScale row set by part and channel
  double factors[3][2];        // ungrouped codes: scales[part][channel][bits]
};

// The frame's sample codes read with one load per code: the bit position in
// the store, and zeros past its end, as getBits gives them.
struct LocalBits {
  const uint8_t* data;
  uint32_t position;  // in bits
};

inline uint64_t loadBigEndian64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return __builtin_bswap64(v);
}

// Three ungrouped samples of n bits (up to 16) from one 64-bit load: the
// bit offset within the first byte (at most 7) and 48 bits fit. The store's
// guard bytes cover the load at its last byte and are zero, like the reads
// past the end.
inline void readThree(LocalBits& r, uint32_t n, uint32_t v[3]) {
  const uint32_t byte = r.position >> 3;
  if (byte < static_cast<uint32_t>(kStoreBytes)) {
    const uint64_t window = loadBigEndian64(r.data + byte) << (r.position & 7);
    v[0] = static_cast<uint32_t>(window >> (64 - n));
    v[1] = static_cast<uint32_t>((window << n) >> (64 - n));
    v[2] = static_cast<uint32_t>((window << (2 * n)) >> (64 - n));
  } else {
    v[0] = v[1] = v[2] = 0;
  }
  r.position += 3 * n;
}

inline uint32_t readOne(LocalBits& r, uint32_t n) {
  const uint32_t byte = r.position >> 3;
  uint32_t value = 0;
  if (byte < static_cast<uint32_t>(kStoreBytes)) {
    value = static_cast<uint32_t>((loadBigEndian64(r.data + byte) << (r.position & 7)) >> (64 - n));
  }
  r.position += n;
  return value;
}

void storeBits(BitReader& bits, const LocalBits& r) {
  bits.pos = r.position >> 3;
  bits.bit = r.position & 7;
}

// Requantises one granule's codes into its three blocks. Shared: the codes
// of sub-bands both channels take (from the bound up), each with its own
// scale factors; otherwise each code has one channel.
template <bool Shared>
inline void requantiseCodes(const SampleCode* codes, int32_t count, LocalBits& reader, int part, Block* blocks) {
  for (int k = 0; k < count; ++k) {
    const SampleCode& code = codes[k];
    const int sb = code.subband;
    const int c = code.first;
    if (code.groups == nullptr) {
      uint32_t v[3];
      readThree(reader, code.bits, v);
      double values[3];
      for (int i = 0; i < 3; ++i) values[i] = static_cast<double>(static_cast<int32_t>(v[i]) + code.offset);
      const double m = code.factors[part][c];
      for (int i = 0; i < 3; ++i) blocks[i][c][sb] = values[i] * m;
      if constexpr (Shared) {
        const double other = code.factors[part][1];
        for (int i = 0; i < 3; ++i) blocks[i][1][sb] = values[i] * other;
      }
    } else {
      const uint32_t v = readOne(reader, code.bits);
      // A code past the last group comes from a damaged frame: silence.
      static constexpr Triple kSilent = {{0, 0, 0}};
      const Triple& rows = v < code.groupCount ? code.groups[v] : kSilent;
      const double* column = code.scales[part][c];
      for (int i = 0; i < 3; ++i) blocks[i][c][sb] = column[rows.rows[i]];
      if constexpr (Shared) {
        const double* other = code.scales[part][1];
        for (int i = 0; i < 3; ++i) blocks[i][1][sb] = other[rows.rows[i]];
      }
    }
  }
}

// Channel to output when one is asked for: Layers I and II never mix, so
// both the mono position and the mix give the left channel.
int32_t sourceChannel(const FrameContext& ctx) {
  const int32_t sel = ctx.channelSelect;
  if (ctx.channels == 1 || sel == 2 || sel == 3) return sel < 0 ? -1 : 0;
  return sel;
}

// Synthesises one block into the decoder state's staging buffer and applies
// the write rule.
// Returns 1, or a frame outcome to stop with.
int outputBlock(FrameContext& ctx, Block& block, int32_t sel) {
  const int32_t firstSilent = 32 >> ctx.downSample;
  for (int sb = firstSilent; sb < 32; ++sb) block[0][sb] = block[1][sb] = 0.0;
  DecoderState& state = *ctx.state;
  PcmStagingBuffer& pcm = state.pcm;
  if (!pcmMakeRoom(pcm, ctx.blockBytes)) return kFrameSkipped;
  uint8_t* at = pcm.data + pcm.fill;
  if (sel < 0 && ctx.channels == 2) {
    ctx.stereoPair(state.synthesis, block[0], block[1], at);
  } else {
    ctx.monoHandler(state.synthesis, block[sel == 1 ? 1 : 0], at);
  }
  return pcmBlockDone(pcm, ctx.blockBytes) ? 1 : kFrameWriteFailed;
}

}  // namespace

void buildLayerTables() {
  double base[27];
  base[0] = 0.0;
  base[1] = -2.0 / 3.0;
  base[2] = 2.0 / 3.0;
  for (int b = 3; b <= 16; ++b) base[b] = 2.0 / ((1 << b) - 1);
  const double fifths[4] = {-4.0 / 5, -2.0 / 5, 2.0 / 5, 4.0 / 5};
  const double ninths[6] = {-8.0 / 9, -4.0 / 9, -2.0 / 9, 2.0 / 9, 4.0 / 9, 8.0 / 9};
  for (int i = 0; i < 4; ++i) base[17 + i] = fifths[i];
  for (int i = 0; i < 6; ++i) base[21 + i] = ninths[i];
  for (int row = 0; row < 27; ++row) {
    for (int i = 0; i < 63; ++i) multiplierByScale[i][row] = base[row] * std::pow(2.0, (3 - i) / 3.0);
    multiplierByScale[63][row] = 0.0;
  }
  static const uint8_t kLevels3[3] = {1, 0, 2};
  static const uint8_t kLevels5[5] = {17, 18, 0, 19, 20};
  static const uint8_t kLevels9[9] = {21, 1, 22, 23, 0, 24, 25, 2, 26};
  buildGrouping(grouped3, 3, kLevels3);
  buildGrouping(grouped5, 5, kLevels5);
  buildGrouping(grouped9, 9, kLevels9);
}

double layerMultiplier(int32_t row, int32_t scaleIndex) {
  if (row < 0 || row > 26 || scaleIndex < 0 || scaleIndex > 63) return 0.0;
  return multiplierByScale[scaleIndex][row];
}

bool layer2GroupRows(int32_t levels, uint32_t code, int32_t rows[3]) {
  const Triple* group = levels == 3 ? grouped3 : levels == 5 ? grouped5 : levels == 9 ? grouped9 : nullptr;
  if (!group || code >= static_cast<uint32_t>(levels * levels * levels)) return false;
  for (int i = 0; i < 3; ++i) rows[i] = group[code].rows[i];
  return true;
}

int decodeLayerI(FrameContext& ctx) {
  BitReader& bits = *ctx.bits;
  const int32_t channels = ctx.channels == 1 ? 1 : 2;
  const int32_t bound = channels == 1 ? 32 : (ctx.jointBound < 32 ? ctx.jointBound : 32);
  const int32_t sel = sourceChannel(ctx);

  uint8_t alloc[2][32] = {};
  uint8_t scale[2][32] = {};
  for (int sb = 0; sb < 32; ++sb) {
    if (sb < bound) {
      for (int ch = 0; ch < channels; ++ch) alloc[ch][sb] = static_cast<uint8_t>(getBits(bits, 4));
    } else {
      alloc[0][sb] = alloc[1][sb] = static_cast<uint8_t>(getBits(bits, 4));
    }
  }
  for (int sb = 0; sb < 32; ++sb) {
    for (int ch = 0; ch < channels; ++ch) {
      if (alloc[ch][sb]) scale[ch][sb] = static_cast<uint8_t>(getBits(bits, 6));
    }
  }

  for (int slot = 0; slot < 12; ++slot) {
    Block block = {};
    for (int sb = 0; sb < 32; ++sb) {
      const int sharedFrom = sb < bound ? channels : 1;
      for (int ch = 0; ch < sharedFrom; ++ch) {
        const int n = alloc[ch][sb];
        if (n == 0) continue;
        const double value = static_cast<double>(static_cast<int32_t>(getBits(bits, n + 1)) - (1 << n) + 1);
        if (sb < bound) {
          block[ch][sb] = value * multiplierByScale[scale[ch][sb]][n + 1];
        } else {
          for (int c = 0; c < channels; ++c) block[c][sb] = value * multiplierByScale[scale[c][sb]][n + 1];
        }
      }
    }
    const int outcome = outputBlock(ctx, block, sel);
    if (outcome != 1) return outcome;
  }
  return 1;
}

int decodeLayerII(FrameContext& ctx) {
  BitReader& bits = *ctx.bits;
  const int32_t channels = ctx.channels == 1 ? 1 : 2;
  const int32_t tableIndex = ctx.allocTable >= 0 && ctx.allocTable < 5 ? ctx.allocTable : 0;
  const Layer2AllocTable& table = kLayer2AllocTables[tableIndex];
  const int32_t limit = table.subbandLimit;
  int32_t bound = channels == 1 ? limit : ctx.jointBound;
  if (bound > limit) bound = limit;
  const int32_t sel = sourceChannel(ctx);

  uint8_t alloc[2][32] = {};
  uint8_t scfsi[2][32] = {};
  uint8_t scale[2][3][32] = {};
  for (int sb = 0; sb < limit; ++sb) {
    const uint32_t width = table.allocBits[sb];
    if (sb < bound) {
      for (int ch = 0; ch < channels; ++ch) alloc[ch][sb] = static_cast<uint8_t>(getBits(bits, width));
    } else {
      alloc[0][sb] = alloc[1][sb] = static_cast<uint8_t>(getBits(bits, width));
    }
  }
  for (int sb = 0; sb < limit; ++sb) {
    for (int ch = 0; ch < channels; ++ch) {
      if (alloc[ch][sb]) scfsi[ch][sb] = static_cast<uint8_t>(getBitsShort(bits, 2));
    }
  }
  for (int sb = 0; sb < limit; ++sb) {
    for (int ch = 0; ch < channels; ++ch) {
      if (!alloc[ch][sb]) continue;
      uint8_t s[3];
      switch (scfsi[ch][sb]) {
        case 0:
          s[0] = static_cast<uint8_t>(getBits(bits, 6));
          s[1] = static_cast<uint8_t>(getBits(bits, 6));
          s[2] = static_cast<uint8_t>(getBits(bits, 6));
          break;
        case 1:
          s[0] = s[1] = static_cast<uint8_t>(getBits(bits, 6));
          s[2] = static_cast<uint8_t>(getBits(bits, 6));
          break;
        case 2:
          s[0] = s[1] = s[2] = static_cast<uint8_t>(getBits(bits, 6));
          break;
        default:
          s[0] = static_cast<uint8_t>(getBits(bits, 6));
          s[1] = s[2] = static_cast<uint8_t>(getBits(bits, 6));
          break;
      }
      for (int p = 0; p < 3; ++p) scale[ch][p][sb] = s[p];
    }
  }

  // The codes each granule carries, in stream order; the set is the same for
  // all twelve granules of the frame, so it is worked out once.
  SampleCode codes[64];
  int32_t codeCount = 0;
  int32_t sharedFrom = 0;  // the codes before it have one channel each
  for (int sb = 0; sb < limit; ++sb) {
    const int readers = sb < bound ? channels : 1;
    for (int ch = 0; ch < readers; ++ch) {
      const Layer2Entry entry = table.entries[sb][alloc[ch][sb]];
      if (entry.bits == 0) continue;
      SampleCode& code = codes[codeCount++];
      code.subband = static_cast<uint8_t>(sb);
      code.bits = static_cast<uint8_t>(entry.bits);
      code.first = static_cast<uint8_t>(sb < bound ? ch : 0);
      code.last = static_cast<uint8_t>(sb < bound ? ch : channels - 1);
      code.offset = entry.d < 0 ? entry.d : 0;
      code.groups = entry.d == 3 ? grouped3 : entry.d == 5 ? grouped5 : entry.d == 9 ? grouped9 : nullptr;
      code.groupCount = static_cast<uint32_t>(entry.d > 0 ? entry.d * entry.d * entry.d : 0);
      for (int p = 0; p < 3; ++p) {
        for (int c = code.first; c <= code.last; ++c) {
          code.scales[p][c] = &multiplierByScale[scale[c][p][sb]][0];
          code.factors[p][c] = code.scales[p][c][entry.bits];
        }
      }
    }
    if (sb < bound) sharedFrom = codeCount;
  }

  // Sub-bands without codes stay zero in all three blocks for the whole frame.
  Block blocks[3] = {};
  LocalBits reader{bits.data, bits.pos * 8 + bits.bit};
  for (int granule = 0; granule < 12; ++granule) {
    const int part = granule / 4;
    requantiseCodes<false>(codes, sharedFrom, reader, part, blocks);
    requantiseCodes<true>(codes + sharedFrom, codeCount - sharedFrom, reader, part, blocks);
    for (Block& block : blocks) {
      const int outcome = outputBlock(ctx, block, sel);
      if (outcome != 1) {
        storeBits(bits, reader);
        return outcome;
      }
    }
  }
  storeBits(bits, reader);
  return 1;
}

}  // namespace kuv
