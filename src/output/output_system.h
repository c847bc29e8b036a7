// The output system in use: the one record of fifteen operations all
// playback code calls, its selection, and the output plug-ins.
#pragma once

#include <cstdint>
#include <string>

#include "kuv/kuv_output_plugin.h"

namespace kuv {

enum OutputKind : int32_t { kSoundDeviceOutput = 0, kWaveFileOutput = 1, kPluginOutput = 2 };

// The active record. Written only by selectOutputSystem (decoder thread),
// which alone may call through it directly; every other thread uses the
// accessors below.
extern OutputSystem outputSystem;

// Calls from threads other than the decoder thread: the display, the
// visualisation timer and the window (position), the window (pause, resume,
// flush) and the Audio page (buffer counts). Each is safe against a
// selectOutputSystem running at the same time: it never meets a half-copied
// record or a plug-in library that is being unloaded. 0 when no output
// system is selected yet.
int32_t outputPosition();
int32_t outputPause();
int32_t outputResume();
int32_t outputFlush();
int32_t outputBufferCount();
int32_t outputFreeBufferCount();
int32_t outputIsOpen();

// The decoder's pacing (decoder thread). Whether the selected output can
// block a writer until its buffers come back: the sound device can; the wave
// file and plug-ins cannot, and are paced by short naps.
bool outputWaitsForBuffers();
// With the sound device: waits until atLeast buffers are free, the device is
// not open, wakeFreeBufferWait was called, or timeoutMs passed (then 0).
// Elsewhere: naps 1 ms. Returns 1 unless it timed out.
int32_t waitForFreeBuffers(int32_t atLeast, int32_t timeoutMs);
// Any thread: ends the decoder's wait at once (a command for it was posted),
// or its next wait should none be in progress.
void wakeFreeBufferWait();

// The built-in systems' records.
const OutputSystem& soundDeviceOutputSystem();
const OutputSystem& waveFileOutputSystem();

// Unloads any loaded plug-in, then installs kind 0 (sound device), 1 (wave
// file) or 2 (the plug-in "default.kop" from OutputPluginDir, falling back
// to the sound device with a message). Any other kind installs the sound
// device. Returns 1.
int32_t selectOutputSystem(int32_t kind);

constexpr int32_t kMaxOutputPlugins = 256;
constexpr size_t kOutputPluginTextMax = 255;

// Lists the "*.kos" plug-ins (any case) in folder; returns 0.
int32_t scanOutputPlugins(const std::string& folder);
int32_t outputPluginCount();
// "Invalid Output Plugin" / "default.kos" for an index out of range.
std::string outputPluginDescription(int32_t index);
std::string outputPluginFileName(int32_t index);

// Loads a plug-in library: a bare name is looked up in OutputPluginDir, then
// by the loader's search. Returns its record, or null (nothing stays loaded).
const OutputSystem* loadOutputPlugin(const std::string& fileName);
// What dlopen is given for a plug-in's file name: a bare name in the user's
// plug-in folder (OutputPluginDir) when it is there, else the name as it
// stands (a path, or a bare name for the loader's search).
std::string pluginPath(const std::string& fileName);
void unloadOutputPlugin();

}  // namespace kuv
