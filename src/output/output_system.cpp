#include "output/output_system.h"

#include "output/sound_device.h"
#include "output/wave_file.h"
#include "platform/message_box.h"

namespace kuv {

OutputSystem outputSystem{};

namespace {
int32_t succeed() { return 1; }
// The wave file has no queue, position or volume: those slots do nothing.
int32_t nothing() { return 0; }
int32_t nothing1(int32_t) { return 0; }
}  // namespace

const OutputSystem& soundDeviceOutputSystem() {
  static const OutputSystem record = {
      soundDeviceInit,        soundDeviceShutdown,    soundDeviceOpen,          soundDeviceClose,
      soundDeviceIsOpen,      soundDeviceWrite,       soundDeviceFlush,         soundDevicePause,
      soundDeviceResume,      soundDeviceGetPosition, soundDeviceSetPosition,   soundDeviceGetVolume,
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

int32_t selectOutputSystem(int32_t kind) {
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
      platform::messageBox("KUVec2 Error: Cannot Initialize Output Plugin,\nDefaulting to Internal MMOutputSystem...",
                           "KUVec2 Error Message...", platform::MB_OK | platform::MB_ICONERROR | platform::MB_SETFOREGROUND);
      break;
    default:
      // Unknown kinds get the sound device, the output that always exists.
      outputSystem = soundDeviceOutputSystem();
      break;
  }
  return 1;
}

}  // namespace kuv
