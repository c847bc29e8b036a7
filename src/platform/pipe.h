// Anonymous pipes between the download thread and the decoder.
#pragma once

namespace kuv::platform {

constexpr int kPipeBufferBytes = 65536;

// Creates a close-on-exec pipe with a 65536-byte buffer.
// fds[0] is the read end, fds[1] the write end. False on failure.
bool createPipe(int fds[2]);

}  // namespace kuv::platform
