// Text from files (names, tags, playlist values) made safe to print on a
// terminal: a control character in it could move the cursor, clear the
// screen or retitle the window.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace kuv {

// The text with every control character (C0 including ESC, DEL, and the C1
// controls U+0080..U+009F) and every byte that is not part of valid UTF-8
// shown as \xNN, one escape a byte; valid UTF-8 text stays as it is. Line
// breaks are kept when asked (a message of several lines).
inline std::string terminalText(std::string_view text, bool keepLineBreaks = false) {
  std::string out;
  out.reserve(text.size());
  auto escape = [&out](unsigned char byte) {
    char code[5];
    std::snprintf(code, sizeof code, "\\x%02x", byte);
    out += code;
  };
  auto continuation = [&text](size_t at) {
    return at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80;
  };
  size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\n' && keepLineBreaks) {
      out += '\n';
      ++i;
      continue;
    }
    if (byte < 0x20 || byte == 0x7F) {
      escape(byte);
      ++i;
      continue;
    }
    if (byte < 0x80) {
      out += static_cast<char>(byte);
      ++i;
      continue;
    }
    // The length of the sequence and the range its second byte must lie in
    // (which rules out overlong forms, surrogates and code points past
    // U+10FFFF).
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (byte >= 0xC2 && byte <= 0xDF) {
      length = 2;
    } else if (byte >= 0xE0 && byte <= 0xEF) {
      length = 3;
      if (byte == 0xE0) low = 0xA0;
      if (byte == 0xED) high = 0x9F;
    } else if (byte >= 0xF0 && byte <= 0xF4) {
      length = 4;
      if (byte == 0xF0) low = 0x90;
      if (byte == 0xF4) high = 0x8F;
    }
    bool valid = length > 0 && i + 1 < text.size();
    if (valid) {
      const auto second = static_cast<unsigned char>(text[i + 1]);
      valid = second >= low && second <= high;
    }
    for (size_t k = 2; valid && k < length; ++k) valid = continuation(i + k);
    // U+0080..U+009F are controls too.
    const bool control = valid && byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F;
    if (!valid) {
      escape(byte);
      ++i;
    } else if (control) {
      for (size_t k = 0; k < length; ++k) escape(static_cast<unsigned char>(text[i + k]));
      i += length;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
  return out;
}

}  // namespace kuv
