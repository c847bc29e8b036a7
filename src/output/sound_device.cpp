// The sound device: a waveOut-style ring of ten buffers played through an
// ALSA PCM. write queues a buffer; a device thread feeds queued buffers to
// ALSA in order and returns each one (its completion notice) only once ALSA's
// delay shows its last frame has been heard, so the position follows the
// speaker rather than ALSA's ring.
#include "output/sound_device.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "config/settings.h"
#include "platform/message_box.h"
#include "platform/message_queue.h"

namespace kuv {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr unsigned kBoxStyle = platform::MB_OK | platform::MB_ICONWARNING | platform::MB_SETFOREGROUND;
// The buffer-done message of waveOut callbacks, reused for our notices.
constexpr uint32_t kBufferDone = 0x3BD;
constexpr int32_t kPrimeWrites = 3;
// About 150 ms in four periods: short enough that pause and flush act at
// once, long enough to ride out a busy decoder.
constexpr unsigned kBufferTimeUs = 150000;
constexpr unsigned kPeriodsPerBuffer = 4;
constexpr int64_t kMinSleepMs = 2;
constexpr int64_t kMaxSleepMs = 20;
constexpr auto kIdleWait = milliseconds(100);
// A device that takes no frame for this long while we have data is gone;
// failing it ends every wait on it.
constexpr auto kStallLimit = std::chrono::seconds(5);
// Some PCMs never report a delay of zero; what was written is heard anyway
// once the delay it stood for has passed, plus this.
constexpr auto kDrainGrace = milliseconds(1000);
constexpr int kCloseAttempts = 3;
constexpr uint32_t kUnityGain = 0xFFFF;
constexpr int32_t kMaxRate = 768000;
constexpr int32_t kMaxChannels = 8;

// How the device thread holds ALSA while the device is primed or paused.
enum class Held { None, Idle, Paused, Dropped };

struct Device {
  std::mutex life;  // open, close, init and shutdown one at a time
  std::mutex lock;  // everything below that is not atomic
  std::condition_variable wake;     // to the device thread
  std::condition_variable changed;  // to callers: served requests, returned buffers, an idle writer

  unsigned char* data[kSoundBufferCount] = {};
  int32_t length[kSoundBufferCount] = {};
  uint64_t startFrame[kSoundBufferCount] = {};
  uint64_t endFrame[kSoundBufferCount] = {};

  // Buffers handed to the device, oldest first, until their notice. The
  // first sentCount of them are all in ALSA; of the next, sendOffset bytes.
  int32_t queue[kSoundBufferCount] = {};
  int32_t queueHead = 0;
  int32_t queueCount = 0;
  int32_t sentCount = 0;
  int32_t sendOffset = 0;

  // Set by open and close only (under `life`); the device thread alone
  // calls ALSA while it runs.
  snd_pcm_t* pcm = nullptr;
  std::thread thread;
  std::thread noticeThread;
  platform::MessageQueue noticeQueue;
  int32_t callbackMode = 0;
  bool canPause = false;
  uint32_t rate = 0;
  uint32_t blockAlign = 0;
  bool eightBit = false;
  snd_pcm_uframes_t bufferFrames = 0;
  snd_pcm_uframes_t periodFrames = 0;
  // The device thread's own: samples at the current gain on their way to
  // ALSA, one period at a time. Allocated at open, so a volume change is
  // heard once ALSA's short ring has played, not the ten queued buffers.
  unsigned char* scratch = nullptr;
  snd_pcm_uframes_t scratchFrames = 0;

  bool running = false;  // a device is open
  bool threadAlive = false;
  bool primed = false;
  bool paused = false;
  bool closing = false;
  bool quit = false;
  uint64_t dropAsked = 0;
  uint64_t dropDone = 0;
  uint64_t syncAsked = 0;
  uint64_t syncDone = 0;

  // The device thread's account of the stream. Frames count on across drops
  // and rewinds, so buffer ends stay comparable with what was heard.
  Held held = Held::None;
  uint64_t framesWritten = 0;
  uint64_t framesPlayed = 0;
  Clock::time_point lastWrite{};
  uint64_t delayAtWrite = 0;
  bool stalling = false;
  Clock::time_point stallSince{};

  int32_t writeIndex = 0;
  int32_t primeCount = 0;

  std::atomic<int32_t> isOpen{0};
  std::atomic<int32_t> failed{0};
  std::atomic<int32_t> freeCount{kSoundBufferCount};
  std::atomic<int32_t> busy{0};
  std::atomic<int32_t> pollMs{46};
  std::atomic<uint32_t> avgBytesPerSec{0};
  std::atomic<uint64_t> bytesPlayed{0};
  std::atomic<uint32_t> gain{kUnityGain};
  std::atomic<uint64_t> noticesPosted{0};
  std::atomic<uint64_t> noticesDone{0};
  std::atomic<SoundDevicePcmOpener> opener{nullptr};
};

Device dev;

void ignoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

// ALSA prints its own complaints on stderr; ours go into message boxes.
void silenceAlsa() {
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(ignoreAlsaMessage); });
}

