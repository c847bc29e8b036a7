#include "output/device_feeder.h"

#include <pthread.h>
#include <algorithm>
#include <cerrno>
#include <new>

#include "platform/message_box.h"

namespace kuv {
namespace {

using Clock = std::chrono::steady_clock;
using Guard = Locked<DeviceShared>::Guard;
using std::chrono::milliseconds;

constexpr unsigned kBoxStyle = platform::MB_OK | platform::MB_ICONWARNING | platform::MB_SETFOREGROUND;
// About 150 ms in four periods, all of which ALSA may hold (at most
// 250 ms: the gain is applied on the way to ALSA, so what it holds is how
// late a volume change is heard). Pause and flush act at once whatever it
// holds (snd_pcm_pause, snd_pcm_drop). A 500 ms ring would let the feeder
// sleep longer, but ALSA's file PCM over null then writes its file several
// times faster than it is fed. The feeder tops ALSA up when the oldest
// buffer is heard out or half the fill has played, whichever comes first,
// instead of every 20 ms.
constexpr unsigned kBufferTimeUs = 150000;
constexpr unsigned kPeriodsPerBuffer = 4;
constexpr unsigned kFillLimitMs = 250;
constexpr int64_t kMinSleepMs = 2;
constexpr int64_t kMaxSleepMs = 250;
// Held (paused, priming), failed or with nothing queued, the feeder waits
// for a wake: every change of those comes with one. The time limit is only
// a safety net, so a paused player wakes once a second, not ten times.
constexpr auto kIdleWait = milliseconds(1000);
// A device that takes no frame for this long while we have data is gone;
// failing it ends every wait on it.
constexpr auto kStallLimit = std::chrono::seconds(5);
// Some PCMs never report a delay of zero; what was written is heard anyway
// once the delay it stood for has passed, plus this.
constexpr auto kDrainGrace = milliseconds(1000);
constexpr int kCloseAttempts = 3;

void warn(const std::string& text, const char* title) { platform::messageBox(text, title, kBoxStyle); }

// --- Returned buffers (lock held) --------------------------------------------

void notice(DeviceCommon* common, int32_t callbackMode, int32_t length) {
  DeviceCounters& counters = common->counters;
  if (callbackMode == 1) {
    counters.noticesPosted.fetch_add(1);
    if (common->noticeQueue.post(kBufferDone, 0, length)) return;
    // A refused post would lose the buffer for good: deliver it here.
    counters.noticesPosted.fetch_sub(1);
  }
  counters.bytesPlayed.fetch_add(static_cast<uint64_t>(length));
  counters.freeCount.fetch_add(1);
}

// Each returned buffer comes back through its notice; callers waiting for a
// buffer hear of it.
void giveBackLocked(DeviceCommon* common, Guard& guard, const RingReturns& returns) {
  for (int32_t i = 0; i < returns.count; ++i) notice(common, guard->callbackMode, returns.length[i]);
  if (returns.count > 0) common->changed.notify_all();
  tellRoomLocked(common, guard);
}

void returnAllLocked(DeviceCommon* common, Guard& guard) {
  giveBackLocked(common, guard, ringReturnAll(&guard->ring));
  common->changed.notify_all();
}

uint64_t playedAt(Guard& guard, snd_pcm_sframes_t delay) {
  return guard->ring.framesWritten - ringLag(guard->ring, delay);
}

// --- Holding, releasing and feeding ALSA --------------------------------------

void failLocked(Feeder* feeder, DeviceCommon* common, Guard& guard) {
  common->counters.failed.store(1);
  guard.unlocked([&] { snd_pcm_drop(feeder->pcm.get()); });
  returnAllLocked(common, guard);
  feeder->held = Held::None;
}

void holdLocked(Feeder* feeder, DeviceCommon* common, Guard& guard) {
  snd_pcm_t* const pcm = feeder->pcm.get();
  Held kind = Held::Idle;
  snd_pcm_sframes_t delay = 0;
  int err = 0;
  guard.unlocked([&] {
    if (snd_pcm_state(pcm) == SND_PCM_STATE_RUNNING) {
      if (feeder->canPause && snd_pcm_pause(pcm, 1) == 0) {
        kind = Held::Paused;
      } else {
        // No pause in this PCM: keep what was not heard yet and send it
        // again at resume. The few frames played between reading the delay
        // and the drop are heard twice, which beats losing them.
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
  });
  if (err < 0) {
    failLocked(feeder, common, guard);
    return;
  }
  const uint64_t played = playedAt(guard, delay);
  if (kind == Held::Dropped) {
    giveBackLocked(common, guard, ringRewind(&guard->ring, played));
  } else if (kind == Held::Idle) {
    giveBackLocked(common, guard, ringHeard(&guard->ring, played));
  }
  feeder->held = kind;
}

void releaseLocked(Feeder* feeder, DeviceCommon* common, Guard& guard) {
  const Held kind = feeder->held;
  feeder->held = Held::None;
  feeder->stalling = false;
  feeder->lastWrite = Clock::now();
  feeder->delayAtWrite = guard->ring.framesWritten - guard->ring.framesPlayed;
  if (kind != Held::Paused) return;
  snd_pcm_t* const pcm = feeder->pcm.get();
  snd_pcm_sframes_t delay = 0;
  int err = 0;
  bool dropped = false;
  guard.unlocked([&] {
    if (snd_pcm_pause(pcm, 0) < 0) {
      // The stream left the pause (suspend, xrun): go on from what was heard.
      if (snd_pcm_delay(pcm, &delay) < 0) delay = 0;
      snd_pcm_drop(pcm);
      err = snd_pcm_prepare(pcm);
      dropped = true;
    }
  });
  if (err < 0) {
    failLocked(feeder, common, guard);
    return;
  }
  if (dropped) giveBackLocked(common, guard, ringRewind(&guard->ring, playedAt(guard, delay)));
}

// One round of feeding ALSA and returning what was heard; sleeps when there
// is nothing to do yet.
void feedLocked(Feeder* feeder, DeviceCommon* common, Guard& guard) {
  snd_pcm_t* const pcm = feeder->pcm.get();
  const int32_t blockAlign = feeder->blockAlign;
  const RingChunk chunk = ringNextChunk(&guard->ring, feeder->scratchFrames);
  // A queued buffer is not written to until it comes back: read it unlocked.
  const unsigned char* const from = chunk.index >= 0 ? guard->data[chunk.index].get() + chunk.offset : nullptr;

  int err = 0;
  snd_pcm_sframes_t wrote = 0;
  snd_pcm_sframes_t room = 0;  // frames ALSA may still be given
  snd_pcm_sframes_t delay = 0;
  bool delayKnown = false;
  const auto held = static_cast<snd_pcm_sframes_t>(feeder->bufferFrames - feeder->fillLimitFrames);
  guard.unlocked([&] {
    if (chunk.frames > 0) {
      const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm);
      room = avail - held;
      if (avail < 0) {
        err = static_cast<int>(avail);
        room = 0;
      } else if (room > 0) {
        const auto count = std::min(static_cast<snd_pcm_uframes_t>(room), static_cast<snd_pcm_uframes_t>(chunk.frames));
        // The gain of this moment, so what ALSA gets next already has it.
        const uint32_t gain = common->counters.gain.load();
        const unsigned char* out = from;
        if (gain != kUnityGain) {
          scaleByGain(feeder->scratch.get(), from, static_cast<int32_t>(count) * blockAlign, feeder->eightBit, gain);
          out = feeder->scratch.get();
        }
        wrote = snd_pcm_writei(pcm, out, count);
        if (wrote < 0) {
          err = static_cast<int>(wrote);
          wrote = 0;
        }
        room -= wrote;
      }
    }
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
  });
  if (err < 0) {
    failLocked(feeder, common, guard);
    return;
  }

  const auto now = Clock::now();
  DeviceRing& ring = guard->ring;
  if (wrote > 0) {
    ringSent(&ring, chunk, static_cast<int32_t>(wrote));
    feeder->lastWrite = now;
    feeder->delayAtWrite = delayKnown ? ringLag(ring, delay) : feeder->bufferFrames;
    feeder->stalling = false;
  }
  uint64_t played = ring.framesPlayed;
  if (delayKnown) played = std::max(played, playedAt(guard, delay));
  const bool moreToSend = ringMoreToSend(ring);
  const auto drainTime = milliseconds(static_cast<int64_t>(feeder->delayAtWrite * 1000 / feeder->rate)) + kDrainGrace;
  if (!moreToSend && played < ring.framesWritten && now - feeder->lastWrite > drainTime) played = ring.framesWritten;
  giveBackLocked(common, guard, ringHeard(&ring, played));

  if (moreToSend && wrote == 0) {
    if (!feeder->stalling) {
      feeder->stalling = true;
      feeder->stallSince = now;
    } else if (now - feeder->stallSince > kStallLimit) {
      failLocked(feeder, common, guard);
      return;
    }
  }
  if (moreToSend && wrote > 0) return;  // there may be room for more
  if (ring.queueCount == 0) {
    guard.waitFor(common->wake, kIdleWait);
    return;
  }
  // Sleep until the oldest sent buffer is heard out (it goes back, so the
  // position follows the speaker), or until half the fill has played.
  uint64_t waitFrames = kMaxSleepMs * static_cast<uint64_t>(feeder->rate) / 1000;
  if (ring.sentCount > 0) waitFrames = std::min(waitFrames, ringFramesToFrontEnd(ring));
  const auto topUp = static_cast<snd_pcm_sframes_t>(feeder->fillLimitFrames / 2);
  if (moreToSend) waitFrames = std::min<uint64_t>(waitFrames, room < topUp ? static_cast<uint64_t>(topUp - room) : 0);
  const int64_t ms = std::clamp(static_cast<int64_t>(waitFrames * 1000 / feeder->rate), kMinSleepMs, kMaxSleepMs);
  guard.waitFor(common->wake, milliseconds(ms));
}

void feederMain(Feeder* feeder, DeviceCommon* common) {
  pthread_setname_np(pthread_self(), "kuv-feeder");
  snd_pcm_t* const pcm = feeder->pcm.get();
  DeviceCounters& counters = common->counters;
  auto guard = common->shared.lock();
  feeder->lastWrite = Clock::now();
  for (;;) {
    const uint64_t syncSeen = guard->syncAsked;
    if (guard->dropDone != guard->dropAsked) {
      const uint64_t asked = guard->dropAsked;
      if (counters.failed.load() == 0) {
        int err = 0;
        guard.unlocked([&] {
          snd_pcm_drop(pcm);
          err = snd_pcm_prepare(pcm);
        });
        if (err < 0) counters.failed.store(1);
      }
      returnAllLocked(common, guard);
      feeder->held = Held::None;
      guard->dropDone = asked;
      common->changed.notify_all();
      continue;
    }
    // While closing nothing holds the device, so close(0) can play out.
    const bool hold = (guard->primed || guard->paused) && !guard->closing;
    if (counters.failed.load() == 0) {
      if (hold && feeder->held == Held::None) {
        holdLocked(feeder, common, guard);
        continue;
      }
      if (!hold && feeder->held != Held::None) {
        releaseLocked(feeder, common, guard);
        continue;
      }
    }
    if (guard->syncDone != syncSeen) {
      guard->syncDone = syncSeen;
      common->changed.notify_all();
    }
    if (guard->quit) break;
    if (counters.failed.load() != 0 || hold) {
      guard.waitFor(common->wake, kIdleWait);
      continue;
    }
    feedLocked(feeder, common, guard);
  }
  guard->threadAlive = false;
  guard->dropDone = guard->dropAsked;
  guard->syncDone = guard->syncAsked;
  common->changed.notify_all();
}

// --- Opening and closing -------------------------------------------------------

int configurePcm(Feeder* feeder, const PcmFormat& format) {
  snd_pcm_t* const pcm = feeder->pcm.get();
  snd_pcm_hw_params_t* hw = nullptr;
  snd_pcm_hw_params_alloca(&hw);
  int err = snd_pcm_hw_params_any(pcm, hw);
  if (err >= 0) err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
  if (err >= 0)
    err = snd_pcm_hw_params_set_format(pcm, hw, format.eightBit ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE);
  if (err >= 0) err = snd_pcm_hw_params_set_channels(pcm, hw, format.channels);
  if (err >= 0) err = snd_pcm_hw_params_set_rate_resample(pcm, hw, format.exact ? 0 : 1);
  // The exact rate always: a near one would play at the wrong pitch.
  if (err >= 0) err = snd_pcm_hw_params_set_rate(pcm, hw, format.rate, 0);
  if (err < 0) return err;
  // Near values: the device may round them, hw_params has the last word.
  unsigned bufferUs = kBufferTimeUs;
  snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &bufferUs, nullptr);
  unsigned periodUs = bufferUs / kPeriodsPerBuffer;
  snd_pcm_hw_params_set_period_time_near(pcm, hw, &periodUs, nullptr);
  err = snd_pcm_hw_params(pcm, hw);
  if (err < 0) return err;
  feeder->canPause = snd_pcm_hw_params_can_pause(hw) != 0;
  err = snd_pcm_get_params(pcm, &feeder->bufferFrames, &feeder->periodFrames);
  if (err < 0) return err;
  feeder->fillLimitFrames = std::clamp<snd_pcm_uframes_t>(format.rate * kFillLimitMs / 1000, 1,
                                                          std::max<snd_pcm_uframes_t>(feeder->bufferFrames, 1));
  snd_pcm_sw_params_t* sw = nullptr;
  snd_pcm_sw_params_alloca(&sw);
  err = snd_pcm_sw_params_current(pcm, sw);
  // Start at the first frame: the feeder writes as much as fits at once
  // anyway, and a higher threshold could leave a short ending unplayed.
  if (err >= 0) err = snd_pcm_sw_params_set_start_threshold(pcm, sw, 1);
  if (err >= 0) err = snd_pcm_sw_params_set_avail_min(pcm, sw, feeder->periodFrames);
  if (err >= 0) err = snd_pcm_sw_params(pcm, sw);
  if (err >= 0) err = snd_pcm_prepare(pcm);
  return err;
}

}  // namespace

std::string alsaErrorText(int err) {
  const char* text = err < 0 ? snd_strerror(err) : nullptr;
  return text != nullptr && *text != '\0' ? std::string(text) : std::string("Unknown error");
}

int openFeeder(Feeder* feeder, const std::string& name, const PcmFormat& format, SoundDevicePcmOpener opener) {
  *feeder = Feeder{};
  const int mode = SND_PCM_NONBLOCK |
                   (format.exact ? SND_PCM_NO_AUTO_RESAMPLE | SND_PCM_NO_AUTO_CHANNELS | SND_PCM_NO_AUTO_FORMAT : 0);
  snd_pcm_t* pcm = nullptr;
  int err = opener != nullptr ? opener(&pcm, name.c_str(), mode)
                              : snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_PLAYBACK, mode);
  if (err < 0) return err;
  feeder->pcm.reset(pcm);
  feeder->rate = format.rate;
  feeder->eightBit = format.eightBit;
  feeder->blockAlign = static_cast<int32_t>(format.channels) * (format.eightBit ? 1 : 2);
  err = configurePcm(feeder, format);
  // Scratch for the gain, as much as ALSA may be given at once (at most a
  // ring buffer's worth): each write goes down ALSA's plug-in chain once,
  // so the fewer the better where a PCM takes all it has room for.
  if (err >= 0) {
    feeder->scratchFrames = static_cast<int32_t>(std::clamp<snd_pcm_uframes_t>(
        feeder->fillLimitFrames, 1, static_cast<snd_pcm_uframes_t>(kSoundBufferBytes / feeder->blockAlign)));
    feeder->scratch.reset(
        new (std::nothrow) unsigned char[static_cast<size_t>(feeder->scratchFrames * feeder->blockAlign)]);
    if (feeder->scratch == nullptr) err = -ENOMEM;
  }
  if (err < 0) {
    *feeder = Feeder{};  // closes the PCM
    return err;
  }
  return 0;
}

std::thread startFeeder(Feeder* feeder, DeviceCommon* common) { return std::thread(feederMain, feeder, common); }

void closeFeeder(Feeder* feeder, bool failed) {
  if (feeder->pcm != nullptr) {
    // Everything was heard or dropped by now.
    snd_pcm_drop(feeder->pcm.get());
    if (!failed) {
      // snd_pcm_close frees the handle even when it reports an error, so only
      // the release of the hardware before it is tried again.
      for (int attempt = 0; attempt < kCloseAttempts; ++attempt) {
        const int err = snd_pcm_hw_free(feeder->pcm.get());
        if (err >= 0) break;
        warn(alsaErrorText(err), "waveOutClose");
      }
      const int err = snd_pcm_close(feeder->pcm.release());
      if (err < 0) warn(alsaErrorText(err), "waveOutClose");
    }
    // A device that failed is gone or broken: the player has already said so
    // once, and asking the user about each step of letting go of it would
    // only hold up the close. The handle is freed all the same.
  }
  *feeder = Feeder{};
}

}  // namespace kuv
