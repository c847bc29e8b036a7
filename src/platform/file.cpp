#include "platform/file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace kuv::platform {

int openForRead(const std::string& path) {
  // A blocking open of a FIFO waits for a writer, for ever if none comes.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return kInvalidHandle;
  struct stat st;
  // A folder opens fine on Linux but is no input.
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return kInvalidHandle;
  }
  if (S_ISREG(st.st_mode)) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
      ::close(fd);
      return kInvalidHandle;
    }
    (void)posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  return fd;
}

bool isRegularFile(int handle) {
  struct stat st;
  return fstat(handle, &st) == 0 && S_ISREG(st.st_mode);
}

bool setNonBlocking(int handle) {
  const int flags = fcntl(handle, F_GETFL);
  return flags >= 0 && fcntl(handle, F_SETFL, flags | O_NONBLOCK) == 0;
}

long readPolled(int handle, void* buffer, size_t n, const std::atomic<int>* abandon) {
  for (;;) {
    if (abandon && abandon->load(std::memory_order_relaxed) != 0) return -1;
    // A FIFO whose writers are all gone, or that never had one, reads 0.
    const ssize_t got = ::read(handle, buffer, n);
    if (got >= 0) return static_cast<long>(got);
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    pollfd wait = {handle, POLLIN, 0};
    if (::poll(&wait, 1, kPollSliceMs) < 0 && errno != EINTR) return -1;
  }
}

int createForWrite(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  return fd < 0 ? kInvalidHandle : fd;
}

void closeHandle(int handle) {
  if (handle >= 0) ::close(handle);
}

long readSome(int handle, void* buffer, size_t n) {
  for (;;) {
    ssize_t got = ::read(handle, buffer, n);
    if (got >= 0) return static_cast<long>(got);
    if (errno != EINTR) return -1;
  }
}

long readFully(int handle, void* buffer, size_t n) {
  size_t total = 0;
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (total < n) {
    long got = readSome(handle, bytes + total, n - total);
    if (got < 0) return total ? static_cast<long>(total) : -1;
    if (got == 0) break;
    total += static_cast<size_t>(got);
  }
  return static_cast<long>(total);
}

bool writeAll(int handle, const void* buffer, size_t n) {
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  while (n > 0) {
    ssize_t put = ::write(handle, bytes, n);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += put;
    n -= static_cast<size_t>(put);
  }
  return true;
}

int64_t seekTo(int handle, int64_t offset) { return ::lseek(handle, offset, SEEK_SET); }

int64_t fileSize(int handle) {
  struct stat st;
  return fstat(handle, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

namespace {
std::atomic<unsigned> tempCounter{0};
}  // namespace

bool replaceFile(const std::string& target, const std::string& content, int mode) {
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = folder + ".kuv-" + std::to_string(getpid()) + "-" + std::to_string(tempCounter++);
    // 0666 lets the umask decide the mode of a new file, as for any file we create.
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  bool ok = (mode < 0 || fchmod(fd, static_cast<mode_t>(mode) & 07777) == 0) &&
            writeAll(fd, content.data(), content.size()) && fsync(fd) == 0;
  int error = ok ? 0 : errno;
  if (::close(fd) != 0 && ok) ok = false, error = errno;
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) ok = false, error = errno;
  if (!ok) {
    ::unlink(temp.c_str());
    errno = error;
  }
  return ok;
}

}  // namespace kuv::platform