std::string errorText(int err) {
  const char* text = err < 0 ? snd_strerror(err) : nullptr;
  return text != nullptr && *text != '\0' ? std::string(text) : std::string("Unknown error");
}

void warn(const std::string& text, const char* title) { platform::messageBox(text, title, kBoxStyle); }

}  // namespace

// The system's reason alone ("No such file or directory") tells a user
// nothing: say which device it was and what to look at.
std::string openFailureText(const std::string& reason, int32_t deviceNumber, const std::string& pcmName,
                            bool noSoundCard) {
  std::string device = deviceNumber == -1 ? std::string("the default device") : "device " + std::to_string(deviceNumber);
  device += pcmName.empty() ? std::string(" (no such device)") : " (ALSA \"" + pcmName + "\")";
  std::string text = reason + "\n\nSound device: " + device +
                     ".\nCheck that it is connected and not held by another program, or choose another device "
                     "(WinMMOutputDev in kuv.ini; kuv-decode --list-devices lists them).";
  // On a machine without any card no device choice helps; the wave-file
  // output still plays the file, into a file.
  if (noSoundCard)
    text += "\n\nNo sound card was found. The sound can go to a WAV file instead: "
            "set AudioOutputSystem=1 in kuv.ini (kuv-decode: -o FILE.wav).";
  return text;
}

namespace {

// The n-th playback PCM among ALSA's name hints (those not marked input-only).
bool playbackHint(int32_t n, std::string* name, std::string* description) {
  if (n < 0) return false;
  silenceAlsa();
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) < 0 || hints == nullptr) return false;
  bool found = false;
  int32_t index = 0;
  for (void** hint = hints; *hint != nullptr && !found; ++hint) {
    char* hintName = snd_device_name_get_hint(*hint, "NAME");
    char* ioid = snd_device_name_get_hint(*hint, "IOID");
    const bool playback = hintName != nullptr && (ioid == nullptr || std::strcmp(ioid, "Input") != 0);
    if (playback && index++ == n) {
      found = true;
      *name = hintName;
      char* desc = snd_device_name_get_hint(*hint, "DESC");
      description->clear();
      for (const char* c = desc; c != nullptr && *c != '\0'; ++c) {
        if (*c == '\n')
          description->append(" - ");
        else
          description->push_back(*c);
      }
      std::free(desc);
    }
    std::free(hintName);
    std::free(ioid);
  }
  snd_device_name_free_hint(hints);
  return found;
}

// --- Completion notices (lock held) ---------------------------------------

void noticeLocked(int32_t length) {
  if (dev.callbackMode == 1) {
    dev.noticesPosted.fetch_add(1);
    if (dev.noticeQueue.post(kBufferDone, 0, length)) return;
    // A refused post would lose the buffer for good: deliver it here.
    dev.noticesPosted.fetch_sub(1);
  }
  dev.bytesPlayed.fetch_add(static_cast<uint64_t>(length));
  dev.freeCount.fetch_add(1);
}

int32_t frontLocked() { return dev.queue[dev.queueHead]; }

bool queuedLocked(int32_t index) {
  for (int32_t i = 0; i < dev.queueCount; ++i) {
    if (dev.queue[(dev.queueHead + i) % kSoundBufferCount] == index) return true;
  }
  return false;
}

int32_t popFrontLocked() {
  const int32_t index = frontLocked();
  dev.queueHead = (dev.queueHead + 1) % kSoundBufferCount;
  --dev.queueCount;
  if (dev.sentCount > 0)
    --dev.sentCount;
  else
    dev.sendOffset = 0;
  return index;
}

// Dropped, failed or reset: every queued buffer comes back through the same
// notice as a played one, as waveOutReset returns them.
void returnAllLocked() {
  while (dev.queueCount > 0) noticeLocked(dev.length[popFrontLocked()]);
  dev.sentCount = 0;
  dev.sendOffset = 0;
  dev.framesPlayed = dev.framesWritten;
  dev.changed.notify_all();
}

void completeUpToLocked(uint64_t played) {
  bool any = false;
  while (dev.sentCount > 0 && dev.endFrame[frontLocked()] <= played) {
    noticeLocked(dev.length[popFrontLocked()]);
    any = true;
  }
  if (any) dev.changed.notify_all();
}

// After ALSA's ring was dropped: everything up to `played` was heard, the
// rest is sent again from there.
void rewindLocked(uint64_t played) {
  played = std::min(std::max(played, dev.framesPlayed), dev.framesWritten);
  completeUpToLocked(played);
  if (dev.queueCount > 0 && (dev.sentCount > 0 || dev.sendOffset > 0)) {
    dev.sendOffset = static_cast<int32_t>((played - dev.startFrame[frontLocked()]) * dev.blockAlign);
  }
  dev.sentCount = 0;
  dev.framesWritten = played;
  dev.framesPlayed = played;
}

