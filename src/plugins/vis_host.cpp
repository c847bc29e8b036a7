#include "plugins/vis_host.h"

#include <dlfcn.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "engine/decoder_thread.h"
#include "engine/vis_queue.h"
#include "kuv/kuv_vis_plugin.h"
#include "output/output_system.h"
#include "platform/message_queue.h"

namespace kuv {

namespace {

struct VisHost {
  std::mutex control;  // start and stop
  std::thread thread;
  platform::MessageQueue queue;
  std::atomic<bool> running{false};
  // Written before the thread starts, then the thread's own.
  std::string library;
  int32_t moduleIndex = 0;
  unsigned long parentWindow = 0;
  int32_t channels = 1, sampleRate = 0;
  VisFrame frame{};
};

VisHost host;

// Below normal, on the decoder priorities' scale (1).
void lowerPriority() {
  const pid_t tid = static_cast<pid_t>(syscall(SYS_gettid));
  (void)setpriority(PRIO_PROCESS, static_cast<id_t>(tid), niceForPriority(1));
}

void hostThread() {
  pthread_setname_np(pthread_self(), "kuv-visplugin");
  lowerPriority();
  void* library = dlopen(pluginPath(host.library).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) return;
  auto getHeader = reinterpret_cast<kuvVisGetHeader>(dlsym(library, "winampVisGetHeader"));
  kuvVisHeader* header = getHeader ? getHeader() : nullptr;
  kuvVisModule* module = header && header->getModule ? header->getModule(host.moduleIndex) : nullptr;
  if (!module || !module->init || !module->render || !module->quit) {
    dlclose(library);
    return;
  }
  module->parentWindow = host.parentWindow;
  module->library = library;
  module->sampleRate = host.sampleRate;
  module->channels = host.channels;
  module->init(module);
  host.running.store(true);
  std::memset(&host.frame, 0, sizeof host.frame);
  platform::ThreadMessage message;
  for (;;) {
    if (host.queue.peek(&message) && message.message == platform::WM_QUIT) break;
    // An empty queue keeps the last picture's data.
    peekVisFrame(&host.frame);
    std::memcpy(module->spectrumData[0], host.frame.spectrumLeft, 576);
    std::memcpy(module->spectrumData[1], host.frame.spectrumRight, 576);
    std::memcpy(module->waveformData[0], host.frame.waveformLeft, 576);
    std::memcpy(module->waveformData[1], host.frame.waveformRight, 576);
    module->render(module);
    std::this_thread::sleep_for(std::chrono::milliseconds(kVisPluginRoundMs));
  }
  module->quit(module);
  dlclose(library);
}

}  // namespace

int32_t startVisPluginHost(const std::string& library, int32_t moduleIndex, unsigned long parentWindow,
                           int32_t channels, int32_t sampleRate) {
  std::lock_guard<std::mutex> guard(host.control);
  if (host.thread.joinable()) {
    if (!host.queue.hasEnded()) return 0;  // one module at a time
    host.thread.join();                    // the last one failed or quit
  }
  host.library = library;
  host.moduleIndex = moduleIndex;
  host.parentWindow = parentWindow;
  host.channels = channels;
  host.sampleRate = sampleRate;
  host.queue.open();
  try {
    host.thread = std::thread([] {
      hostThread();
      host.running.store(false);
      host.queue.close();
    });
  } catch (const std::system_error&) {
    host.queue.close();
  }
  return 0;
}

bool isVisPluginRunning() { return host.running.load(); }

void stopVisPluginHost() {
  std::lock_guard<std::mutex> guard(host.control);
  if (!host.thread.joinable()) return;
  platform::postRetry(host.queue, platform::WM_QUIT);
  host.thread.join();
}

}  // namespace kuv
