#include "platform/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/file.h"
#include "platform/paths.h"

namespace kuv::platform {

namespace {

// A settings file this big is not ours; refusing it keeps a stray huge file
// from eating memory, and a refused file is never rewritten.
constexpr size_t kMaxFileBytes = 64u * 1024u * 1024u;

enum class ReadStatus { Missing, Ok, Failed };

// Reads a regular file whole. O_NONBLOCK and the S_ISREG check keep a FIFO or
// device given as the path from hanging us.
ReadStatus readWholeFile(const std::string& path, std::string& out, struct stat& info) {
  out.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return (errno == ENOENT || errno == ENOTDIR) ? ReadStatus::Missing : ReadStatus::Failed;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || static_cast<uint64_t>(info.st_size) > kMaxFileBytes) {
    ::close(fd);
    return ReadStatus::Failed;
  }
  out.reserve(static_cast<size_t>(info.st_size));
  char buffer[65536];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 || out.size() + static_cast<size_t>(got) > kMaxFileBytes) {
      ::close(fd);
      out.clear();
      return ReadStatus::Failed;
    }
    if (got == 0) break;
    out.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  return ReadStatus::Ok;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowerName(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lowerAscii(c);
  return out;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  return true;
}

enum class LineKind { Blank, Section, Key, Other };

// One line of the file: [begin, end) is its text without the line break,
// [end, next) the break itself ("\n", "\r\n" or nothing on the last line).
struct Line {
  size_t begin = 0;
  size_t end = 0;
  size_t next = 0;
  LineKind kind = LineKind::Other;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key value, trimmed
  size_t indent = 0;       // blanks before a key name
};

// A file may begin with a UTF-8 byte-order mark (editors on other systems
// add one); it is no part of the first line's text, but a rewrite keeps it.
size_t textStart(const std::string& data) { return data.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0; }

// The line that begins at pos.
Line lineAt(const std::string& data, size_t pos) {
  Line line;
  line.begin = pos;
  size_t newline = data.find('\n', pos);
  if (newline == std::string::npos) {
    line.end = line.next = data.size();
  } else {
    line.end = newline;
    line.next = newline + 1;
    if (line.end > line.begin && data[line.end - 1] == '\r') --line.end;
  }
  const size_t from = pos == 0 ? std::min(textStart(data), line.end) : pos;
  std::string_view raw(data.data() + from, line.end - from);
  std::string_view text = trim(raw);
  if (text.empty()) {
    line.kind = LineKind::Blank;
  } else if (text.front() == '[') {
    size_t close = text.find(']');
    if (close != std::string_view::npos) {
      line.kind = LineKind::Section;
      line.name = trim(text.substr(1, close - 1));
    }
  } else if (text.front() != ';' && text.front() != '#') {
    size_t eq = text.find('=');
    if (eq != std::string_view::npos) {
      line.kind = LineKind::Key;
      line.name = trim(text.substr(0, eq));
      line.value = trim(text.substr(eq + 1));
      // From the line's start, so a rewrite of the first line keeps the mark.
      line.indent = static_cast<size_t>(text.data() - (data.data() + line.begin));
    }
  }
  return line;
}

std::vector<Line> splitLines(const std::string& data) {
  std::vector<Line> lines;
  for (size_t pos = 0; pos < data.size();) {
    lines.push_back(lineAt(data, pos));
    pos = lines.back().next;
  }
  return lines;
}

// Where a section sits among the lines.
struct Location {
  size_t section = SIZE_MAX;  // index of the header line
  size_t sectionEnd = 0;      // index of the next header, or lines.size()
};

Location locate(const std::vector<Line>& lines, std::string_view section) {
  Location at;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind == LineKind::Section && sameName(lines[i].name, section)) {
      at.section = i;
      break;
    }
  }
  if (at.section == SIZE_MAX) return at;
  at.sectionEnd = lines.size();
  for (size_t i = at.section + 1; i < lines.size(); ++i) {
    if (lines[i].kind == LineKind::Section) {
      at.sectionEnd = i;
      break;
    }
  }
  return at;
}

std::string cutString(std::string_view s) { return std::string(s.substr(0, kProfileStringMax)); }

// Quoted values come back without their quotes, as Windows hands them out.
std::string_view unquote(std::string_view v) {
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
  return v;
}