// The gain word scales samples as w / 0xFFFF, truncating toward zero.
void scaleByGain(unsigned char* to, const unsigned char* from, int32_t bytes, bool eightBit, uint32_t w) {
  const int64_t scale = w;
  if (eightBit) {
    for (int32_t i = 0; i < bytes; ++i) {
      to[i] = static_cast<unsigned char>(128 + (static_cast<int64_t>(from[i]) - 128) * scale / 0xFFFF);
    }
    return;
  }
  int32_t i = 0;
  for (; i + 1 < bytes; i += 2) {
    const int16_t sample = static_cast<int16_t>(from[i] | (from[i + 1] << 8));
    const int64_t scaled = sample * scale / 0xFFFF;
    const uint16_t bits = static_cast<uint16_t>(scaled);
    to[i] = static_cast<unsigned char>(bits & 0xFF);
    to[i + 1] = static_cast<unsigned char>(bits >> 8);
  }
  if (i < bytes) to[i] = from[i];
}

// --- The device thread -----------------------------------------------------

uint64_t lagOf(snd_pcm_sframes_t delay) {
  return std::min<uint64_t>(delay > 0 ? static_cast<uint64_t>(delay) : 0, dev.framesWritten);
}

void failLocked(std::unique_lock<std::mutex>& guard, snd_pcm_t* pcm) {
  dev.failed.store(1);
  guard.unlock();
  snd_pcm_drop(pcm);
  guard.lock();
  returnAllLocked();
  dev.held = Held::None;
}

void holdLocked(std::unique_lock<std::mutex>& guard, snd_pcm_t* pcm) {
  const bool canPause = dev.canPause;
  guard.unlock();
  Held kind = Held::Idle;
  snd_pcm_sframes_t delay = 0;
  int err = 0;
  if (snd_pcm_state(pcm) == SND_PCM_STATE_RUNNING) {
    if (canPause && snd_pcm_pause(pcm, 1) == 0) {
      kind = Held::Paused;
    } else {
      // No pause in this PCM: keep what was not heard yet and send it again
      // at resume. The few frames played between reading the delay and the
      // drop are heard twice, which beats losing them.
      if (snd_pcm_delay(pcm, &delay) < 0) delay = 0;
      snd_pcm_drop(pcm);
      err = snd_pcm_prepare(pcm);
      kind = Held::Dropped;
    }
  } else if (snd_pcm_delay(pcm, &delay) < 0) {
    // Ran dry: all of it was heard.
    delay = 0;
    err = snd_pcm_prepare(pcm);
  }
  guard.lock();
  if (err < 0) {
    failLocked(guard, pcm);
    return;
  }
  const uint64_t played = dev.framesWritten - lagOf(delay);
  if (kind == Held::Dropped) {
    rewindLocked(played);
  } else if (kind == Held::Idle) {
    dev.framesPlayed = std::max(dev.framesPlayed, played);
    completeUpToLocked(dev.framesPlayed);
  }
  dev.held = kind;
}

void releaseLocked(std::unique_lock<std::mutex>& guard, snd_pcm_t* pcm) {
  const Held kind = dev.held;
  dev.held = Held::None;
  dev.stalling = false;
  dev.lastWrite = Clock::now();
  dev.delayAtWrite = dev.framesWritten - dev.framesPlayed;
  if (kind != Held::Paused) return;
  guard.unlock();
  snd_pcm_sframes_t delay = 0;
  int err = 0;
  bool dropped = false;
  if (snd_pcm_pause(pcm, 0) < 0) {
    // The stream left the pause (suspend, xrun): go on from what was heard.
    if (snd_pcm_delay(pcm, &delay) < 0) delay = 0;
    snd_pcm_drop(pcm);
    err = snd_pcm_prepare(pcm);
    dropped = true;
  }
  guard.lock();
  if (err < 0) {
    failLocked(guard, pcm);
    return;
  }
  if (dropped) rewindLocked(dev.framesWritten - lagOf(delay));
}

