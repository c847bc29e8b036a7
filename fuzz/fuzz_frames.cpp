// MPEG audio files as the decoder and the file information reader see them:
// headers, side information, Huffman data, Xing/VBRI and ID3 tags.
#include <cstdint>
#include <string>

#include "config/settings.h"
#include "fuzz_support.h"
#include "platform/message_box.h"
#include "playlist/file_info.h"
#include "playlist/playlist.h"
#include "support/decode_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    kuv::fuzz::silenceBoxes();
    kuv::loadSettingsFrom(kuv::settings, "/nonexistent/kuv.ini", "/tmp/");
    return true;
  }();
  (void)ready;
  const std::string path = kuv::fuzz::inputAsFile(data, size, ".mp3");
  kuv::PlaylistEntry entry;
  entry.path = path;
  kuv::readEntryInfo(entry);
  kuv::test::DecodeOptions options;
  options.answer = kuv::platform::IDYES;  // "Try Resync?": yes, the harder path
  kuv::test::decodeInProcess(path, options);
  return 0;
}
