// Thin POSIX file access with the meanings the stream code relies on.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kuv::platform {

constexpr int kInvalidHandle = -1;

// Opens an existing file for reading without ever blocking in the open (a
// FIFO without a writer opens at once). A regular file is then read with
// plain blocking reads (sequential access advised); anything else (FIFO,
// character device, socket) stays non-blocking and is read with readPolled.
int openForRead(const std::string& path);
bool isRegularFile(int handle);
// Makes reads of a handle non-blocking, for readPolled; false on error.
bool setNonBlocking(int handle);
// How long readPolled waits at a time before it looks at the abandon flag.
constexpr int kPollSliceMs = 20;
// Reads up to n bytes from a non-blocking handle, waiting for data in
// slices of kPollSliceMs. Returns the count, 0 at the end (a FIFO without
// any writer included), -1 on an error or once *abandon (when given) is
// nonzero.
long readPolled(int handle, void* buffer, size_t n, const std::atomic<int>* abandon);
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
// Writes content beside target and renames it over it, so a crash leaves
// either the old file or the new one, never half of one. mode: the new
// file's permission bits, or -1 to let the umask decide as for any new file.
// False with errno telling why (the temporary file is removed).
bool replaceFile(const std::string& target, const std::string& content, int mode = -1);
// Absolute positioning; returns the new position or -1.
int64_t seekTo(int handle, int64_t offset);
int64_t fileSize(int handle);

}  // namespace kuv::platform