// One round of feeding ALSA and delivering notices for what was heard;
// sleeps when there is nothing to do yet.
void feedLocked(std::unique_lock<std::mutex>& guard, snd_pcm_t* pcm) {
  const int32_t blockAlign = static_cast<int32_t>(dev.blockAlign);
  // A buffer without a whole frame left is fully sent (a stray partial frame
  // at its end is never played).
  while (dev.sentCount < dev.queueCount) {
    const int32_t index = dev.queue[(dev.queueHead + dev.sentCount) % kSoundBufferCount];
    if (dev.sendOffset == 0) dev.startFrame[index] = dev.framesWritten;
    if (dev.sendOffset + blockAlign <= dev.length[index]) break;
    dev.endFrame[index] = dev.framesWritten;
    ++dev.sentCount;
    dev.sendOffset = 0;
  }
  int32_t index = -1;
  const unsigned char* from = nullptr;
  snd_pcm_uframes_t frames = 0;
  if (dev.sentCount < dev.queueCount) {
    index = dev.queue[(dev.queueHead + dev.sentCount) % kSoundBufferCount];
    from = dev.data[index] + dev.sendOffset;
    frames = static_cast<snd_pcm_uframes_t>((dev.length[index] - dev.sendOffset) / blockAlign);
    frames = std::min(frames, dev.scratchFrames);
  }
  unsigned char* const scratch = dev.scratch;
  const bool eightBit = dev.eightBit;
  guard.unlock();

  int err = 0;
  snd_pcm_sframes_t wrote = 0;
  if (frames > 0) {
    const snd_pcm_sframes_t room = snd_pcm_avail_update(pcm);
    if (room < 0) {
      err = static_cast<int>(room);
    } else if (room > 0) {
      const snd_pcm_uframes_t count = std::min(static_cast<snd_pcm_uframes_t>(room), frames);
      // The gain of this moment, so what ALSA gets next already has it.
      const uint32_t gain = dev.gain.load();
      const unsigned char* out = from;
      if (gain != kUnityGain) {
        scaleByGain(scratch, from, static_cast<int32_t>(count) * blockAlign, eightBit, gain);
        out = scratch;
      }
      wrote = snd_pcm_writei(pcm, out, count);
      if (wrote < 0) {
        err = static_cast<int>(wrote);
        wrote = 0;
      }
    }
  }
  snd_pcm_sframes_t delay = 0;
  bool delayKnown = false;
  if (err == -EAGAIN || err == -EINTR) err = 0;
  if (err == 0) {
    err = snd_pcm_delay(pcm, &delay);
    delayKnown = err == 0;
  }
  if (err == -EPIPE || err == -ESTRPIPE) {
    // Ran dry or was suspended: what was in ALSA is over either way.
    err = snd_pcm_recover(pcm, err, 1);
    delay = 0;
    delayKnown = err == 0;
  } else if (err == -EAGAIN || err == -EINTR) {
    err = 0;
  }
  guard.lock();
  if (err < 0) {
    failLocked(guard, pcm);
    return;
  }

  const auto now = Clock::now();
  if (wrote > 0) {
    dev.sendOffset += static_cast<int32_t>(wrote) * blockAlign;
    dev.framesWritten += static_cast<uint64_t>(wrote);
    if (dev.sendOffset + blockAlign > dev.length[index]) {
      dev.endFrame[index] = dev.framesWritten;
      ++dev.sentCount;
      dev.sendOffset = 0;
    }
    dev.lastWrite = now;
    dev.delayAtWrite = delayKnown ? lagOf(delay) : dev.bufferFrames;
    dev.stalling = false;
  }
  if (delayKnown) dev.framesPlayed = std::max(dev.framesPlayed, dev.framesWritten - lagOf(delay));
  const bool moreToSend = dev.sentCount < dev.queueCount;
  const auto drainTime = milliseconds(static_cast<int64_t>(dev.delayAtWrite * 1000 / dev.rate)) + kDrainGrace;
  if (!moreToSend && dev.framesPlayed < dev.framesWritten && now - dev.lastWrite > drainTime) {
    dev.framesPlayed = dev.framesWritten;
  }
  completeUpToLocked(dev.framesPlayed);

  if (moreToSend && wrote == 0) {
    if (!dev.stalling) {
      dev.stalling = true;
      dev.stallSince = now;
    } else if (now - dev.stallSince > kStallLimit) {
      failLocked(guard, pcm);
      return;
    }
  }
  if (moreToSend && wrote > 0) return;  // there may be room for more
  if (dev.queueCount == 0) {
    dev.wake.wait_for(guard, kIdleWait);
    return;
  }
  // Sleep until about half a period has room, or the next buffer's end is heard.
  uint64_t waitFrames = dev.periodFrames / 2;
  if (!moreToSend && dev.sentCount > 0) waitFrames = dev.endFrame[frontLocked()] - dev.framesPlayed;
  const int64_t ms = std::clamp(static_cast<int64_t>(waitFrames * 1000 / dev.rate), kMinSleepMs, kMaxSleepMs);
  dev.wake.wait_for(guard, milliseconds(ms));
}

