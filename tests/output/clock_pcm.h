// A playback PCM for the sound device tests that plays against the steady
// clock like a sound card without a speaker: it is an ALSA I/O plug-in, so
// delay, pause, drop and underruns behave as on hardware, and it keeps every
// frame it "played" so tests can compare what was heard with what was written.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

typedef struct _snd_pcm snd_pcm_t;

namespace kuv::test {

struct ClockPcmOptions {
  bool canPause = true;  // offer snd_pcm_pause; without it the device must emulate
  double speed = 1.0;    // frames played per frame of real time
  // A card reports running dry (EPIPE); some plug-ins never do, and add a
  // latency of their own to the delay, so it never reaches zero.
  bool reportsUnderrun = true;
  long extraDelayFrames = 0;
  // The card goes away (unplugged, server gone) once this many frames were
  // handed over: from then on every call into it fails with ENODEV.
  long failAfterFrames = -1;
};

struct ClockPcmCounts {
  size_t playedBytes = 0;    // heard
  size_t receivedBytes = 0;  // handed over by ALSA
  int pauses = 0;            // snd_pcm_pause(1) calls
  int stops = 0;             // drops and underrun stops
  int underruns = 0;
  int lastMode = 0;  // the snd_pcm_open flags of the last open
  bool open = false;
  bool gone = false;
};

// A SoundDevicePcmOpener: opens a fresh clock PCM (whatever the name) and
// clears the record of the previous one.
int openClockPcm(snd_pcm_t** pcm, const char* name, int mode);
// Options for the opens that follow.
void setClockPcmOptions(const ClockPcmOptions& options);
// The bytes played since the last open, in order.
std::string clockPcmPlayed();
// How many bytes each earlier open played, oldest first, since the options
// were last set.
std::vector<size_t> clockPcmEarlierPlayedBytes();
ClockPcmCounts clockPcmCounts();

}  // namespace kuv::test
