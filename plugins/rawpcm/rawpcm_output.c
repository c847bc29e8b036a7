/*
 * rawpcm: the output plug-in KUV ships. It writes the PCM it is given, as
 * is, into $KUV_RAWPCM_FILE or else ~/kuv-output.raw. The file may be a
 * FIFO, so another program can take the audio as it is decoded; that
 * program must be reading before playback starts.
 *
 * The decoder thread opens, writes and closes; getPosition and isOpen may
 * come from any thread, so the state they read is atomic and no lock is
 * ever held across a write that can block on a FIFO.
 */
#define _POSIX_C_SOURCE 200809L

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "kuv_output_plugin.h"

#ifndef PATH_MAX
#define PATH_MAX 4096
#endif

enum { kMaxVolume = 63 };

static atomic_int outputFd = -1;
static atomic_llong bytesWritten = 0;
static atomic_llong bytesPerSecond = 0;
static atomic_llong baseMilliseconds = 0;
static atomic_int volume = kMaxVolume;

/* Fills path with the file to write; 0 when there is no usable name. */
static int outputPath(char* path, size_t size) {
  const char* chosen = getenv("KUV_RAWPCM_FILE");
  if (chosen != NULL && chosen[0] != '\0') {
    return snprintf(path, size, "%s", chosen) < (int)size;
  }
  const char* home = getenv("HOME");
  if (home == NULL || home[0] == '\0') {
    const struct passwd* user = getpwuid(getuid());
    home = user != NULL ? user->pw_dir : NULL;
  }
  if (home == NULL || home[0] == '\0') return 0;
  const size_t length = strlen(home);
  const char* separator = home[length - 1] == '/' ? "" : "/";
  return snprintf(path, size, "%s%skuv-output.raw", home, separator) < (int)size;
}

/* Writes all of it, riding out interrupted and short writes. A FIFO whose
   reader has gone would raise SIGPIPE and end the whole player; it is held
   off in this thread and, if it was ours, taken back so the write just
   fails. */
static int writeAll(int fd, const unsigned char* data, size_t length) {
  sigset_t pipeOnly, previous, pending;
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  sigpending(&pending);
  const int wasPending = sigismember(&pending, SIGPIPE) == 1;
  const int masked = pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous) == 0;

  int ok = 1;
  int brokenPipe = 0;
  while (length > 0) {
    const ssize_t done = write(fd, data, length);
    if (done < 0) {
      if (errno == EINTR) continue;
      brokenPipe = errno == EPIPE;
      ok = 0;
      break;
    }
    data += done;
    length -= (size_t)done;
  }

  if (masked) {
    if (brokenPipe && !wasPending) {
      const struct timespec now = {0, 0};
      while (sigtimedwait(&pipeOnly, NULL, &now) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &previous, NULL);
  }
  return ok;
}

static int32_t rawInit(void) { return 1; }

static int32_t rawClose(int32_t discard) {
  (void)discard; /* nothing is queued: every write went straight out */
  const int fd = atomic_exchange(&outputFd, -1);
  if (fd < 0) return 0;
  close(fd);
  return 1;
}

static int32_t rawShutdown(void) {
  rawClose(1);
  return 1;
}

static int32_t rawOpen(int32_t sampleRate, int32_t channels, int32_t eightBit) {
  rawClose(1);
  if (sampleRate <= 0 || channels <= 0) {
    fprintf(stderr, "rawpcm: cannot write %d Hz, %d channels\n", (int)sampleRate, (int)channels);
    return 0;
  }
  char path[PATH_MAX];
  if (!outputPath(path, sizeof path)) {
    fprintf(stderr, "rawpcm: no file to write (set KUV_RAWPCM_FILE or HOME)\n");
    return 0;
  }
  /* Opened non-blocking: a FIFO nobody reads would otherwise hold the
     decoder thread in open() for good, deaf to Stop and quit. Without a
     reader that is an open failure; a reader may come and play again. */
  int fd;
  do {
    fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (errno == ENXIO) {
      fprintf(stderr, "rawpcm: cannot open %s: it is a FIFO that no program is reading\n", path);
    } else {
      fprintf(stderr, "rawpcm: cannot open %s: %s\n", path, strerror(errno));
    }
    return 0;
  }
  /* Writes block again, so a FIFO's reader sets the pace. */
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
    fprintf(stderr, "rawpcm: cannot set up %s: %s\n", path, strerror(errno));
    close(fd);
    return 0;
  }
  const long long bytesPerSample = eightBit == 1 ? 1 : 2;
  atomic_store(&bytesPerSecond, (long long)sampleRate * channels * bytesPerSample);
  atomic_store(&bytesWritten, 0);
  atomic_store(&baseMilliseconds, 0);
  atomic_store(&outputFd, fd);
  return 1;
}

static int32_t rawIsOpen(void) { return atomic_load(&outputFd) >= 0; }

static int32_t rawWrite(int32_t length, const void* data) {
  if (length <= 0) return length;
  const int fd = atomic_load(&outputFd);
  if (fd < 0 || data == NULL) return -1;
  if (!writeAll(fd, (const unsigned char*)data, (size_t)length)) return -1;
  atomic_fetch_add(&bytesWritten, length);
  return length;
}

static int32_t rawNothing(void) { return 1; }

static int32_t rawGetPosition(void) {
  if (atomic_load(&outputFd) < 0) return 0;
  const long long perSecond = atomic_load(&bytesPerSecond);
  if (perSecond <= 0) return 0;
  const long long position = atomic_load(&baseMilliseconds) + atomic_load(&bytesWritten) * 1000 / perSecond;
  return position > INT32_MAX ? INT32_MAX : (int32_t)position;
}

static int32_t rawSetPosition(int32_t seconds) {
  atomic_store(&baseMilliseconds, seconds > 0 ? (long long)seconds * 1000 : 0);
  atomic_store(&bytesWritten, 0);
  return 1;
}

static int32_t rawGetVolume(void) { return atomic_load(&outputFd) >= 0 ? atomic_load(&volume) : -1; }

static int32_t rawSetVolume(int32_t level) {
  /* Only remembered: raw PCM is written untouched. */
  atomic_store(&volume, level < 0 ? 0 : level > kMaxVolume ? kMaxVolume : level);
  return 1;
}

static int32_t rawNoBuffers(void) { return 0; }

static OutputSystem rawSystem = {
    rawInit,    rawShutdown,    rawOpen,        rawClose,     rawIsOpen,    rawWrite,     rawNothing,   rawNothing,
    rawNothing, rawGetPosition, rawSetPosition, rawGetVolume, rawSetVolume, rawNoBuffers, rawNoBuffers,
};

static OutputDescription rawDescription = {"Raw PCM file writer (KUV)"};

KUV_PLUGIN_EXPORT OutputSystem* GetOutputSystem(void) { return &rawSystem; }

KUV_PLUGIN_EXPORT OutputDescription* GetOutputDesc(void) { return &rawDescription; }