void deviceThreadMain() {
  std::unique_lock<std::mutex> guard(dev.lock);
  snd_pcm_t* const pcm = dev.pcm;
  dev.lastWrite = Clock::now();
  for (;;) {
    const uint64_t syncSeen = dev.syncAsked;
    if (dev.dropDone != dev.dropAsked) {
      const uint64_t asked = dev.dropAsked;
      if (dev.failed.load() == 0) {
        guard.unlock();
        snd_pcm_drop(pcm);
        const int err = snd_pcm_prepare(pcm);
        guard.lock();
        if (err < 0) dev.failed.store(1);
      }
      returnAllLocked();
      dev.held = Held::None;
      dev.dropDone = asked;
      dev.changed.notify_all();
      continue;
    }
    // While closing nothing holds the device, so close(0) can play out.
    const bool hold = (dev.primed || dev.paused) && !dev.closing;
    if (dev.failed.load() == 0) {
      if (hold && dev.held == Held::None) {
        holdLocked(guard, pcm);
        continue;
      }
      if (!hold && dev.held != Held::None) {
        releaseLocked(guard, pcm);
        continue;
      }
    }
    if (dev.syncDone != syncSeen) {
      dev.syncDone = syncSeen;
      dev.changed.notify_all();
    }
    if (dev.quit) break;
    if (dev.failed.load() != 0 || hold) {
      dev.wake.wait_for(guard, kIdleWait);
      continue;
    }
    feedLocked(guard, pcm);
  }
  dev.threadAlive = false;
  dev.dropDone = dev.dropAsked;
  dev.syncDone = dev.syncAsked;
  dev.changed.notify_all();
}

// WinMMCallback 1: notices reach the counters through this thread, as
// waveOut's CALLBACK_THREAD delivers them.
void noticeThreadMain() {
  platform::ThreadMessage message;
  while (dev.noticeQueue.get(&message)) {
    if (message.message != kBufferDone) continue;
    dev.bytesPlayed.fetch_add(static_cast<uint64_t>(message.lParam));
    dev.freeCount.fetch_add(1);
    dev.noticesDone.fetch_add(1);
    { std::lock_guard<std::mutex> pairing(dev.lock); }  // a waiter tests under the lock, then sleeps
    dev.changed.notify_all();
  }
  dev.noticeQueue.close();
}

void stopNoticeThread() {
  platform::postRetry(dev.noticeQueue, platform::WM_QUIT);
  if (dev.noticeThread.joinable()) dev.noticeThread.join();
}

// --- Opening and closing ---------------------------------------------------

struct PcmSetup {
  bool canPause = false;
  snd_pcm_uframes_t bufferFrames = 0;
  snd_pcm_uframes_t periodFrames = 0;
};

int configurePcm(snd_pcm_t* pcm, uint32_t rate, uint32_t channels, bool eightBit, bool exact, PcmSetup* setup) {
  snd_pcm_hw_params_t* hw = nullptr;
  snd_pcm_hw_params_alloca(&hw);
  int err = snd_pcm_hw_params_any(pcm, hw);
  if (err >= 0) err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
  if (err >= 0) err = snd_pcm_hw_params_set_format(pcm, hw, eightBit ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE);
  if (err >= 0) err = snd_pcm_hw_params_set_channels(pcm, hw, channels);
  if (err >= 0) err = snd_pcm_hw_params_set_rate_resample(pcm, hw, exact ? 0 : 1);
  // The exact rate always: a near one would play at the wrong pitch.
  if (err >= 0) err = snd_pcm_hw_params_set_rate(pcm, hw, rate, 0);
  if (err < 0) return err;
  // Near values: the device may round them, hw_params has the last word.
  unsigned bufferUs = kBufferTimeUs;
  snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &bufferUs, nullptr);
  unsigned periodUs = bufferUs / kPeriodsPerBuffer;
  snd_pcm_hw_params_set_period_time_near(pcm, hw, &periodUs, nullptr);
  err = snd_pcm_hw_params(pcm, hw);
  if (err < 0) return err;
  setup->canPause = snd_pcm_hw_params_can_pause(hw) != 0;
  err = snd_pcm_get_params(pcm, &setup->bufferFrames, &setup->periodFrames);
  if (err < 0) return err;
  snd_pcm_sw_params_t* sw = nullptr;
  snd_pcm_sw_params_alloca(&sw);
  err = snd_pcm_sw_params_current(pcm, sw);
  // Start at the first frame: the device thread writes as much as fits at
  // once anyway, and a higher threshold could leave a short ending unplayed.
  if (err >= 0) err = snd_pcm_sw_params_set_start_threshold(pcm, sw, 1);
  if (err >= 0) err = snd_pcm_sw_params_set_avail_min(pcm, sw, setup->periodFrames);
  if (err >= 0) err = snd_pcm_sw_params(pcm, sw);
  if (err >= 0) err = snd_pcm_prepare(pcm);
  return err;
}

