#include "decoder/pcm_staging.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace kuv {

namespace {
int32_t writePcm(PcmStagingBuffer& pcm) { return pcm.write ? pcm.write(pcm.writeContext, pcm.fill, pcm.data) : -1; }
}  // namespace

int32_t writeThresholdFor(int32_t sampleRateIndex, int32_t downSample) {
  // 16000 Hz is 6114, not 6144: kept, it only moves a write boundary.
  static const int32_t kThresholds[9] = {16384, 20480, 12288, 8192, 10240, 6114, 3072, 4096, 2048};
  if (sampleRateIndex < 0 || sampleRateIndex > 8) sampleRateIndex = 0;
  if (downSample < 0 || downSample > 2) downSample = 0;
  return kThresholds[sampleRateIndex] >> downSample;
}

bool pcmMakeRoom(PcmStagingBuffer& pcm, int32_t blockBytes) {
  while (pcm.fill + blockBytes > kPcmStagingBytes) {
    if (pcm.abandon && pcm.abandon->load(std::memory_order_relaxed)) return false;
    // Offer the output what is there; it may take some of it now.
    const int32_t taken = writePcm(pcm);
    if (taken < 0) return false;
    if (taken > 0) {
      const int32_t kept = taken < pcm.fill ? pcm.fill - taken : 0;
      std::memmove(pcm.data, pcm.data + (pcm.fill - kept), static_cast<size_t>(kept));
      pcm.fill = kept;
      continue;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

bool pcmBlockDone(PcmStagingBuffer& pcm, int32_t blockBytes) {
  pcm.fill += blockBytes;
  return pcmWriteIfDue(pcm);
}

bool pcmWriteIfDue(PcmStagingBuffer& pcm) {
  if (pcm.fill < pcm.writeThreshold) return true;
  const int32_t taken = writePcm(pcm);
  if (taken < 0) return false;
  if (taken < pcm.fill) {
    std::memmove(pcm.data, pcm.data + taken, static_cast<size_t>(pcm.fill - taken));
    pcm.fill -= taken;
  } else {
    pcm.fill = 0;
  }
  return true;
}

}  // namespace kuv
