// MPEG audio frame header fields and the tables they index.
#pragma once

#include <cstdint>

namespace kuv {

// Sampling rates by sampleRateIndex: MPEG-1, MPEG-2, MPEG 2.5.
inline constexpr int32_t kSampleRates[9] = {44100, 48000, 32000, 22050, 24000, 16000, 11025, 12000, 8000};

// Bit rate in kbit/s for (lsf, layer 1..3, index 0..15); 0 for free format
// (index 0), the forbidden index 15 and any out-of-range argument.
int32_t bitRateKbps(int32_t lsf, int32_t layer, int32_t bitRateIndex);

// Sync, a layer, a usable bit-rate index and sampling rate.
bool isPlausibleHeader(uint32_t word);
inline bool hasSyncBits(uint32_t word) { return (word & 0xFFE00000u) == 0xFFE00000u; }
inline int32_t headerBitRateIndex(uint32_t word) { return static_cast<int32_t>((word >> 12) & 15); }
inline int32_t headerLayerField(uint32_t word) { return static_cast<int32_t>((word >> 17) & 3); }
inline int32_t headerSampleRateField(uint32_t word) { return static_cast<int32_t>((word >> 10) & 3); }
inline int32_t headerPadding(uint32_t word) { return static_cast<int32_t>((word >> 9) & 1); }

inline uint32_t bigEndian32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

// Bits compared when looking for the next frame of a known stream: all but
// the bit rate (it varies in VBR streams), the protection bit (some encoders
// protect only some frames), the padding bit and the low eight bits (mode and
// flags).
constexpr uint32_t kResyncMask = 0xFFFE0D00u;
// The fields that identify a stream: sync, version, layer, sampling rate.
constexpr uint32_t kStreamIdentityMask = 0xFFFE0C00u;

// A later header of the stream that began with `reference` must not carry
// the forbidden bit rate, nor free format unless the stream is free format.
inline bool usableBitRate(uint32_t word, uint32_t reference) {
  const int32_t index = headerBitRateIndex(word);
  return index != 15 && (index != 0 || headerBitRateIndex(reference) == 0);
}

// A first header is believed only when the frame it announces ends where
// another header of the same stream begins (or where the input ends): junk
// in front of the audio holds words that look like headers.
// The body length the header announces: 0 for free format (its length is
// measured by the reader), -1 when no frame store could hold it.
int32_t announcedBodyLength(uint32_t word);
inline bool confirmsFirstHeader(uint32_t word, uint32_t following) {
  return ((following ^ word) & kStreamIdentityMask) == 0 && usableBitRate(following, word);
}

// Bytes the padding bit adds: one slot, 4 bytes in Layer I, 1 otherwise.
inline int32_t paddingSlotBytes(int32_t layer) { return layer == 1 ? 4 : 1; }

// Body bytes of a free-format frame whose unpadded length (header included)
// is frameBytes; 0 when that is unknown.
inline int32_t freeFormatBodyLength(int32_t layer, int32_t frameBytes, int32_t padding) {
  return frameBytes > 0 ? frameBytes + padding * paddingSlotBytes(layer) - 4 : 0;
}

// Layer II allocation tables, ISO 11172-3 B.2a..d and the 13818-3 LSF table.
enum Layer2Table : int32_t { kAllocA = 0, kAllocB = 1, kAllocC = 2, kAllocD = 3, kAllocLsf = 4 };
inline constexpr int32_t kLayer2SubbandLimits[5] = {27, 30, 8, 12, 30};

// The table a Layer II frame uses, by sampling rate and bit rate per channel.
Layer2Table selectLayer2Table(int32_t lsf, int32_t sampleRateIndex, int32_t bitRateIndex, int32_t channels);
// The same by the total bit rate in kbit/s (free format has no index).
Layer2Table selectLayer2TableByKbps(int32_t lsf, int32_t sampleRateIndex, int32_t kbps, int32_t channels);

// Layer III side information bytes (without a CRC word).
int32_t layer3SideInfoLength(int32_t lsf, int32_t channels);

// Body bytes after the 4-byte header for a header of this layer, rate and
// bit rate (CRC word included); 0 when the bit rate is free/forbidden.
int32_t frameBodyLength(int32_t layer, int32_t lsf, int32_t sampleRateIndex, int32_t bitRateIndex, int32_t padding);

// Decodes the fields of an accepted header word into the context. Sets every
// header field from the word; callers decide which to keep.
struct FrameContext;
void decodeHeaderFields(uint32_t word, FrameContext& ctx);

}  // namespace kuv
