#include "output/clock_pcm.h"

#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

namespace kuv::test {

namespace {

using Clock = std::chrono::steady_clock;

// One clock PCM at a time, as the sound device opens one at a time. ALSA
// calls the callbacks from the device thread; tests read from theirs.
struct ClockState {
  std::mutex lock;
  ClockPcmOptions options;
  ClockPcmCounts counts;
  size_t frameBytes = 0;
  snd_pcm_uframes_t bufferFrames = 0;
  unsigned rate = 0;
  std::vector<unsigned char> ring;
  bool running = false;
  bool xrun = false;
  Clock::time_point since{};
  uint64_t hwAtSince = 0;
  uint64_t hw = 0;
  std::string played;
  // Bytes played by each earlier open since the options were set.
  bool opened = false;
  std::vector<size_t> earlier;
};

ClockState state;

// Moves the play position to now; true when it ran past the written data.
bool advanceLocked(snd_pcm_ioplug_t* io) {
  if (!state.running || state.rate == 0) return false;
  const double seconds = std::chrono::duration<double>(Clock::now() - state.since).count();
  uint64_t target = state.hwAtSince + static_cast<uint64_t>(seconds * state.rate * state.options.speed);
  const uint64_t written = io->appl_ptr;
  const bool ranDry = target > written;
  if (ranDry) target = written;
  for (; state.hw < target; ++state.hw) {
    const size_t at = static_cast<size_t>(state.hw % state.bufferFrames) * state.frameBytes;
    state.played.append(reinterpret_cast<const char*>(state.ring.data() + at), state.frameBytes);
  }
  state.counts.playedBytes = state.played.size();
  if (ranDry && !state.options.reportsUnderrun) {
    // Plays silence while starved and goes on with whatever comes next.
    state.since = Clock::now();
    state.hwAtSince = state.hw;
    return false;
  }
  return ranDry;
}

int clockStart(snd_pcm_ioplug_t*) {
  std::lock_guard<std::mutex> guard(state.lock);
  state.running = true;
  state.since = Clock::now();
  state.hwAtSince = state.hw;
  return 0;
}

int clockStop(snd_pcm_ioplug_t* io) {
  std::lock_guard<std::mutex> guard(state.lock);
  advanceLocked(io);
  state.running = false;
  ++state.counts.stops;
  return 0;
}

snd_pcm_sframes_t clockPointer(snd_pcm_ioplug_t* io) {
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.counts.gone) return -ENODEV;
  if (!state.xrun && advanceLocked(io)) {
    state.xrun = true;
    state.running = false;
    ++state.counts.underruns;
  }
  if (state.xrun) return -EPIPE;
  return static_cast<snd_pcm_sframes_t>(state.hw);
}

int clockDelay(snd_pcm_ioplug_t* io, snd_pcm_sframes_t* delay) {
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.counts.gone) return -ENODEV;
  if (!state.xrun && advanceLocked(io)) {
    state.xrun = true;
    state.running = false;
    ++state.counts.underruns;
  }
  if (state.xrun) return -EPIPE;
  *delay = static_cast<snd_pcm_sframes_t>(io->appl_ptr - state.hw) + state.options.extraDelayFrames;
  return 0;
}

snd_pcm_sframes_t clockTransfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas, snd_pcm_uframes_t offset,
                                snd_pcm_uframes_t size) {
  std::lock_guard<std::mutex> guard(state.lock);
  const long failAfter = state.options.failAfterFrames;
  if (failAfter >= 0 && io->appl_ptr + size > static_cast<uint64_t>(failAfter)) {
    const uint64_t left = io->appl_ptr < static_cast<uint64_t>(failAfter) ? failAfter - io->appl_ptr : 0;
    if (left == 0) {
      state.counts.gone = true;
      return -ENODEV;
    }
    size = static_cast<snd_pcm_uframes_t>(left);
  }
  const unsigned char* from =
      static_cast<const unsigned char*>(areas[0].addr) + (areas[0].first + areas[0].step * offset) / 8;
  uint64_t to = io->appl_ptr;
  for (snd_pcm_uframes_t i = 0; i < size; ++i, ++to) {
    const size_t at = static_cast<size_t>(to % state.bufferFrames) * state.frameBytes;
    std::memcpy(state.ring.data() + at, from + i * state.frameBytes, state.frameBytes);
  }
  state.counts.receivedBytes += size * state.frameBytes;
  return static_cast<snd_pcm_sframes_t>(size);
}

int clockPause(snd_pcm_ioplug_t* io, int enable) {
  std::lock_guard<std::mutex> guard(state.lock);
  if (enable != 0) {
    advanceLocked(io);
    state.running = false;
    ++state.counts.pauses;
  } else {
    state.running = true;
    state.since = Clock::now();
    state.hwAtSince = state.hw;
  }
  return 0;
}

