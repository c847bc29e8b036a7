// Shoutcast/Icecast in-band metadata: with an interval N (the icy-metaint
// header), every N bytes of audio are followed by one length byte L and
// L x 16 bytes of text such as "StreamTitle='...';". The demultiplexer takes
// the body in pieces as they arrive, split anywhere, and separates the two.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kuv {

// An interval past this is no server's: the header is taken as garbage.
constexpr uint32_t kIcyMaxInterval = 1u << 20;
// A block is at most 255 x 16 bytes.
constexpr size_t kIcyMaxBlockBytes = 255 * 16;
// Longest station name or title kept, in bytes of UTF-8.
constexpr size_t kIcyMaxTextBytes = 255;

// The interval an icy-metaint value names; 0 (no metadata) for anything
// but a decimal number from 1 to kIcyMaxInterval.
uint32_t parseIcyMetaInt(std::string_view value);

struct IcyDemuxer {
  uint32_t interval = 0;   // 0: the body is all audio
  uint32_t audioLeft = 0;  // audio bytes before the next length byte
  uint32_t metaLeft = 0;   // bytes of the current block still to come
  bool inBlock = false;
  std::string block;  // the current block so far
};

void startIcyDemuxer(IcyDemuxer& d, uint32_t interval);

// Takes the next piece of the body: its audio is appended to `audio`, each
// metadata block completed in it (non-empty ones only) to `blocks`, in order.
void feedIcyDemuxer(IcyDemuxer& d, const char* data, size_t n, std::string& audio, std::vector<std::string>& blocks);

// Applies a block to the title: StreamTitle='...'; sets it (the value ends
// at "';", so a title may hold apostrophes), an empty one clears it, a block
// without one leaves it. True when the title changed.
bool applyIcyMetadata(std::string_view block, std::string& title);

// Text from a server made safe to show: control characters dropped, valid
// UTF-8 kept, anything else read as Latin-1; at most kIcyMaxTextBytes,
// never cut inside a character; outer blanks trimmed.
std::string safeStreamText(std::string_view raw);

}  // namespace kuv
