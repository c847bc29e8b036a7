// The visualisation plug-in host: one module of a plug-in library (the
// kuv_vis_plugin.h convention) run on a thread of its own, fed the newest
// spectrum and waveform about fifty times a second.
#pragma once

#include <cstdint>
#include <string>

namespace kuv {

constexpr const char* kVisPluginFile = "plugin.dll";
constexpr int32_t kVisPluginModule = 1;
constexpr int32_t kVisPluginRoundMs = 20;

// Starts the host thread for module `moduleIndex` of `library` (a bare name
// is looked up in OutputPluginDir, then by the loader's search). A library
// that cannot be loaded, lacks winampVisGetHeader or has no such module ends
// the host silently. While a module runs (or starts), a second start does
// nothing. Returns 0.
int32_t startVisPluginHost(const std::string& library, int32_t moduleIndex, unsigned long parentWindow,
                           int32_t channels, int32_t sampleRate);
// 1 from the module's initialisation until the host has finished; any thread.
bool isVisPluginRunning();
// Tells the host to quit, so the module's quit runs and the library is
// released, and waits for it; nothing when no host runs.
void stopVisPluginHost();

}  // namespace kuv
