// KUVCurrentFile as another program sees it: read by name from a second
// process.
#include "plugins/current_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace kuv {
namespace {

// The 261 bytes as another program reads them by name (shm_open's names
// are the files of /dev/shm); "" when it cannot.
std::string readInAnotherProcess(const std::string& name) {
  const std::string command = "cat /dev/shm" + name;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return {};
  std::string got;
  char buffer[512];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) got.append(buffer, n);
  const bool read = pclose(pipe) == 0;
  return read && got.size() == kCurrentFileBytes ? got : std::string();
}

TEST(CurrentFile, AnotherProcessReadsThePathAndTheTailOfALongerOne) {
  const std::string name = "/KUVCurrentFile-test-" + std::to_string(getpid());
  ASSERT_TRUE(createCurrentFileMapping(name.c_str()));
  std::string bytes = readInAnotherProcess(name);
  ASSERT_EQ(bytes.size(), kCurrentFileBytes);
  EXPECT_EQ(bytes, std::string(kCurrentFileBytes, '\0')) << "not empty before the first track";

  publishCurrentFile("/music/a long folder name/01 - the first track.mp3");
  publishCurrentFile("/music/b.mp3");
  bytes = readInAnotherProcess(name);
  EXPECT_EQ(std::string(bytes.c_str()), "/music/b.mp3");
  EXPECT_EQ(bytes.substr(13, 24), " folder name/01 - the fi") << "the longer path's tail is kept";

  // Cut at 260 bytes, never within a character.
  std::string longPath = "/";
  while (longPath.size() < 259) longPath += 'x';
  longPath += "\xC3\xA9\xC3\xA9";  // 'é' across the 260th byte
  publishCurrentFile(longPath);
  bytes = readInAnotherProcess(name);
  EXPECT_EQ(std::string(bytes.c_str()), longPath.substr(0, 259));

  closeCurrentFileMapping();
  EXPECT_LT(shm_open(name.c_str(), O_RDONLY, 0), 0) << "the name outlived the mapping";
  publishCurrentFile("/after/close.mp3");  // does nothing
}

}  // namespace
}  // namespace kuv