void closePcm(snd_pcm_t* pcm, bool failed) {
  // Everything was heard or dropped by now.
  snd_pcm_drop(pcm);
  // A device that failed is gone or broken: the player has already said
  // so once, and asking the user about each step of letting go of it would
  // only hold up the close. The handle is freed all the same.
  if (failed) {
    snd_pcm_close(pcm);
    return;
  }
  // snd_pcm_close frees the handle even when it reports an error, so only
  // the release of the hardware before it is tried again.
  for (int attempt = 0; attempt < kCloseAttempts; ++attempt) {
    const int err = snd_pcm_hw_free(pcm);
    if (err >= 0) break;
    warn(errorText(err), "waveOutClose");
  }
  const int err = snd_pcm_close(pcm);
  if (err < 0) warn(errorText(err), "waveOutClose");
}

// Called with `life` held and `guard` on dev.lock.
int32_t closeLocked(std::unique_lock<std::mutex>& guard, int32_t discard) {
  if (!dev.running) return 0;
  dev.closing = true;
  if (discard != 0) ++dev.dropAsked;
  dev.wake.notify_all();
  const auto poll = milliseconds(dev.pollMs.load());
  // Ends: buffers are heard, dropped, or returned when the device fails.
  while (dev.freeCount.load() < kSoundBufferCount) dev.changed.wait_for(guard, poll);
  dev.quit = true;
  dev.wake.notify_all();
  guard.unlock();
  dev.thread.join();
  closePcm(dev.pcm, dev.failed.load() != 0);
  if (dev.callbackMode == 1) stopNoticeThread();
  guard.lock();
  delete[] dev.scratch;
  dev.scratch = nullptr;
  dev.scratchFrames = 0;
  dev.pcm = nullptr;
  dev.running = false;
  dev.closing = false;
  dev.quit = false;
  dev.primed = false;
  dev.paused = false;
  dev.isOpen.store(0);
  return 1;
}

// Asks the device thread to drop ALSA's ring and return every queued buffer,
// and waits until it has.
void dropLocked(std::unique_lock<std::mutex>& guard) {
  if (!dev.threadAlive || dev.quit) return;
  const uint64_t mine = ++dev.dropAsked;
  dev.wake.notify_all();
  dev.changed.wait(guard, [mine] { return dev.dropDone >= mine || !dev.threadAlive; });
}

void setPaused(bool paused) {
  std::unique_lock<std::mutex> guard(dev.lock);
  if (!dev.running || !dev.threadAlive) return;
  dev.paused = paused;
  const uint64_t mine = ++dev.syncAsked;
  dev.wake.notify_all();
  dev.changed.wait(guard, [mine] { return dev.syncDone >= mine || !dev.threadAlive; });
}

}  // namespace

int32_t soundDeviceInit() {
  std::lock_guard<std::mutex> life(dev.life);
  std::lock_guard<std::mutex> guard(dev.lock);
  if (dev.data[0] != nullptr) return 1;
  for (int32_t i = 0; i < kSoundBufferCount; ++i) {
    dev.data[i] = new (std::nothrow) unsigned char[kSoundBufferBytes]();
    if (dev.data[i] == nullptr) {
      for (int32_t j = 0; j < i; ++j) {
        delete[] dev.data[j];
        dev.data[j] = nullptr;
      }
      return 0;
    }
  }
  return 1;
}

int32_t soundDeviceShutdown() {
  std::lock_guard<std::mutex> life(dev.life);
  std::unique_lock<std::mutex> guard(dev.lock);
  closeLocked(guard, 1);
  for (unsigned char*& buffer : dev.data) {
    delete[] buffer;
    buffer = nullptr;
  }
  return 1;
}

