// The sound device's feeder: the one thread that calls ALSA on the open PCM.
// It sends queued buffers to ALSA in order, applying the gain on the way,
// and returns each one (its completion notice) only once ALSA's delay shows
// its last frame has been heard, so the position follows the speaker rather
// than ALSA's ring. It also holds the device while primed or paused, drops
// ALSA's ring when asked, and fails the device when the PCM goes away.
#pragma once

#include <alsa/asoundlib.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "output/device_shared.h"
#include "output/sound_device.h"

namespace kuv {

struct PcmCloser {
  void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
using PcmHandle = std::unique_ptr<snd_pcm_t, PcmCloser>;

struct PcmFormat {
  uint32_t rate = 0;
  uint32_t channels = 0;
  bool eightBit = false;
  bool exact = false;  // AudioBypassACM: ALSA must not convert
};

// How the feeder holds ALSA while the device is primed or paused.
enum class Held { None, Idle, Paused, Dropped };

// The feeder's own record: open fills it, the feeder thread alone uses it
// while it runs, and close empties it once that thread has ended.
struct Feeder {
  PcmHandle pcm;
  uint32_t rate = 0;
  int32_t blockAlign = 0;
  bool eightBit = false;
  bool canPause = false;
  snd_pcm_uframes_t bufferFrames = 0;
  snd_pcm_uframes_t periodFrames = 0;
  // The most ALSA is given to hold, at most bufferFrames.
  snd_pcm_uframes_t fillLimitFrames = 0;
  // Samples at the current gain on their way to ALSA, one period at a time,
  // so a volume change is heard once what ALSA holds (at most
  // fillLimitFrames) has played, not the ten queued buffers.
  std::unique_ptr<unsigned char[]> scratch;
  int32_t scratchFrames = 0;

  Held held = Held::None;
  std::chrono::steady_clock::time_point lastWrite{};
  uint64_t delayAtWrite = 0;
  bool stalling = false;
  std::chrono::steady_clock::time_point stallSince{};
};

// ALSA's text for an error code.
std::string alsaErrorText(int err);

// Opens the PCM name (through opener when it is set) and sets it up for
// format. Returns 0, or the error with the feeder left without a PCM.
int openFeeder(Feeder* feeder, const std::string& name, const PcmFormat& format, SoundDevicePcmOpener opener);
// Runs the feeder thread until the device asks it to quit.
std::thread startFeeder(Feeder* feeder, DeviceCommon* common);
// Once the feeder thread has ended: lets go of the PCM.
void closeFeeder(Feeder* feeder, bool failed);

}  // namespace kuv
