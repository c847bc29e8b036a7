#include "decoder/vbr_tag.h"

#include <cstring>

#include "decoder/frame_context.h"
#include "decoder/frame_header.h"

namespace kuv {

namespace {
bool parseXing(const uint8_t* body, int32_t bodyLength, int32_t at, VbrTag& tag) {
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
  }
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
  if (parseXing(body, bodyLength, sideInfo + (ctx.crcPresent ? 2 : 0), tag)) return true;
  // Some writers leave the CRC word out of the offset.
  if (ctx.crcPresent && parseXing(body, bodyLength, sideInfo, tag)) return true;
  return parseVbri(body, bodyLength, tag);
}

}  // namespace kuv
