// KUVCurrentFile: a small named block of shared memory that holds the path
// of the track that started last, for any program of the user's to read by
// name (shm_open("/KUVCurrentFile"), 261 bytes).
#pragma once

#include <cstddef>
#include <string_view>

namespace kuv {

constexpr const char* kCurrentFileName = "/KUVCurrentFile";
constexpr size_t kCurrentFileBytes = 261;
constexpr const char* kSharedMemoryErrorText =
    "Error Inititalizing Shared Memory,\nAlthough KUV will function correctly 'plugins' may not...";
constexpr const char* kSharedMemoryErrorTitle = "NON FATAL Error...";

// Creates (or opens, when another kuv made it) the mapping and maps it for
// the whole run; false when either fails, and publishing then does nothing.
// The name is for tests, which must not share the real one.
bool createCurrentFileMapping(const char* name = kCurrentFileName);
// The path and its NUL at the start, cut to 260 bytes (never within a
// character); bytes after the NUL stay as they were.
void publishCurrentFile(std::string_view path);
// Unmaps it and removes the name, which POSIX would otherwise keep after
// the program ends.
void closeCurrentFileMapping();

}  // namespace kuv
