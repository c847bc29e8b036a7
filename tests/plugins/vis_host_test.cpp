// The visualisation plug-in host with the plug-in kuv ships: its calls in
// order, fed from the visualisation queue, and the libraries it cannot use.
#include "plugins/vis_host.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <sstream>
#include <string>
#include <vector>

#include "engine/vis_queue.h"
#include "support/test_support.h"

namespace kuv {
namespace {

std::vector<std::string> lines(const std::string& path) {
  std::vector<std::string> out;
  std::istringstream in(test::readFile(path));
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

TEST(VisPluginHost, RunsTheShippedModuleFromInitToQuitWithTheQueuesData) {
  const std::string folder = test::makeTempFolder();
  ASSERT_FALSE(folder.empty());
  const std::string log = folder + "/calls.log";
  ASSERT_EQ(setenv("KUV_VIS_PLUGIN_LOG", log.c_str(), 1), 0);
  const char* display = getenv("DISPLAY");
  const std::string savedDisplay = display ? display : "";
  unsetenv("DISPLAY");  // no window: the calls alone

  clearVisQueue();
  VisFrame frame{};
  for (int i = 0; i < 576; ++i) frame.spectrumLeft[i] = frame.spectrumRight[i] = 7;
  pushVisFrame(frame);
  EXPECT_EQ(startVisPluginHost(KUV_VIS_PLUGIN, kVisPluginModule, 0, 2, 44100), 0);
  ASSERT_TRUE(test::waitUntil([] { return isVisPluginRunning(); }, std::chrono::seconds(20)));
  // A second start while it runs does nothing.
  EXPECT_EQ(startVisPluginHost(KUV_VIS_PLUGIN, kVisPluginModule, 0, 1, 22050), 0);
  ASSERT_TRUE(test::waitUntil([&] { return lines(log).size() >= 6; }, std::chrono::seconds(20)));
  stopVisPluginHost();
  EXPECT_FALSE(isVisPluginRunning());

  const std::vector<std::string> calls = lines(log);
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls.front(), "init 44100 2");
  EXPECT_EQ(calls.back(), "quit");
  for (size_t i = 1; i + 1 < calls.size(); ++i) EXPECT_EQ(calls[i], "render 8064") << "round " << i;  // 7 x 1152
  unsetenv("KUV_VIS_PLUGIN_LOG");
  if (!savedDisplay.empty()) setenv("DISPLAY", savedDisplay.c_str(), 1);
  clearVisQueue();
  test::removeTree(folder);
}

// A library that is missing, has no entry point, or no such module ends the
// host quietly: nothing runs, and the next start is not refused.
TEST(VisPluginHost, LibrariesItCannotUseEndTheHostQuietly) {
  const struct {
    const char* library;
    int32_t module;
  } cases[] = {
      {"/nonexistent/plugin.dll", 1},
      {KUV_RAWPCM_PLUGIN, 1},  // a library, but an output plug-in
      {KUV_VIS_PLUGIN, 7},     // no module 7
  };
  const std::string folder = test::makeTempFolder();
  ASSERT_FALSE(folder.empty());
  const std::string log = folder + "/calls.log";
  ASSERT_EQ(setenv("KUV_VIS_PLUGIN_LOG", log.c_str(), 1), 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.library);
    EXPECT_EQ(startVisPluginHost(c.library, c.module, 0, 1, 0), 0);
    stopVisPluginHost();
    EXPECT_FALSE(isVisPluginRunning());
  }
  EXPECT_TRUE(lines(log).empty()) << "a module was started";
  unsetenv("KUV_VIS_PLUGIN_LOG");
  test::removeTree(folder);
}

}  // namespace
}  // namespace kuv
