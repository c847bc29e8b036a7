// ID3v2 tags as they come in files: any bytes, with and without
// unsynchronisation, every text encoding.
#include <cstdint>
#include <vector>

#include "engine/id3v2_tag.h"
#include "engine/replay_gain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kuv::id3v2::Header header;
  kuv::id3v2::parseHeader(data, size, header);
  kuv::TagInfo tag{};
  kuv::id3v2::parseTag(data, size, tag);
  kuv::ReplayGainInfo gain;
  kuv::readId3v2ReplayGain(data, size, gain);
  if (size > 1) {
    kuv::id3v2::decodeText(data + 1, size - 1, data[0] & 3, 64);
    kuv::id3v2::skipString(data + 1, size - 1, data[0] & 3);
  }
  std::vector<uint8_t> copy(data, data + size);
  kuv::id3v2::removeUnsynchronisation(copy.data(), copy.size());
  return 0;
}
