// Private-profile (INI) files: the reads and writes settings and playlist
// files are made of. Section and key names match without regard to case; a
// write changes one key in place and keeps every other line of the file.
#pragma once

#include <cstdint>
#include <string>

namespace kuv::platform {

// Longest string value handed back by getProfileString.
constexpr size_t kProfileStringMax = 259;

// Decimal text with an optional minus sign (leading blanks skipped, digits up
// to the first non-digit), taken modulo 2^32 as a signed 32-bit value, so
// "4294967295" reads as -1. A missing file, section or key, or a value with
// no digits, gives defaultValue.
int32_t getProfileInt(const std::string& section, const std::string& key, int32_t defaultValue,
                      const std::string& path);

// The value of the key, cut to 259 characters; defaultValue (also cut) when
// the file, section or key is missing.
std::string getProfileString(const std::string& section, const std::string& key,
                             const std::string& defaultValue, const std::string& path);

// Sets key=value in section: replaces the key's line in place, or appends the
// key to its section, or appends the section to the file. Creates a missing
// file. Returns false (and changes nothing) when the file cannot be written.
bool writeProfileString(const std::string& section, const std::string& key, const std::string& value,
                        const std::string& path);

}  // namespace kuv::platform
