// The sound device: a waveOut-style ring of ten buffers played through an
// ALSA PCM. write queues a buffer; the feeder thread (device_feeder.h) plays
// queued buffers in order and returns each one once it was heard. This file
// is the callers' side: open and close, writes, flush, pause, position and
// volume, and the callback thread that delivers returns in WinMMCallback 1.
#include "output/sound_device.h"

#include <pthread.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "config/settings.h"
#include "output/device_feeder.h"
#include "output/device_gain.h"
#include "output/device_list.h"
#include "output/device_ring.h"
#include "output/device_shared.h"
#include "platform/message_box.h"
#include "platform/message_queue.h"

namespace kuv {
namespace {

using Guard = Locked<DeviceShared>::Guard;
using std::chrono::milliseconds;

constexpr unsigned kBoxStyle = platform::MB_OK | platform::MB_ICONWARNING | platform::MB_SETFOREGROUND;
constexpr int32_t kPrimeWrites = 3;
constexpr int32_t kMaxRate = 768000;
constexpr int32_t kMaxChannels = 8;

struct Device {
  std::mutex life;  // open, close, init and shutdown one at a time
  DeviceCommon common;
  // Under `life`.
  Feeder feeder;
  std::thread feederThread;
  std::thread noticeThread;
  std::atomic<SoundDevicePcmOpener> opener{nullptr};
};

Device dev;

void warn(const std::string& text, const char* title) { platform::messageBox(text, title, kBoxStyle); }

}  // namespace

// The system's reason alone ("No such file or directory") tells a user
// nothing: say which device it was and what to look at.
std::string openFailureText(const std::string& reason, int32_t deviceNumber, const std::string& pcmName,
                            bool noSoundCard) {
  std::string device =
      deviceNumber == -1 ? std::string("the default device") : "device " + std::to_string(deviceNumber);
  device += pcmName.empty() ? std::string(" (no such device)") : " (ALSA \"" + pcmName + "\")";
  std::string text = reason + "\n\nSound device: " + device +
                     ".\nCheck that it is connected and not held by another program, or choose another device "
                     "(WinMMOutputDev in kuv.ini; kuv-decode --list-devices lists them).";
  // On a machine without any card no device choice helps; the wave-file
  // output still plays the file, into a file.
  if (noSoundCard)
    text +=
        "\n\nNo sound card was found. The sound can go to a WAV file instead: "
        "set AudioOutputSystem=1 in kuv.ini (kuv-decode: -o FILE.wav).";
  return text;
}

namespace {

// WinMMCallback 1: notices reach the counters through this thread, as
// waveOut's CALLBACK_THREAD delivers them.
void noticeThreadMain() {
  pthread_setname_np(pthread_self(), "kuv-notice");
  DeviceCommon& common = dev.common;
  DeviceCounters& counters = common.counters;
  platform::ThreadMessage message;
  while (common.noticeQueue.get(&message)) {
    if (message.message != kBufferDone) continue;
    counters.bytesPlayed.fetch_add(static_cast<uint64_t>(message.lParam));
    counters.freeCount.fetch_add(1);
    counters.noticesDone.fetch_add(1);
    {
      auto pairing = common.shared.lock();  // a waiter tests under the lock, then sleeps
      tellRoomLocked(&common, pairing);
    }
    common.changed.notify_all();
  }
  common.noticeQueue.close();
}

void stopNoticeThread() {
  platform::postRetry(dev.common.noticeQueue, platform::WM_QUIT);
  if (dev.noticeThread.joinable()) dev.noticeThread.join();
}

milliseconds pollTime() { return milliseconds(dev.common.counters.pollMs.load()); }

// Called with `life` held.
int32_t closeLocked(Guard& guard, int32_t discard) {
  DeviceCommon& common = dev.common;
  if (!guard->running) return 0;
  guard->closing = true;
  if (discard != 0) ++guard->dropAsked;
  common.wake.notify_all();
  const auto poll = pollTime();
  // Ends: buffers are heard, dropped, or returned when the device fails.
  while (common.counters.freeCount.load() < kSoundBufferCount) guard.waitFor(common.changed, poll);
  guard->quit = true;
  common.wake.notify_all();
  const bool callbackThread = guard->callbackMode == 1;
  guard.unlocked([&] {
    dev.feederThread.join();
    closeFeeder(&dev.feeder, common.counters.failed.load() != 0);
    if (callbackThread) stopNoticeThread();
  });
  guard->running = false;
  guard->closing = false;
  guard->quit = false;
  guard->primed = false;
  guard->paused = false;
  common.counters.isOpen.store(0);
  return 1;
}

// Asks the feeder to drop ALSA's ring and return every queued buffer, and
// waits until it has.
void dropLocked(Guard& guard) {
  if (!guard->threadAlive || guard->quit) return;
  const uint64_t mine = ++guard->dropAsked;
  dev.common.wake.notify_all();
  guard.wait(dev.common.changed, [mine](const DeviceShared& s) { return s.dropDone >= mine || !s.threadAlive; });
}

void setPaused(bool paused) {
  auto guard = dev.common.shared.lock();
  if (!guard->running || !guard->threadAlive) return;
  guard->paused = paused;
  const uint64_t mine = ++guard->syncAsked;
  dev.common.wake.notify_all();
  guard.wait(dev.common.changed, [mine](const DeviceShared& s) { return s.syncDone >= mine || !s.threadAlive; });
}

}  // namespace

int32_t soundDeviceInit() {
  std::lock_guard<std::mutex> life(dev.life);
  auto guard = dev.common.shared.lock();
  if (guard->data[0] != nullptr) return 1;
  for (auto& buffer : guard->data) {
    buffer.reset(new (std::nothrow) unsigned char[kSoundBufferBytes]());
    if (buffer == nullptr) {
      for (auto& allocated : guard->data) allocated.reset();
      return 0;
    }
  }
  return 1;
}

int32_t soundDeviceShutdown() {
  std::lock_guard<std::mutex> life(dev.life);
  auto guard = dev.common.shared.lock();
  closeLocked(guard, 1);
  for (auto& buffer : guard->data) buffer.reset();
  return 1;
}

int32_t soundDeviceOpen(int32_t sampleRate, int32_t channels, int32_t eightBit) {
  std::lock_guard<std::mutex> life(dev.life);
  DeviceCommon& common = dev.common;
  DeviceCounters& counters = common.counters;
  {
    auto guard = common.shared.lock();
    // A device that failed is let go of here should nobody have closed it,
    // so the open below finds the device afresh (back again, perhaps).
    if (guard->running && counters.failed.load() != 0) closeLocked(guard, 1);
    if (guard->running) return 0;
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
    warn(alsaErrorText(-EINVAL), "waveOutOpen");
    return 0;
  }
  PcmFormat format;
  format.rate = static_cast<uint32_t>(sampleRate);
  format.channels = static_cast<uint32_t>(channels);
  format.eightBit = eightBit != 0;
  format.exact = exact;
  const int32_t blockAlign = channels * (format.eightBit ? 1 : 2);
  const uint32_t avgBytesPerSec = static_cast<uint32_t>(blockAlign) * format.rate;

  if (callbackMode == 1) {
    common.noticeQueue.open();
    dev.noticeThread = std::thread(noticeThreadMain);
  }
  const std::string name = soundDevicePcmName(outputDevice);
  const int err = name.empty() ? -ENODEV : openFeeder(&dev.feeder, name, format, dev.opener.load());
  if (err < 0) {
    if (callbackMode == 1) stopNoticeThread();
    warn(openFailureText(alsaErrorText(err), outputDevice, name, noSoundCard()), "waveOutOpen");
    return 0;
  }

  auto guard = common.shared.lock();
  guard->callbackMode = callbackMode;
  guard->alsaBufferBytes = static_cast<int32_t>(dev.feeder.fillLimitFrames * static_cast<uint32_t>(blockAlign));
  ringReset(&guard->ring, blockAlign);
  guard->primed = true;  // held until the fourth write
  guard->paused = false;
  guard->closing = false;
  guard->quit = false;
  guard->primeCount = 0;
  guard->dropDone = guard->dropAsked;
  guard->syncDone = guard->syncAsked;
  // A wake for a command posted before the open: the decoder takes that
  // command before it next waits.
  guard->wakeWaiter = false;
  counters.failed.store(0);
  counters.freeCount.store(kSoundBufferCount);
  counters.busy.store(0);
  counters.bytesPlayed.store(0);  // the "device opened" notice
  counters.avgBytesPerSec.store(avgBytesPerSec);
  counters.pollMs.store(std::max<int32_t>(1, static_cast<int32_t>(8192000 / avgBytesPerSec)));
  counters.noticesPosted.store(0);
  counters.noticesDone.store(0);
  guard->running = true;
  guard->threadAlive = true;
  dev.feederThread = startFeeder(&dev.feeder, &common);
  counters.isOpen.store(1);
  return 1;
}

int32_t soundDeviceClose(int32_t discard) {
  std::lock_guard<std::mutex> life(dev.life);
  auto guard = dev.common.shared.lock();
  return closeLocked(guard, discard);
}

int32_t soundDeviceIsOpen() { return dev.common.counters.isOpen.load(); }

int32_t soundDeviceWrite(int32_t length, const void* data) {
  if (length <= 0) return length;
  if (data == nullptr) return -1;
  // Larger writes would overflow a buffer: take what fits, the caller writes
  // the rest next.
  const int32_t taken = std::min(length, kSoundBufferBytes);
  DeviceCommon& common = dev.common;
  DeviceCounters& counters = common.counters;
  auto guard = common.shared.lock();
  if (!guard->running || guard->closing || guard->data[0] == nullptr || counters.failed.load() != 0) return -1;
  counters.busy.store(1);
  const auto poll = pollTime();
  while (counters.freeCount.load() < 1 && counters.failed.load() == 0 && guard->running) {
    guard.waitFor(common.changed, poll);
  }
  counters.busy.store(0);
  common.changed.notify_all();  // flush waits for an idle writer
  if (counters.failed.load() != 0 || !guard->running || guard->closing) return -1;

  // A feeder with more to send sleeps until ALSA has room for it: only one
  // that ran out, or is held for priming, needs the news.
  const bool feederWaits = !ringMoreToSend(guard->ring) || guard->primed;
  // Queued as written: the feeder applies the gain on the way out.
  const int32_t index = ringPush(&guard->ring, taken);
  std::memcpy(guard->data[index].get(), data, static_cast<size_t>(taken));
  counters.freeCount.fetch_sub(1);
  if (guard->primeCount < kPrimeWrites)
    ++guard->primeCount;
  else if (guard->primed)
    guard->primed = false;  // the fourth write since open or flush starts the sound
  if (feederWaits) common.wake.notify_all();
  return taken;
}

// Dropped buffers come back through the completion notice, which adds their
// length to bytesPlayed as waveOutReset's returns did: callers seek with
// setPosition right after a flush, and a stop closes the device anyway.
// A pause by the user outlasts a flush; the fourth write only ends the hold
// flush itself began.
int32_t soundDeviceFlush() {
  DeviceCommon& common = dev.common;
  auto guard = common.shared.lock();
  if (!guard->running) {
    guard->primeCount = 0;
    return 1;
  }
  // Hold first so nothing new reaches ALSA between the drops.
  guard->primed = true;
  dropLocked(guard);
  // A writer waiting for a buffer got one from the drop; let it finish,
  // then drop what it queued.
  const auto poll = pollTime();
  while (common.counters.busy.load() != 0) guard.waitFor(common.changed, poll);
  dropLocked(guard);
  for (int32_t i = 0; i < kSoundBufferCount; ++i) {
    if (guard->data[i] != nullptr && !ringQueued(guard->ring, i))
      std::memset(guard->data[i].get(), 0, kSoundBufferBytes);
  }
  guard->primeCount = 0;
  guard->primed = true;
  common.wake.notify_all();
  // Returns through the callback thread are still on their way: the free
  // count is whole when flush returns.
  while (common.counters.noticesDone.load() != common.counters.noticesPosted.load()) {
    guard.waitFor(common.changed, poll);
  }
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
  const DeviceCounters& counters = dev.common.counters;
  const uint32_t bytesPerMs = counters.avgBytesPerSec.load() / 1000;
  if (bytesPerMs == 0) return 0;
  return static_cast<int32_t>(counters.bytesPlayed.load() / bytesPerMs);
}

int32_t soundDeviceSetPosition(int32_t seconds) {
  DeviceCounters& counters = dev.common.counters;
  const uint64_t base = seconds > 0 ? static_cast<uint64_t>(seconds) : 0;
  counters.bytesPlayed.store(base * counters.avgBytesPerSec.load());
  return 1;
}

int32_t soundDeviceGetVolume() {
  if (dev.common.counters.isOpen.load() == 0) return -1;
  return volumeOfGain(dev.common.counters.gain.load());
}

int32_t soundDeviceSetVolume(int32_t volume) {
  if (dev.common.counters.isOpen.load() == 0) return 0;
  dev.common.counters.gain.store(gainOfVolume(volume));
  return 1;
}

int32_t soundDeviceGetBufferCount() { return kSoundBufferCount; }

int32_t soundDeviceWaitForFreeBuffers(int32_t atLeast, int32_t timeoutMs) {
  DeviceCommon& common = dev.common;
  const DeviceCounters& counters = common.counters;
  const auto end = std::chrono::steady_clock::now() + milliseconds(std::max<int32_t>(timeoutMs, 0));
  auto guard = common.shared.lock();
  // Returns (once there are enough), failures and wakes notify `room` under
  // the lock, so none falls between the test and the sleep.
  int32_t result = 0;
  for (;;) {
    if (guard->wakeWaiter) {
      guard->wakeWaiter = false;
      result = 1;
      break;
    }
    if (counters.freeCount.load() >= atLeast || !guard->running || guard->closing || counters.failed.load() != 0) {
      result = 1;
      break;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) break;
    guard->roomWanted = std::max<int32_t>(atLeast, 1);
    guard.waitFor(common.room, end - now);
  }
  guard->roomWanted = 0;
  return result;
}

void soundDeviceWakeWaiter() {
  {
    auto guard = dev.common.shared.lock();
    guard->wakeWaiter = true;
  }
  dev.common.room.notify_all();
}

int32_t soundDeviceGetFreeBufferCount() { return dev.common.counters.freeCount.load(); }

void setSoundDevicePcmOpener(SoundDevicePcmOpener opener) { dev.opener.store(opener); }

int32_t soundDeviceAlsaBufferBytes() {
  auto guard = dev.common.shared.lock();
  return guard->running ? guard->alsaBufferBytes : 0;
}

void resetSoundDeviceVolume() { dev.common.counters.gain.store(kUnityGain); }

}  // namespace kuv