int clockPrepare(snd_pcm_ioplug_t*) {
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.counts.gone) return -ENODEV;
  state.running = false;
  state.xrun = false;
  state.hw = 0;
  return 0;
}

int clockHwParams(snd_pcm_ioplug_t* io, snd_pcm_hw_params_t*) {
  std::lock_guard<std::mutex> guard(state.lock);
  state.frameBytes = static_cast<size_t>(snd_pcm_format_physical_width(io->format) / 8) * io->channels;
  state.bufferFrames = io->buffer_size;
  state.rate = io->rate;
  state.ring.assign(state.bufferFrames * state.frameBytes, 0);
  return 0;
}

int clockHwFree(snd_pcm_ioplug_t*) {
  std::lock_guard<std::mutex> guard(state.lock);
  return state.counts.gone ? -ENODEV : 0;
}

int clockClose(snd_pcm_ioplug_t* io) {
  {
    std::lock_guard<std::mutex> guard(state.lock);
    state.counts.open = false;
  }
  close(io->poll_fd);
  delete io;
  return 0;
}

snd_pcm_ioplug_callback_t makeCallbacks(bool canPause) {
  snd_pcm_ioplug_callback_t callbacks{};
  callbacks.start = clockStart;
  callbacks.stop = clockStop;
  callbacks.pointer = clockPointer;
  callbacks.transfer = clockTransfer;
  callbacks.close = clockClose;
  callbacks.hw_params = clockHwParams;
  callbacks.hw_free = clockHwFree;
  callbacks.prepare = clockPrepare;
  callbacks.delay = clockDelay;
  if (canPause) callbacks.pause = clockPause;
  return callbacks;
}

const snd_pcm_ioplug_callback_t kWithPause = makeCallbacks(true);
const snd_pcm_ioplug_callback_t kWithoutPause = makeCallbacks(false);

}  // namespace

int openClockPcm(snd_pcm_t** pcm, const char*, int mode) {
  bool canPause = true;
  {
    std::lock_guard<std::mutex> guard(state.lock);
    canPause = state.options.canPause;
    if (state.opened) state.earlier.push_back(state.played.size());
    state.opened = true;
    state.counts = ClockPcmCounts{};
    state.counts.lastMode = mode;
    state.played.clear();
    state.running = false;
    state.xrun = false;
    state.hw = 0;
  }
  auto* io = new snd_pcm_ioplug_t{};
  io->version = SND_PCM_IOPLUG_VERSION;
  io->name = "KUV test clock";
  // Positions up to ALSA's boundary, so a whole ring played between two
  // looks is not mistaken for none.
  io->flags = SND_PCM_IOPLUG_FLAG_BOUNDARY_WA | SND_PCM_IOPLUG_FLAG_MONOTONIC;
  io->poll_fd = eventfd(1, EFD_CLOEXEC | EFD_NONBLOCK);
  io->poll_events = POLLOUT;
  io->callback = canPause ? &kWithPause : &kWithoutPause;
  int err = snd_pcm_ioplug_create(io, "kuvclock", SND_PCM_STREAM_PLAYBACK, mode & SND_PCM_NONBLOCK);
  if (err < 0) {
    close(io->poll_fd);
    delete io;
    return err;
  }
  static const unsigned int access[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
  static const unsigned int formats[] = {SND_PCM_FORMAT_S16_LE, SND_PCM_FORMAT_U8};
  err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_ACCESS, 1, access);
  if (err >= 0) err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_FORMAT, 2, formats);
  if (err >= 0) err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_CHANNELS, 1, 2);
  if (err >= 0) err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_RATE, 8000, 48000);
  if (err >= 0) err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64, 1 << 20);
  if (err >= 0) err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIODS, 2, 64);
  if (err < 0) {
    snd_pcm_ioplug_delete(io);  // calls clockClose
    return err;
  }
  {
    std::lock_guard<std::mutex> guard(state.lock);
    state.counts.open = true;
  }
  *pcm = io->pcm;
  return 0;
}

void setClockPcmOptions(const ClockPcmOptions& options) {
  std::lock_guard<std::mutex> guard(state.lock);
  state.options = options;
  state.opened = false;
  state.earlier.clear();
}

std::vector<size_t> clockPcmEarlierPlayedBytes() {
  std::lock_guard<std::mutex> guard(state.lock);
  return state.earlier;
}

std::string clockPcmPlayed() {
  std::lock_guard<std::mutex> guard(state.lock);
  return state.played;
}

ClockPcmCounts clockPcmCounts() {
  std::lock_guard<std::mutex> guard(state.lock);
  return state.counts;
}

}  // namespace kuv::test