int32_t soundDeviceOpen(int32_t sampleRate, int32_t channels, int32_t eightBit) {
  std::lock_guard<std::mutex> life(dev.life);
  {
    std::unique_lock<std::mutex> guard(dev.lock);
    // A device that failed is let go of here should nobody have closed it,
    // so the open below finds the device afresh (back again, perhaps).
    if (dev.running && dev.failed.load() != 0) closeLocked(guard, 1);
    if (dev.running) return 0;
  }
  silenceAlsa();
  const int32_t outputDevice = sharedSetting(settings.WinMMOutputDev);
  const int32_t callbackMode = sharedSetting(settings.WinMMCallback);
  const bool exact = sharedSetting(settings.AudioBypassACM) == 1;
  // waveOut's permission to use a synchronous device has no ALSA counterpart.
  (void)settings.AudioAllowSyncDev;
  if (callbackMode != 0 && callbackMode != 1) {
    warn("WinMMCallback is " + std::to_string(callbackMode) +
             ": the sound device delivers buffers with 0 (device thread) or 1 (callback thread) only.",
         "waveOutOpen");
    return 0;
  }
  if (sampleRate <= 0 || sampleRate > kMaxRate || channels <= 0 || channels > kMaxChannels) {
    warn(errorText(-EINVAL), "waveOutOpen");
    return 0;
  }
  const bool eight = eightBit != 0;
  const uint32_t blockAlign = static_cast<uint32_t>(channels) * (eight ? 1 : 2);
  const uint32_t avgBytesPerSec = blockAlign * static_cast<uint32_t>(sampleRate);

  if (callbackMode == 1) {
    dev.noticeQueue.open();
    dev.noticeThread = std::thread(noticeThreadMain);
  }
  const std::string name = soundDevicePcmName(outputDevice);
  snd_pcm_t* pcm = nullptr;
  int err = -ENODEV;
  if (!name.empty()) {
    const int mode = SND_PCM_NONBLOCK |
                     (exact ? SND_PCM_NO_AUTO_RESAMPLE | SND_PCM_NO_AUTO_CHANNELS | SND_PCM_NO_AUTO_FORMAT : 0);
    const SoundDevicePcmOpener opener = dev.opener.load();
    err = opener != nullptr ? opener(&pcm, name.c_str(), mode)
                            : snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_PLAYBACK, mode);
    if (err < 0) pcm = nullptr;
  }
  PcmSetup setup;
  if (err >= 0) {
    err = configurePcm(pcm, static_cast<uint32_t>(sampleRate), static_cast<uint32_t>(channels), eight, exact, &setup);
  }
  // One period of scratch (at most a ring buffer's worth) for the gain.
  const snd_pcm_uframes_t scratchFrames =
      std::clamp<snd_pcm_uframes_t>(setup.periodFrames, 1, static_cast<snd_pcm_uframes_t>(kSoundBufferBytes / blockAlign));
  unsigned char* scratch = nullptr;
  if (err >= 0) {
    scratch = new (std::nothrow) unsigned char[scratchFrames * blockAlign];
    if (scratch == nullptr) err = -ENOMEM;
  }
  if (err < 0) {
    if (pcm != nullptr) snd_pcm_close(pcm);
    if (callbackMode == 1) stopNoticeThread();
    int card = -1;
    const bool noCard = snd_card_next(&card) < 0 || card < 0;
    warn(openFailureText(errorText(err), outputDevice, name, noCard), "waveOutOpen");
    return 0;
  }

  std::lock_guard<std::mutex> guard(dev.lock);
  dev.pcm = pcm;
  dev.callbackMode = callbackMode;
  dev.canPause = setup.canPause;
  dev.bufferFrames = setup.bufferFrames;
  dev.periodFrames = setup.periodFrames;
  dev.scratch = scratch;
  dev.scratchFrames = scratchFrames;
  dev.rate = static_cast<uint32_t>(sampleRate);
  dev.blockAlign = blockAlign;
  dev.eightBit = eight;
  dev.queueHead = 0;
  dev.queueCount = 0;
  dev.sentCount = 0;
  dev.sendOffset = 0;
  dev.held = Held::None;
  dev.framesWritten = 0;
  dev.framesPlayed = 0;
  dev.stalling = false;
  dev.primed = true;  // held until the fourth write
  dev.paused = false;
  dev.closing = false;
  dev.quit = false;
  dev.dropDone = dev.dropAsked;
  dev.syncDone = dev.syncAsked;
  dev.writeIndex = 0;
  dev.primeCount = 0;
  dev.failed.store(0);
  dev.freeCount.store(kSoundBufferCount);
  dev.busy.store(0);
  dev.bytesPlayed.store(0);  // the "device opened" notice
  dev.avgBytesPerSec.store(avgBytesPerSec);
  dev.pollMs.store(std::max<int32_t>(1, static_cast<int32_t>(8192000 / avgBytesPerSec)));
  dev.noticesPosted.store(0);
  dev.noticesDone.store(0);
  dev.running = true;
  dev.threadAlive = true;
  dev.thread = std::thread(deviceThreadMain);
  dev.isOpen.store(1);
  return 1;
}

int32_t soundDeviceClose(int32_t discard) {
  std::lock_guard<std::mutex> life(dev.life);
  std::unique_lock<std::mutex> guard(dev.lock);
  return closeLocked(guard, discard);
}

int32_t soundDeviceIsOpen() { return dev.isOpen.load(); }

