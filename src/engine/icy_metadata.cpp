#include "engine/icy_metadata.h"

#include <algorithm>

namespace kuv {

namespace {

constexpr std::string_view kTitleKey = "StreamTitle='";

// Length of the valid UTF-8 sequence at `at` (0 when there is none):
// shortest form only, no surrogates, nothing past U+10FFFF.
size_t utf8Length(std::string_view s, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  size_t length;
  uint32_t code;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (at + length > s.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
      (length == 4 && (code < 0x10000 || code > 0x10FFFF)))
    return 0;
  return length;
}

bool validUtf8(std::string_view s) {
  for (size_t at = 0; at < s.size();) {
    const size_t n = utf8Length(s, at);
    if (n == 0) return false;
    at += n;
  }
  return true;
}

// C0, DEL and the C1 controls (U+0080..U+009F, two bytes C2 80..C2 9F).
bool controlAt(std::string_view s, size_t at, size_t length) {
  const auto lead = static_cast<unsigned char>(s[at]);
  if (length == 1) return lead < 0x20 || lead == 0x7F;
  return length == 2 && lead == 0xC2 && static_cast<unsigned char>(s[at + 1]) < 0xA0;
}

std::string latin1ToUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size() * 2);
  for (char c : s) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return out;
}

}  // namespace

uint32_t parseIcyMetaInt(std::string_view value) {
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
    value.remove_suffix(1);
  if (value.empty() || value.size() > 8) return 0;
  uint32_t n = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + static_cast<uint32_t>(c - '0');
  }
  return n <= kIcyMaxInterval ? n : 0;
}

void startIcyDemuxer(IcyDemuxer& d, uint32_t interval) {
  d.interval = interval <= kIcyMaxInterval ? interval : 0;
  d.audioLeft = d.interval;
  d.metaLeft = 0;
  d.inBlock = false;
  d.block.clear();
}

void feedIcyDemuxer(IcyDemuxer& d, const char* data, size_t n, std::string& audio, std::vector<std::string>& blocks) {
  if (d.interval == 0) {
    audio.append(data, n);
    return;
  }
  while (n > 0) {
    if (d.inBlock) {
      const size_t take = std::min<size_t>(n, d.metaLeft);
      d.block.append(data, take);
      data += take;
      n -= take;
      d.metaLeft -= static_cast<uint32_t>(take);
      if (d.metaLeft > 0) continue;
      blocks.push_back(std::move(d.block));
      d.block.clear();
      d.inBlock = false;
      d.audioLeft = d.interval;
      continue;
    }
    if (d.audioLeft == 0) {
      // The length byte: 0 is an empty block, the usual case between changes.
      d.metaLeft = static_cast<uint32_t>(static_cast<unsigned char>(*data)) * 16;
      ++data;
      --n;
      if (d.metaLeft == 0) {
        d.audioLeft = d.interval;
      } else {
        d.inBlock = true;
        d.block.clear();
      }
      continue;
    }
    const size_t take = std::min<size_t>(n, d.audioLeft);
    audio.append(data, take);
    data += take;
    n -= take;
    d.audioLeft -= static_cast<uint32_t>(take);
  }
}

bool applyIcyMetadata(std::string_view block, std::string& title) {
  // The block is padded with zero bytes to its length.
  const size_t used = block.find('\0');
  if (used != std::string_view::npos) block = block.substr(0, used);
  const size_t key = block.find(kTitleKey);
  if (key == std::string_view::npos) return false;
  const size_t start = key + kTitleKey.size();
  size_t end = block.find("';", start);
  if (end == std::string_view::npos) {
    // A block cut short: up to its last quote, else all of it.
    end = block.rfind('\'');
    if (end == std::string_view::npos || end < start) end = block.size();
  }
  std::string value = safeStreamText(block.substr(start, end - start));
  if (value == title) return false;
  title = std::move(value);
  return true;
}

std::string safeStreamText(std::string_view raw) {
  std::string utf8;
  if (!validUtf8(raw)) {
    utf8 = latin1ToUtf8(raw);
    raw = utf8;
  }
  std::string out;
  out.reserve(raw.size());
  for (size_t at = 0; at < raw.size();) {
    const size_t n = utf8Length(raw, at);
    if (!controlAt(raw, at, n)) out.append(raw.substr(at, n));
    at += n;
  }
  const size_t first = out.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  out.erase(0, first);
  out.erase(out.find_last_not_of(' ') + 1);
  if (out.size() > kIcyMaxTextBytes) {
    size_t cut = kIcyMaxTextBytes;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
    out.erase(out.find_last_not_of(' ') + 1);
  }
  return out;
}

}  // namespace kuv
