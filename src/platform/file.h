// Thin POSIX file access with the meanings the stream code relies on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kuv::platform {

constexpr int kInvalidHandle = -1;

// Opens an existing file for reading (sequential access advised).
int openForRead(const std::string& path);
// Creates or truncates a file for writing.
int createForWrite(const std::string& path);
void closeHandle(int handle);
// Reads up to n bytes, retrying on EINTR; returns bytes read, 0 at the end,
// -1 on error. A single call may return fewer bytes than asked (pipes).
long readSome(int handle, void* buffer, size_t n);
// Reads until n bytes or the end; returns the count, -1 on error.
long readFully(int handle, void* buffer, size_t n);
// Writes all n bytes; false on error (EPIPE on a closed pipe included).
bool writeAll(int handle, const void* buffer, size_t n);
// Absolute positioning; returns the new position or -1.
int64_t seekTo(int handle, int64_t offset);
int64_t fileSize(int handle);

}  // namespace kuv::platform
