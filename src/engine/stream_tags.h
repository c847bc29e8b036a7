// What a stream says about itself while it plays: the station's name
// (icy-name) and the title of what is on (StreamTitle). The download thread
// publishes; the window, the desktop integration and kuv-decode read it when
// the engine posts ENGINE_STREAM_TAGS.
#pragma once

#include <cstdint>
#include <string>

namespace kuv {

struct StreamTags {
  std::string station;
  std::string title;
};

// Any thread. The generation moves on only when the content differs.
void publishStreamTags(const StreamTags& tags);
StreamTags currentStreamTags();
// Changes with every publish that changed the content; one atomic load.
uint64_t streamTagsGeneration();
// Empties the board (the decoder opens a new input); counts as a change
// when there was something.
void clearStreamTags();

}  // namespace kuv