// A name we could not read back as written (line breaks, '=' in a key, ']'
// in a section, a key that would parse as a header or comment) is refused.
bool validNames(std::string_view section, std::string_view key) {
  if (section.empty() || key.empty()) return false;
  for (char c : section)
    if (c == '\n' || c == '\r' || c == '\0' || c == ']') return false;
  for (char c : key)
    if (c == '\n' || c == '\r' || c == '\0' || c == '=') return false;
  return key.front() != '[' && key.front() != ';' && key.front() != '#';
}

}  // namespace

std::vector<std::optional<std::string>> getProfileStrings(const std::string& section,
                                                          const std::vector<std::string>& keys,
                                                          const std::string& path) {
  std::vector<std::optional<std::string>> values(keys.size());
  std::string_view wantSection = trim(section);
  if (wantSection.empty() || keys.empty()) return values;
  // Each distinct name (without regard to case) gets one slot.
  std::unordered_map<std::string, size_t> slotOf;
  std::vector<size_t> keySlot(keys.size(), SIZE_MAX);
  size_t longest = 0;
  for (size_t i = 0; i < keys.size(); ++i) {
    std::string_view name = trim(keys[i]);
    if (name.empty()) continue;
    keySlot[i] = slotOf.emplace(lowerName(name), slotOf.size()).first->second;
    longest = std::max(longest, name.size());
  }
  if (slotOf.empty()) return values;

  std::string data;
  struct stat info;
  if (readWholeFile(path, data, info) != ReadStatus::Ok) return values;
  // One pass: find the first section of the name, then take the first line
  // of each wanted key up to the next header.
  std::vector<std::optional<std::string>> found(slotOf.size());
  size_t left = found.size();
  bool inSection = false;
  for (size_t pos = 0; pos < data.size() && left > 0;) {
    const Line line = lineAt(data, pos);
    pos = line.next;
    if (line.kind == LineKind::Section) {
      if (inSection) break;
      inSection = sameName(line.name, wantSection);
      continue;
    }
    if (!inSection || line.kind != LineKind::Key || line.name.size() > longest) continue;
    auto slot = slotOf.find(lowerName(line.name));
    if (slot == slotOf.end() || found[slot->second]) continue;
    found[slot->second] = cutString(unquote(line.value));
    --left;
  }
  for (size_t i = 0; i < keys.size(); ++i)
    if (keySlot[i] != SIZE_MAX) values[i] = found[keySlot[i]];
  return values;
}

int32_t parseProfileInt(const std::string& text, int32_t defaultValue) {
  const std::string_view value = std::string_view(text).substr(0, kProfileStringMax);
  size_t i = 0;
  while (i < value.size() && isBlank(value[i])) ++i;
  bool negative = i < value.size() && value[i] == '-';
  if (negative) ++i;
  if (i >= value.size() || value[i] < '0' || value[i] > '9') return defaultValue;
  // Unsigned arithmetic wraps modulo 2^32 without overflow trouble.
  uint32_t result = 0;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i)
    result = result * 10u + static_cast<uint32_t>(value[i] - '0');
  if (negative) result = 0u - result;
  return static_cast<int32_t>(result);
}

int32_t getProfileInt(const std::string& section, const std::string& key, int32_t defaultValue,
                      const std::string& path) {
  const std::optional<std::string> value = getProfileStrings(section, {key}, path).front();
  return value ? parseProfileInt(*value, defaultValue) : defaultValue;
}

std::string getProfileString(const std::string& section, const std::string& key, const std::string& defaultValue,
                             const std::string& path) {
  const std::optional<std::string> value = getProfileStrings(section, {key}, path).front();
  return value ? *value : cutString(defaultValue);
}

bool writeProfileString(const std::string& section, const std::string& key, const std::string& value,
                        const std::string& path) {
  return writeProfileStrings(section, {{key, value}}, path);
}

std::vector<std::pair<std::string, std::string>> readProfileSection(const std::string& section, const std::string& path,
                                                                    size_t maxValueLength) {
  std::string data;
  struct stat info;
  if (trim(section).empty() || readWholeFile(path, data, info) != ReadStatus::Ok) return {};
  return readProfileSectionText(section, data, maxValueLength);
}

std::vector<std::pair<std::string, std::string>> readProfileSectionText(const std::string& section,
                                                                        const std::string& data,
                                                                        size_t maxValueLength) {
  std::vector<std::pair<std::string, std::string>> keys;
  std::string_view wantSection = trim(section);
  if (wantSection.empty()) return keys;
  std::vector<Line> lines = splitLines(data);
  Location at = locate(lines, wantSection);
  if (at.section == SIZE_MAX) return keys;
  for (size_t i = at.section + 1; i < at.sectionEnd; ++i) {
    if (lines[i].kind != LineKind::Key) continue;
    std::string_view v = unquote(lines[i].value);
    keys.emplace_back(std::string(lines[i].name), std::string(v.substr(0, maxValueLength)));
  }
  return keys;
}

