#include "decoder/vbr_tag.h"

#include <cstring>

#include "decoder/frame_context.h"
#include "decoder/frame_header.h"
#include "decoder/frame_timing.h"

namespace kuv {

namespace {

constexpr int32_t kLameTagBytes = 36;
constexpr int32_t kLameCrcAt = 34;  // the extension's CRC, its last two bytes

// CRC-16 with polynomial 0x8005, bits reflected, starting at 0: the one the
// encoders use for the extension and the music.
uint16_t crc16(uint16_t crc, const uint8_t* bytes, int32_t length) {
  for (int32_t i = 0; i < length; ++i) {
    crc = static_cast<uint16_t>(crc ^ bytes[i]);
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

// The header word the context was decoded from: the extension's CRC covers
// the header, and callers hand over only the body.
uint32_t headerWordOf(const FrameContext& ctx) {
  const uint32_t rateField = static_cast<uint32_t>(ctx.sampleRateIndex - (ctx.mpeg25 ? 6 : 3 * ctx.lsf)) & 3u;
  return 0xFFE00000u | (ctx.mpeg25 ? 0u : 1u << 20) | (ctx.lsf ? 0u : 1u << 19) |
         ((static_cast<uint32_t>(4 - ctx.layer) & 3u) << 17) | (ctx.crcPresent ? 0u : 1u << 16) |
         ((static_cast<uint32_t>(ctx.bitRateIndex) & 15u) << 12) | (rateField << 10) |
         ((static_cast<uint32_t>(ctx.padding) & 1u) << 9) | ((static_cast<uint32_t>(ctx.privateBit) & 1u) << 8) |
         ((static_cast<uint32_t>(ctx.mode) & 3u) << 6) | ((static_cast<uint32_t>(ctx.modeExtension) & 3u) << 4) |
         ((static_cast<uint32_t>(ctx.copyFlag) & 1u) << 3) | ((static_cast<uint32_t>(ctx.original) & 1u) << 2) |
         (static_cast<uint32_t>(ctx.emphasis) & 3u);
}

// LAME writes the peak as a 9.23 fixed-point number, while the published
// layout names a float; a sane peak (below 32) tells the two apart: as fixed
// point its top byte is under 0x10, as a float at least 0x30.
float peakOf(uint32_t raw) {
  if (raw < 0x10000000u) return static_cast<float>(static_cast<double>(raw) / 8388608.0);
  float value;
  std::memcpy(&value, &raw, sizeof value);
  return value >= 0.0f && value < 32.0f ? value : 0.0f;  // NaN fails both
}

// A 16-bit gain field: 3-bit name, 3-bit originator, sign, 9-bit tenths of
// a dB. Only the name the field's place expects counts as set.
bool gainOf(const uint8_t* p, uint32_t name, double& db) {
  const uint32_t field = (static_cast<uint32_t>(p[0]) << 8) | p[1];
  if ((field >> 13) != name) return false;
  const double tenths = static_cast<double>(field & 0x1FFu);
  db = (field & 0x200u) ? -tenths / 10.0 : tenths / 10.0;
  return true;
}

// An encoder name of printable characters. An old LAME (before 3.90) wrote
// only a longer version text there, no extension; an unknown encoder counts
// when the extension's CRC holds.
bool knownEncoder(const char* name, bool crcValid) {
  for (int i = 0; i < 9; ++i) {
    if (name[i] < 0x20 || name[i] > 0x7E) return false;
  }
  if (std::memcmp(name, "LAME3.", 6) == 0) {
    int32_t minor = 0;
    for (int i = 6; i < 9 && name[i] >= '0' && name[i] <= '9'; ++i) minor = minor * 10 + (name[i] - '0');
    return minor >= 90 || crcValid;
  }
  if (std::memcmp(name, "LAME", 4) == 0) return true;
  return crcValid || std::memcmp(name, "Lavc", 4) == 0 || std::memcmp(name, "Lavf", 4) == 0 ||
         std::memcmp(name, "L3.99", 5) == 0;
}

void parseLame(const uint8_t* body, int32_t bodyLength, int32_t at, const FrameContext& ctx, VbrTag& tag) {
  if (at < 0 || at + kLameTagBytes > bodyLength) return;
  const uint8_t* p = body + at;
  LameTag lame;
  std::memcpy(lame.encoder, p, 9);
  uint8_t header[4];
  const uint32_t word = headerWordOf(ctx);
  for (int i = 0; i < 4; ++i) header[i] = static_cast<uint8_t>(word >> (24 - 8 * i));
  const uint16_t crc = crc16(crc16(0, header, 4), body, at + kLameCrcAt);
  lame.crcValid = crc == ((static_cast<uint32_t>(p[kLameCrcAt]) << 8) | p[kLameCrcAt + 1]);
  if (!knownEncoder(lame.encoder, lame.crcValid)) return;
  lame.present = true;
  lame.peak = peakOf(bigEndian32(p + 11));
  lame.hasTrackGain = gainOf(p + 15, 1, lame.trackGainDb);
  lame.hasAlbumGain = gainOf(p + 17, 2, lame.albumGainDb);
  lame.encoderDelay = static_cast<int32_t>((static_cast<uint32_t>(p[21]) << 4) | (p[22] >> 4));
  lame.encoderPadding = static_cast<int32_t>((static_cast<uint32_t>(p[22] & 0x0F) << 8) | p[23]);
  // Twelve bits each cannot exceed 4095; what they can do is claim more
  // samples than the counted frames hold.
  const int64_t counted = static_cast<int64_t>(tag.frames) * samplesPerFrame(ctx);
  lame.delayUsable = tag.frames == 0 || lame.encoderDelay + lame.encoderPadding <= counted;
  tag.lame = lame;
}

bool parseXing(const uint8_t* body, int32_t bodyLength, int32_t at, const FrameContext& ctx, VbrTag& tag) {
  if (at < 0 || at + 8 > bodyLength) return false;
  const uint8_t* p = body + at;
  const bool xing = std::memcmp(p, "Xing", 4) == 0;
  if (!xing && std::memcmp(p, "Info", 4) != 0) return false;
  const uint32_t flags = bigEndian32(p + 4);
  int32_t next = at + 8;
  VbrTag found;
  found.kind = xing ? kXingTag : kInfoTag;
  if (flags & 1) {
    if (next + 4 > bodyLength) return false;
    found.frames = bigEndian32(body + next);
    next += 4;
  }
  if (flags & 2) {
    if (next + 4 > bodyLength) return false;
    found.bytes = bigEndian32(body + next);
    next += 4;
  }
  if (flags & 4) {
    if (next + 100 > bodyLength) return false;
    std::memcpy(found.toc, body + next, 100);
    // A table must not decrease; a broken one is ignored, not trusted.
    found.hasToc = true;
    for (int i = 1; i < 100; ++i) {
      if (found.toc[i] < found.toc[i - 1]) found.hasToc = false;
    }
    next += 100;
  }
  if (flags & 8) next += 4;  // quality
  parseLame(body, bodyLength, next, ctx, found);
  tag = found;
  return true;
}

bool parseVbri(const uint8_t* body, int32_t bodyLength, VbrTag& tag) {
  // Fixed place: 32 bytes after the header.
  constexpr int32_t at = 32;
  if (at + 18 > bodyLength || std::memcmp(body + at, "VBRI", 4) != 0) return false;
  VbrTag found;
  found.kind = kVbriTag;
  found.bytes = bigEndian32(body + at + 10);
  found.frames = bigEndian32(body + at + 14);
  tag = found;
  return true;
}
}  // namespace

bool parseVbrTag(const uint8_t* body, int32_t bodyLength, const FrameContext& ctx, VbrTag& tag) {
  tag = VbrTag{};
  if (body == nullptr || bodyLength <= 0 || ctx.layer != 3) return false;
  const int32_t sideInfo = layer3SideInfoLength(ctx.lsf, ctx.channels);
  if (parseXing(body, bodyLength, sideInfo + (ctx.crcPresent ? 2 : 0), ctx, tag)) return true;
  // Some writers (LAME) leave the CRC word out of the offset.
  if (ctx.crcPresent && parseXing(body, bodyLength, sideInfo, ctx, tag)) return true;
  return parseVbri(body, bodyLength, tag);
}

}  // namespace kuv
