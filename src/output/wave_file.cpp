#include "output/wave_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>

#include "output/riff_writer.h"
#include "platform/dialogs.h"
#include "platform/message_box.h"

namespace kuv {

namespace {

// Only the decoder thread opens, writes and closes; isOpen is asked from
// other threads too (kuv-decode's main loop waits on it), hence the atomic.
struct WaveFile {
  std::atomic<bool> opened{false};
  std::string path;
  RiffWriter writer;
  RiffChunk riff;
  RiffChunk data;
};
WaveFile wave;

constexpr unsigned kOwnedBox = platform::MB_OK | platform::MB_ICONWARNING;

void report(const char* text) { platform::messageBox(text, kWaveFileErrorTitle, kOwnedBox); }

void putLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void putLe32(uint8_t* p, uint32_t v) {
  putLe16(p, v);
  putLe16(p + 2, v >> 16);
}

// The 18-byte PCM format record.
void formatRecord(uint8_t out[18], int32_t sampleRate, int32_t channels, int32_t eightBit) {
  const uint32_t bits = eightBit ? 8 : 16;
  const uint32_t blockAlign = static_cast<uint32_t>(channels) * bits / 8;
  putLe16(out, 1);
  putLe16(out + 2, static_cast<uint32_t>(channels));
  putLe32(out + 4, static_cast<uint32_t>(sampleRate));
  putLe32(out + 8, static_cast<uint32_t>(sampleRate) * blockAlign);
  putLe16(out + 12, blockAlign);
  putLe16(out + 14, bits);
  putLe16(out + 16, 0);
}

// Only a regular file we created is removed, never a device like /dev/full.
void removeOurFile() {
  struct stat st;
  if (stat(wave.path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(wave.path.c_str());
}

// A header that could not be written leaves no half file behind.
void discardPartialFile() {
  riffClose(wave.writer);
  removeOurFile();
}

}  // namespace

int32_t waveFileOpen(int32_t sampleRate, int32_t channels, int32_t eightBit) {
  if (wave.opened.load()) return 0;
  uint8_t format[18];
  formatRecord(format, sampleRate, channels, eightBit);
  const std::string path =
      platform::askSaveFileName({"Save a WaveForm Audio File...", "Waveform Audio", "*.wav", "WAV"});
  if (path.empty()) return 0;
  wave.path = path;
  if (!riffCreate(wave.writer, path)) {
    report("Could not open file.");
    return 0;
  }
  RiffChunk fmt;
  // The header goes to disk at once, so a disk that refuses it is found
  // here rather than at the first write.
  const bool headerWritten = riffCreateChunk(wave.writer, wave.riff, "RIFF", 0, "WAVE") &&
                             riffCreateChunk(wave.writer, fmt, "fmt ", 18) && riffWrite(wave.writer, format, 18) &&
                             riffAscend(wave.writer, fmt) && riffCreateChunk(wave.writer, wave.data, "data", 0) &&
                             riffFlush(wave.writer);
  if (!headerWritten) {
    report("Could not write to file");
    discardPartialFile();
    return 0;
  }
  wave.opened.store(true);
  return 1;
}

int32_t waveFileWrite(int32_t length, const void* data) {
  if (length <= 0) return length;
  if (!wave.opened.load() || data == nullptr) return -1;
  return riffWrite(wave.writer, data, static_cast<size_t>(length)) ? length : -1;
}

// A disk that filled up while writing left the writer with the bytes it did
// take: the chunk sizes are patched to those, so the audio that was written
// stays playable.
int32_t waveFileClose(int32_t /*discard*/) {
  if (!wave.opened.load()) return 0;
  // Each step is tried whatever happened before it.
  if (!riffFlush(wave.writer))
    platform::messageBox("mmioSetInfo() failed!", kWaveFileErrorTitle, platform::MB_ICONWARNING);
  const bool dataSized = riffAscend(wave.writer, wave.data);
  if (!dataSized) platform::messageBox("Ascend on data chunk failed!", kWaveFileErrorTitle, platform::MB_ICONWARNING);
  const bool riffSized = riffAscend(wave.writer, wave.riff);
  if (!riffSized) platform::messageBox("Ascend on RIFF chunk failed!", kWaveFileErrorTitle, platform::MB_ICONWARNING);
  const bool cutShort = wave.writer.failed;
  if (!riffClose(wave.writer)) {
    platform::messageBox("Could not close output file!", kWaveFileErrorTitle, platform::MB_ICONWARNING);
  }
  // Cut short and not even the header could be made to match: the file is
  // unreadable, so it goes as a file whose header failed at open does.
  if (cutShort && !(dataSized && riffSized)) removeOurFile();
  wave.opened.store(false);
  return 0;
}

int32_t waveFileIsOpen() { return wave.opened.load() ? 1 : 0; }

}  // namespace kuv
