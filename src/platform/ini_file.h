// Private-profile (INI) files: the reads and writes settings and playlist
// files are made of. Section and key names match without regard to case; a
// write changes one key in place and keeps every other line of the file. A
// UTF-8 byte-order mark at the start of a file is skipped and kept.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kuv::platform {

// Longest string value handed back by getProfileString.
constexpr size_t kProfileStringMax = 259;

// Decimal text with an optional minus sign (leading blanks skipped, digits up
// to the first non-digit), taken modulo 2^32 as a signed 32-bit value, so
// "4294967295" reads as -1. A missing file, section or key, or a value with
// no digits, gives defaultValue.
int32_t getProfileInt(const std::string& section, const std::string& key, int32_t defaultValue,
                      const std::string& path);

// The integer reading of getProfileInt applied to a value already read.
int32_t parseProfileInt(const std::string& value, int32_t defaultValue);

// Many keys of one section from one read of the file: element i is the value
// of keys[i] as getProfileString gives it, or nothing when the file, section
// or key is missing. Only the first section of the name and the first line of
// each key count. Costs one pass over the file however many keys are asked.
std::vector<std::optional<std::string>> getProfileStrings(const std::string& section,
                                                          const std::vector<std::string>& keys,
                                                          const std::string& path);

// The value of the key, cut to 259 characters; defaultValue (also cut) when
// the file, section or key is missing.
std::string getProfileString(const std::string& section, const std::string& key, const std::string& defaultValue,
                             const std::string& path);

// Sets key=value in section: replaces the key's line in place, or appends the
// key to its section, or appends the section to the file. Creates a missing
// file. Returns false (and changes nothing) when the file cannot be written.
bool writeProfileString(const std::string& section, const std::string& key, const std::string& value,
                        const std::string& path);

// Every key of a section in file order, values unquoted and cut to
// maxValueLength. Empty when the file or section is missing.
std::vector<std::pair<std::string, std::string>> readProfileSection(const std::string& section, const std::string& path,
                                                                    size_t maxValueLength = kProfileStringMax);
// The same, of INI text already read (a playlist fetched over the network).
std::vector<std::pair<std::string, std::string>> readProfileSectionText(const std::string& section,
                                                                        const std::string& data,
                                                                        size_t maxValueLength = kProfileStringMax);

// Several writes to one section in one rewrite of the file, with the same
// result as writeProfileString called for each pair in order.
bool writeProfileStrings(const std::string& section, const std::vector<std::pair<std::string, std::string>>& pairs,
                         const std::string& path);

}  // namespace kuv::platform
