#include "engine/frame_reader.h"

#include <cstring>

#include "decoder/frame_header.h"
#include "decoder/layer12.h"
#include "engine/input_stream.h"
#include "engine/stream_io.h"
#include "layer3/layer3.h"

namespace kuv {

const DecodeFrameFn frameDecoders[4] = {nullptr, decodeLayerI, decodeLayerII, decodeLayer3Frame};

namespace {

constexpr int32_t kSearchLimit = 32768;  // counted words before giving up
constexpr int32_t kResyncLimit = 32767;  // bytes shifted in before giving up

// ID3v2 tags in front of the audio are skipped by their declared size, so a
// large picture neither exhausts the header search nor yields false frames.
// Returns false when the input ends inside a tag.
bool skipId3v2Tags(InputStream& s) {
  for (;;) {
    uint8_t head[10];
    const int32_t got = streamPeek(s, 0, head, 10);
    if (got < 10 || std::memcmp(head, "ID3", 3) != 0 || head[3] == 0xFF || head[4] == 0xFF ||
        ((head[6] | head[7] | head[8] | head[9]) & 0x80) != 0) {
      return got > 0;
    }
    int64_t size = (static_cast<int64_t>(head[6]) << 21) | (head[7] << 14) | (head[8] << 7) | head[9];
    if (head[5] & 0x10) size += 10;  // footer
    if (!streamSkip(s, 10 + size)) return false;
  }
}

bool knownHeader(const InputStream& s, uint32_t word) {
  return usableBitRate(word, s.reference) &&
         (((word ^ s.previous) & kResyncMask) == 0 || ((word ^ s.reference) & kResyncMask) == 0);
}

// A header right where the next frame should start needs only to belong to
// the same stream (sync, version, layer, sampling rate) and carry a usable
// bit rate; the flags may change from frame to frame.
bool sameStream(const InputStream& s, uint32_t word) {
  return ((word ^ s.reference) & kStreamIdentityMask) == 0 && usableBitRate(word, s.reference);
}

bool confirmedByNextHeader(InputStream& s, uint32_t word) {
  const int32_t body = announcedBodyLength(word);
  if (body <= 0) return body == 0;
  uint8_t next[4];
  if (streamPeek(s, body, next, 4) < 4) return true;
  return confirmsFirstHeader(word, bigEndian32(next));
}

// A free-format header states no length: the frame ends where the next
// header of the stream begins. That header must be the stream's own (sync,
// version, layer, rate, free format), lie close enough for the frame to fit
// a store slot, padded or not, and be followed in turn by a third header at
// the same length (unless the input ends first), since the body may hold a
// word that looks like one. `word` is the header just read. Returns the
// unpadded length, header included, or 0 when it cannot be measured.
int32_t measureFreeFormat(InputStream& s, uint32_t word, int32_t layer) {
  const int32_t slot = paddingSlotBytes(layer);
  const int32_t longest = kSlotBytes + 4 - slot;  // unpadded, header included
  // Bytes after the header: the next header within reach, and a third one
  // after it.
  uint8_t ahead[2 * (kSlotBytes + 4) + 4];
  const int32_t have = streamPeek(s, 0, ahead, static_cast<int32_t>(sizeof ahead));
  auto isNext = [&](int32_t at) {
    if (at + 4 > have) return false;
    const uint32_t next = bigEndian32(ahead + at);
    return ((next ^ word) & kStreamIdentityMask) == 0 && headerBitRateIndex(next) == 0;
  };
  const int32_t firstPadding = headerPadding(word) * slot;
  // d: distance from this header to the next.
  for (int32_t d = 4 + firstPadding + 1; d - firstPadding <= longest; ++d) {
    if (!isNext(d - 4)) continue;
    const int32_t length = d - firstPadding;
    const int32_t third = d + length + headerPadding(bigEndian32(ahead + d - 4)) * slot;
    if (third > have || isNext(third - 4)) return length;
  }
  return 0;
}

enum class Found { kHeader, kEnd };

// Shifts bytes in until a plausible header turns up.
Found searchPlausible(InputStream& s, uint32_t& word) {
  int32_t counted = 0;
  for (;;) {
    const int byte = streamReadByte(s);
    if (byte < 0) return Found::kEnd;
    word = (word << 8) | static_cast<uint32_t>(byte);
    if ((word & 0xFFFF0000u) == 0xFFFF0000u) continue;
    // Once the stream is known, only its own headers can be found again.
    if (isPlausibleHeader(word) && (s.reference == 0 || ((word ^ s.reference) & kStreamIdentityMask) == 0) &&
        confirmedByNextHeader(s, word)) {
      return Found::kHeader;
    }
    if (++counted >= kSearchLimit) {
      s.error = ReadError::kNotMpeg;
      return Found::kEnd;
    }
  }
}

// Shifts bytes in until a header of the known stream turns up.
Found resynchronise(InputStream& s, uint32_t& word) {
  for (int32_t shifted = 0;; ++shifted) {
    const int byte = streamReadByte(s);
    if (byte < 0) return Found::kEnd;
    word = (word << 8) | static_cast<uint32_t>(byte);
    if (s.previous == 0) return searchPlausible(s, word);
    if (knownHeader(s, word)) return Found::kHeader;
    if (shifted + 1 >= kResyncLimit) {
      s.error = ReadError::kSyncLost;
      return Found::kEnd;
    }
  }
}

// Takes an accepted header into the context. Layer and sampling rate are
// fixed by the first header of the track; the rest, bit rate and CRC flag
// included, follows every header.
void acceptHeader(InputStream& s, FrameContext& ctx, uint32_t word) {
  FrameContext fields;
  decodeHeaderFields(word, fields);
  if (s.reference == 0) {
    s.reference = word;
    s.dataStart = streamPosition(s) - 4;
  }
  ctx.lsf = fields.lsf;
  ctx.mpeg25 = fields.mpeg25;
  if (s.previous == 0) {
    ctx.layer = fields.layer;
    ctx.sampleRateIndex = fields.sampleRateIndex;
  }
  ctx.crcPresent = fields.crcPresent;
  ctx.bitRateIndex = fields.bitRateIndex;
  ctx.padding = fields.padding;
  ctx.privateBit = fields.privateBit;
  ctx.mode = fields.mode;
  ctx.modeExtension = fields.modeExtension;
  ctx.copyFlag = fields.copyFlag;
  ctx.original = fields.original;
  ctx.emphasis = fields.emphasis;
  ctx.channels = fields.channels;
  ctx.freeFrameBytes = s.freeFrameBytes;
  s.previous = word;
}

// A free-format frame is readable once the stream's frame length is known;
// it is measured at the first free-format header that allows it.
bool freeFormatMeasured(InputStream& s, FrameContext& ctx, uint32_t word) {
  if (s.freeFrameBytes == 0) s.freeFrameBytes = measureFreeFormat(s, word, ctx.layer);
  ctx.freeFrameBytes = s.freeFrameBytes;
  return s.freeFrameBytes > 0;
}

// Routing by layer and the body length. False when the frame cannot be
// read: a reserved layer, or a body that would not fit a store slot.
bool prepareLayer(InputStream& s, FrameContext& ctx) {
  if (ctx.layer < 1 || ctx.layer > 3) return false;
  ctx.decodeFrame = frameDecoders[ctx.layer];
  const int32_t joint = ctx.mode == 1;
  if (ctx.layer == 1) {
    ctx.jointBound = joint ? 4 * ctx.modeExtension + 4 : 32;
  } else if (ctx.layer == 2) {
    if (ctx.bitRateIndex == 0) {
      // Free format: the table follows the bit rate the frame length gives.
      const int32_t kbps = static_cast<int32_t>(
          (static_cast<int64_t>(s.freeFrameBytes) * kSampleRates[ctx.sampleRateIndex] + 72000) / 144000);
      ctx.allocTable = selectLayer2TableByKbps(ctx.lsf, ctx.sampleRateIndex, kbps, ctx.channels);
    } else {
      ctx.allocTable = selectLayer2Table(ctx.lsf, ctx.sampleRateIndex, ctx.bitRateIndex, ctx.channels);
    }
    ctx.subbandLimit = kLayer2SubbandLimits[ctx.allocTable];
    ctx.jointBound = joint ? 4 * ctx.modeExtension + 4 : ctx.subbandLimit;
    if (ctx.jointBound > ctx.subbandLimit) ctx.jointBound = ctx.subbandLimit;
  } else {
    s.sideInfoLength = layer3SideInfoLength(ctx.lsf, ctx.channels) + (ctx.crcPresent ? 2 : 0);
  }
  const int32_t length = ctx.bitRateIndex == 0
                             ? freeFormatBodyLength(ctx.layer, s.freeFrameBytes, ctx.padding)
                             : frameBodyLength(ctx.layer, ctx.lsf, ctx.sampleRateIndex, ctx.bitRateIndex, ctx.padding);
  if (length <= 0 || length > kSlotBytes) return false;
  s.bodyLength = length;
  return true;
}

// Reads the body of the frame whose header was just taken into the other
// slot. False when nothing of it could be read.
bool readBody(InputStream& s) {
  FrameStore& store = s.store;
  store.previousSlot = store.currentSlot;
  store.previousLength = store.currentLength;
  store.currentSlot ^= 1;
  uint8_t* slot = store.bytes + slotStart(store.currentSlot);
  const int32_t got = streamRead(s, slot, s.bodyLength);
  // A pipe delivers the whole body or the stream has ended; a file's last
  // frame may be cut short and is completed with silence.
  if (got <= 0 || (s.isUrl && got < s.bodyLength)) {
    store.currentLength = 0;
    return false;
  }
  if (got < s.bodyLength) std::memset(slot + got, 0, static_cast<size_t>(s.bodyLength - got));
  store.currentLength = s.bodyLength;
  return true;
}

enum class Settled { kTaken, kEnd, kAsk };

// From a candidate header to one the frame can be read by: a first header
// with the reserved sampling rate sends the search on; a free-format header
// needs its length measured, else the user's answer decides (kAsk: not
// asked yet). `accepted` says whether the candidate is worth a look at all.
Settled settleHeader(InputStream& s, FrameContext& ctx, uint32_t& word, bool accepted) {
  for (;;) {
    if (!accepted) return Settled::kEnd;
    if (s.previous == 0 && headerSampleRateField(word) == 3) {
      accepted = searchPlausible(s, word) == Found::kHeader;
      continue;
    }
    acceptHeader(s, ctx, word);
    if (ctx.bitRateIndex != 0 || freeFormatMeasured(s, ctx, word)) return Settled::kTaken;
    // A free-format frame of no measurable length: the user may look for a
    // usable header. One answer holds for the whole track, so a stream of
    // such frames asks once.
    if (s.resync == 0) return Settled::kAsk;
    if (s.resync < 0) return Settled::kEnd;
    accepted = searchPlausible(s, word) == Found::kHeader;
  }
}

}  // namespace

void resetFrameState(InputStream& s) {
  clearFrameStore(s.store);
  s.current = 0;
  s.previous = 0;
  s.reference = 0;
  s.bodyLength = 0;
  s.sideInfoLength = 0;
  s.tagChecked = false;
  s.tag = VbrTag{};
  s.framesRead = 0;
  s.dataStart = 0;
  s.freeFrameBytes = 0;
  s.error = ReadError::kNone;
  s.resync = 0;
  s.asking = false;
  s.askedWord = 0;
  s.userTold = false;
  pointBitReader(s.bits, s.store, slotStart(0));
}

void answerResync(InputStream& s, bool searchOn) { s.resync = searchOn ? 1 : -1; }

ReadError takeReadError(InputStream& s) {
  const ReadError error = s.error;
  s.error = ReadError::kNone;
  return error;
}

int readFrame(InputStream& s, FrameContext& ctx) {
  ctx.bits = &s.bits;
  ctx.store = &s.store;
  for (;;) {
    uint32_t word;
    Settled settled = Settled::kTaken;
    if (s.asking) {
      // Back after the question: an unanswered one counts as No.
      s.asking = false;
      if (s.resync == 0) s.resync = -1;
      if (s.resync < 0) return 0;
      word = s.askedWord;
      ctx.headerChanged = 1;
      settled = settleHeader(s, ctx, word, searchPlausible(s, word) == Found::kHeader);
    } else {
      if (s.atStreamStart) {
        s.atStreamStart = false;
        if (!skipId3v2Tags(s)) return 0;
      }
      uint8_t head[4];
      if (streamRead(s, head, 4) < 4) return 0;
      word = bigEndian32(head);
      if (word == s.previous && s.previous != 0) {
        ctx.headerChanged = 0;
      } else {
        ctx.headerChanged = 1;
        bool accepted;
        if (s.reference == 0) {
          accepted =
              (isPlausibleHeader(word) && confirmedByNextHeader(s, word)) || searchPlausible(s, word) == Found::kHeader;
        } else if (sameStream(s, word)) {
          accepted = true;
        } else {
          accepted = resynchronise(s, word) == Found::kHeader;
        }
        settled = settleHeader(s, ctx, word, accepted);
      }
    }
    if (ctx.headerChanged) {
      if (settled == Settled::kAsk) {
        s.asking = true;
        s.askedWord = word;
        s.error = ReadError::kUnmeasurableFree;
        return 0;
      }
      if (settled == Settled::kEnd || !prepareLayer(s, ctx)) return 0;
    }
    s.current = word;

    if (!readBody(s)) return 0;
    ctx.bodyLength = s.bodyLength;
    ctx.sideInfoLength = s.sideInfoLength;
    pointBitReader(s.bits, s.store, slotStart(s.store.currentSlot));

    if (!s.tagChecked) {
      s.tagChecked = true;
      const uint8_t* body = s.store.bytes + slotStart(s.store.currentSlot);
      if (parseVbrTag(body, s.bodyLength, ctx, s.tag)) {
        // The tag frame carries no audio: the track starts with the next
        // frame, which becomes the first header of the track.
        s.previous = 0;
        s.reference = 0;
        clearFrameStore(s.store);
        continue;
      }
    }
    ++s.framesRead;
    return 1;
  }
}

}  // namespace kuv