bool writeProfileStrings(const std::string& section, const std::vector<std::pair<std::string, std::string>>& pairs,
                         const std::string& path) {
  std::string_view wantSection = trim(section);
  if (path.empty() || pairs.empty()) return false;
  // Keys as they will be written, each with its last value, in first-write order.
  std::vector<std::pair<std::string_view, std::string_view>> writes;
  std::unordered_map<std::string, size_t> writeIndex;
  for (const auto& [key, value] : pairs) {
    std::string_view wantKey = trim(key);
    if (!validNames(wantSection, wantKey)) return false;
    // A value holding a line break would add lines of its own; keep its first line.
    std::string_view newValue = value;
    newValue = newValue.substr(0, newValue.find_first_of(std::string_view("\r\n\0", 3)));
    auto [slot, added] = writeIndex.emplace(lowerName(wantKey), writes.size());
    if (added)
      writes.emplace_back(wantKey, newValue);
    else
      writes[slot->second].second = newValue;
  }

  std::string target = path;
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    // Renaming over a link would replace the link; write the file it names.
    char* real = realpath(path.c_str(), nullptr);
    if (!real) return false;
    target = real;
    std::free(real);
  }

  std::string data;
  ReadStatus status = readWholeFile(target, data, info);
  if (status == ReadStatus::Failed) return false;
  bool existed = status == ReadStatus::Ok;
  // rename() only needs the folder writable; a read-only file must stay as it is.
  if (existed && access(target.c_str(), W_OK) != 0) return false;

  // New lines follow the file's own line breaks.
  size_t firstBreak = data.find('\n');
  std::string_view newline = (firstBreak != std::string::npos && firstBreak > 0 && data[firstBreak - 1] == '\r')
                                 ? std::string_view("\r\n")
                                 : std::string_view("\n");
  auto appendKey = [&](std::string& out, std::string_view key, std::string_view value) {
    out.append(key);
    out += '=';
    out.append(value);
  };

  std::vector<Line> lines = splitLines(data);
  Location at = locate(lines, wantSection);
  std::string content;
  size_t extra = 0;
  for (const auto& [key, value] : writes) extra += key.size() + value.size() + 3;
  content.reserve(data.size() + wantSection.size() + extra + 8);
  if (at.section != SIZE_MAX) {
    // Existing keys change in place (the first of a name counts); the others
    // follow the section's last non-blank line.
    std::vector<size_t> lineWrite(lines.size(), SIZE_MAX);
    std::vector<bool> placed(writes.size(), false);
    size_t last = at.section;
    for (size_t i = at.section + 1; i < at.sectionEnd; ++i) {
      if (lines[i].kind != LineKind::Blank) last = i;
      if (lines[i].kind != LineKind::Key) continue;
      auto found = writeIndex.find(lowerName(lines[i].name));
      if (found == writeIndex.end() || placed[found->second]) continue;
      placed[found->second] = true;
      lineWrite[i] = found->second;
    }
    for (size_t i = 0; i < lines.size(); ++i) {
      const Line& line = lines[i];
      if (lineWrite[i] != SIZE_MAX) {
        content.append(data, line.begin, line.indent);
        appendKey(content, line.name, writes[lineWrite[i]].second);
        content.append(data, line.end, line.next - line.end);
      } else {
        content.append(data, line.begin, line.next - line.begin);
      }
      if (i != last) continue;
      bool breakNeeded = line.next == line.end;
      for (size_t w = 0; w < writes.size(); ++w) {
        if (placed[w]) continue;
        if (breakNeeded) content.append(newline);
        appendKey(content, writes[w].first, writes[w].second);
        content.append(newline);
        breakNeeded = false;
      }
    }
  } else {
    content = data;
    // A file holding only a byte-order mark gets no empty first line.
    if (content.size() > textStart(content) && content.back() != '\n') content.append(newline);
    content += '[';
    content.append(wantSection);
    content += ']';
    content.append(newline);
    for (const auto& [key, value] : writes) {
      appendKey(content, key, value);
      content.append(newline);
    }
  }
  if (existed && content == data) return true;
  return replaceFile(target, content, existed ? static_cast<int>(info.st_mode & 07777) : -1);
}

}  // namespace kuv::platform
