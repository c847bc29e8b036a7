#include "platform/pipe.h"

#include <fcntl.h>
#include <unistd.h>

namespace kuv::platform {

bool createPipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  // Linux defaults to 64 KiB already; ask anyway so the size is ours.
  (void)fcntl(fds[1], F_SETPIPE_SZ, kPipeBufferBytes);
  return true;
}

}  // namespace kuv::platform
