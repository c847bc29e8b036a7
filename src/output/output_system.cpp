#include "output/output_system.h"

#include <chrono>
#include <mutex>
#include <shared_mutex>
#include <thread>

#include "output/sound_device.h"
#include "output/wave_file.h"
#include "platform/message_box.h"

namespace kuv {

OutputSystem outputSystem{};

namespace {

// Held exclusively while selectOutputSystem unloads a plug-in and rewrites
// the record, shared by the accessors for the length of one call. Other
// designs were weighed: never unloading libraries would leave every plug-in
// ever chosen mapped (and its own threads running) for the life of the
// process, and publishing records by pointer would change every call site of
// the decoder thread. The lock is uncontended but for the rare selection,
// so the display's call every 20 ms costs two atomic operations. A call
// through it may block (pause waits for the device thread), which only
// delays a selection; the decoder thread never holds it while it writes, so
// a flush waiting for a writer cannot deadlock against it.
std::shared_mutex selectionLock;

int32_t callShared(int32_t (*OutputSystem::*slot)()) {
  std::shared_lock<std::shared_mutex> hold(selectionLock);
  int32_t (*const operation)() = outputSystem.*slot;
  return operation != nullptr ? operation() : 0;
}

int32_t succeed() { return 1; }
// The wave file has no queue, position or volume: those slots do nothing.
int32_t nothing() { return 0; }
int32_t nothing1(int32_t) { return 0; }
}  // namespace

const OutputSystem& soundDeviceOutputSystem() {
  static const OutputSystem record = {
      soundDeviceInit,        soundDeviceShutdown,       soundDeviceOpen,
      soundDeviceClose,       soundDeviceIsOpen,         soundDeviceWrite,
      soundDeviceFlush,       soundDevicePause,          soundDeviceResume,
      soundDeviceGetPosition, soundDeviceSetPosition,    soundDeviceGetVolume,
      soundDeviceSetVolume,   soundDeviceGetBufferCount, soundDeviceGetFreeBufferCount,
  };
  return record;
}

const OutputSystem& waveFileOutputSystem() {
  static const OutputSystem record = {
      succeed, succeed, waveFileOpen, waveFileClose, waveFileIsOpen, waveFileWrite, nothing, nothing,
      nothing, nothing, nothing1,     nothing,       nothing1,       nothing,       nothing,
  };
  return record;
}

int32_t outputPosition() { return callShared(&OutputSystem::getPosition); }
int32_t outputPause() { return callShared(&OutputSystem::pause); }
int32_t outputResume() { return callShared(&OutputSystem::resume); }
int32_t outputFlush() { return callShared(&OutputSystem::flush); }
int32_t outputBufferCount() { return callShared(&OutputSystem::getBufferCount); }
int32_t outputFreeBufferCount() { return callShared(&OutputSystem::getFreeBufferCount); }
int32_t outputIsOpen() { return callShared(&OutputSystem::isOpen); }

bool outputWaitsForBuffers() { return outputSystem.getFreeBufferCount == soundDeviceGetFreeBufferCount; }

int32_t waitForFreeBuffers(int32_t atLeast, int32_t timeoutMs) {
  if (outputWaitsForBuffers()) return soundDeviceWaitForFreeBuffers(atLeast, timeoutMs);
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return 1;
}

// The sound device keeps the wake until its next wait, whichever output is
// selected now: harmless, it only ends one wait early.
void wakeFreeBufferWait() { soundDeviceWakeWaiter(); }

int32_t selectOutputSystem(int32_t kind) {
  bool fellBack = false;
  {
    std::unique_lock<std::shared_mutex> hold(selectionLock);
    unloadOutputPlugin();
    switch (kind) {
      case kWaveFileOutput:
        outputSystem = waveFileOutputSystem();
        break;
      case kPluginOutput:
        if (const OutputSystem* plugin = loadOutputPlugin("default.kop")) {
          outputSystem = *plugin;
          break;
        }
        outputSystem = soundDeviceOutputSystem();
        fellBack = true;
        break;
      default:
        // Unknown kinds get the sound device, the output that always exists.
        outputSystem = soundDeviceOutputSystem();
        break;
    }
  }
  // Outside the lock: the box waits for the user, the display must not.
  if (fellBack) {
    platform::messageBox("KUVec2 Error: Cannot Initialize Output Plugin,\nDefaulting to Internal MMOutputSystem...",
                         "KUVec2 Error Message...",
                         platform::MB_OK | platform::MB_ICONERROR | platform::MB_SETFOREGROUND);
  }
  return 1;
}

}  // namespace kuv