int32_t soundDeviceWrite(int32_t length, const void* data) {
  if (length <= 0) return length;
  if (data == nullptr) return -1;
  // Larger writes would overflow a buffer: take what fits, the caller writes
  // the rest next.
  const int32_t taken = std::min(length, kSoundBufferBytes);
  std::unique_lock<std::mutex> guard(dev.lock);
  if (!dev.running || dev.closing || dev.data[0] == nullptr || dev.failed.load() != 0) return -1;
  if (dev.writeIndex >= kSoundBufferCount) dev.writeIndex = 0;
  dev.busy.store(1);
  const auto poll = milliseconds(dev.pollMs.load());
  while (dev.freeCount.load() < 1 && dev.failed.load() == 0 && dev.running) dev.changed.wait_for(guard, poll);
  dev.busy.store(0);
  dev.changed.notify_all();  // flush waits for an idle writer
  if (dev.failed.load() != 0 || !dev.running || dev.closing) return -1;

  const int32_t index = dev.writeIndex;
  // Queued as written: the device thread applies the gain on the way out.
  std::memcpy(dev.data[index], data, static_cast<size_t>(taken));
  dev.length[index] = taken;
  dev.freeCount.fetch_sub(1);
  dev.queue[(dev.queueHead + dev.queueCount) % kSoundBufferCount] = index;
  ++dev.queueCount;
  ++dev.writeIndex;
  if (dev.primeCount < kPrimeWrites)
    ++dev.primeCount;
  else if (dev.primed)
    dev.primed = false;  // the fourth write since open or flush starts the sound
  dev.wake.notify_all();
  return taken;
}

// Dropped buffers come back through the completion notice, which adds their
// length to bytesPlayed as waveOutReset's returns did: callers seek with
// setPosition right after a flush, and a stop closes the device anyway.
// A pause by the user outlasts a flush; the fourth write only ends the hold
// flush itself began.
int32_t soundDeviceFlush() {
  std::unique_lock<std::mutex> guard(dev.lock);
  if (!dev.running) {
    dev.primeCount = 0;
    return 1;
  }
  // Hold first so nothing new reaches ALSA between the drops.
  dev.primed = true;
  dropLocked(guard);
  // A writer waiting for a buffer got one from the drop; let it finish,
  // then drop what it queued.
  const auto poll = milliseconds(dev.pollMs.load());
  while (dev.busy.load() != 0) dev.changed.wait_for(guard, poll);
  dropLocked(guard);
  for (int32_t i = 0; i < kSoundBufferCount; ++i) {
    if (dev.data[i] != nullptr && !queuedLocked(i)) std::memset(dev.data[i], 0, kSoundBufferBytes);
  }
  dev.primeCount = 0;
  dev.primed = true;
  dev.wake.notify_all();
  // Returns through the callback thread are still on their way: the free
  // count is whole when flush returns.
  while (dev.noticesDone.load() != dev.noticesPosted.load()) dev.changed.wait_for(guard, poll);
  return 1;
}

// While closing the device is never held: close(0) must be able to finish.
int32_t soundDevicePause() {
  setPaused(true);
  return 1;
}

int32_t soundDeviceResume() {
  setPaused(false);
  return 1;
}

int32_t soundDeviceGetPosition() {
  const uint32_t bytesPerMs = dev.avgBytesPerSec.load() / 1000;
  if (bytesPerMs == 0) return 0;
  return static_cast<int32_t>(dev.bytesPlayed.load() / bytesPerMs);
}

int32_t soundDeviceSetPosition(int32_t seconds) {
  const uint64_t base = seconds > 0 ? static_cast<uint64_t>(seconds) : 0;
  dev.bytesPlayed.store(base * dev.avgBytesPerSec.load());
  return 1;
}

int32_t soundDeviceGetVolume() {
  if (dev.isOpen.load() == 0) return -1;
  return static_cast<int32_t>((dev.gain.load() & 0xFFFF) >> 10);
}

// A gain of our own stream, not the mixer's: only this player gets quieter.
// 64 wraps to 0 (silence), as the 16-bit volume word did.
int32_t soundDeviceSetVolume(int32_t volume) {
  if (dev.isOpen.load() == 0) return 0;
  dev.gain.store((static_cast<uint32_t>(volume) << 10) & 0xFFFF);
  return 1;
}

int32_t soundDeviceGetBufferCount() { return kSoundBufferCount; }

int32_t soundDeviceGetFreeBufferCount() { return dev.freeCount.load(); }

int32_t soundDeviceName(int32_t deviceNumber, std::string* text) {
  std::string result;
  int32_t found = 1;
  if (deviceNumber == -1) {
    result = "Wave Mapper";
  } else {
    std::string name;
    std::string description;
    if (playbackHint(deviceNumber, &name, &description)) {
      result = description.empty() ? name : description;
    } else {
      result = "Bad Device";
      found = 0;
    }
  }
  if (text != nullptr) *text = result;
  return found;
}

std::string soundDevicePcmName(int32_t deviceNumber) {
  if (deviceNumber == -1) return "default";
  std::string name;
  std::string description;
  return playbackHint(deviceNumber, &name, &description) ? name : std::string();
}

void setSoundDevicePcmOpener(SoundDevicePcmOpener opener) { dev.opener.store(opener); }

int32_t soundDeviceAlsaBufferBytes() {
  std::lock_guard<std::mutex> guard(dev.lock);
  return dev.running ? static_cast<int32_t>(dev.bufferFrames * dev.blockAlign) : 0;
}

void resetSoundDeviceVolume() { dev.gain.store(kUnityGain); }

}  // namespace kuv
