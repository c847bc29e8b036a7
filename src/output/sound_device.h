// Playback through the sound device: ALSA PCM behind a ring of ten
// 32768-byte buffers, played in order by a device thread.
#pragma once

#include <cstdint>
#include <string>

// ALSA's handle type, declared as alsa/pcm.h does so callers need not
// include ALSA.
typedef struct _snd_pcm snd_pcm_t;

namespace kuv {

constexpr int32_t kSoundBufferCount = 10;
constexpr int32_t kSoundBufferBytes = 32768;

// The fifteen OutputSystem operations (see kuv/kuv_output_plugin.h).
int32_t soundDeviceInit();
int32_t soundDeviceShutdown();
int32_t soundDeviceOpen(int32_t sampleRate, int32_t channels, int32_t eightBit);
int32_t soundDeviceClose(int32_t discard);
int32_t soundDeviceIsOpen();
int32_t soundDeviceWrite(int32_t length, const void* data);
int32_t soundDeviceFlush();
int32_t soundDevicePause();
int32_t soundDeviceResume();
int32_t soundDeviceGetPosition();
int32_t soundDeviceSetPosition(int32_t seconds);
int32_t soundDeviceGetVolume();
int32_t soundDeviceSetVolume(int32_t volume);
int32_t soundDeviceGetBufferCount();
int32_t soundDeviceGetFreeBufferCount();

// For a writer that fills the ring ahead and then sleeps: blocks until at
// least atLeast buffers are free, the device is not open (closing, failed),
// soundDeviceWakeWaiter was called since the last wait ended, or timeoutMs
// passed. Returns 0 after the timeout with fewer buffers free, else 1.
int32_t soundDeviceWaitForFreeBuffers(int32_t atLeast, int32_t timeoutMs);
// Ends the wait in progress, or the next one, at once; any thread.
void soundDeviceWakeWaiter();

// Device n's description (the Audio page lists 0, 1, ... until the first
// failure, then -1 as "Wave Mapper"). Returns 1 and the text, or 0 and
// "Bad Device".
int32_t soundDeviceName(int32_t deviceNumber, std::string* text);
// The ALSA PCM name behind device number n: "default" for -1, else the n-th
// playback PCM that ALSA's name hints list; "" when there is none.
std::string soundDevicePcmName(int32_t deviceNumber);

// The text of the box shown when the device cannot be opened: the system's
// reason, the device, and what to check; with no sound card at all, where
// the sound can go instead.
std::string openFailureText(const std::string& reason, int32_t deviceNumber, const std::string& pcmName,
                            bool noSoundCard = false);

// Test seams.
// Replaces snd_pcm_open for later opens (null restores it), so tests can play
// through a PCM they build themselves; mode carries the snd_pcm_open flags.
using SoundDevicePcmOpener = int (*)(snd_pcm_t** pcm, const char* name, int mode);
void setSoundDevicePcmOpener(SoundDevicePcmOpener opener);
// Bytes the open PCM is given to hold at most (its own ring may be larger);
// 0 when no device is open.
int32_t soundDeviceAlsaBufferBytes();
// Unity gain again, as before the first setVolume.
void resetSoundDeviceVolume();

}  // namespace kuv
