// kuv-decode's receiver of the engine's progress: each report it takes lets
// the next one go, and each carries the counter of its moment.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/settings.h"
#include "engine/decoder_thread.h"
#include "output/output_system.h"
#include "platform/dialogs.h"
#include "session/notification_queue.h"
#include "support/test_support.h"

namespace kuv {
namespace {

// A receiver that shows no progress gets none after the first report, and
// the track still ends.
TEST(ProgressReceipt, AQueueReceiverGetsProgressAsItReadsItOrNoneWhenItShowsNone) {
  const std::string folder = test::makeTempFolder();
  ASSERT_FALSE(folder.empty());
  const Settings saved = settings;
  settings.AudioOutputSystem = kWaveFileOutput;
  settings.DownSample = 0;
  settings.Channels = -1;
  settings.AudioOutput8Bit = 0;
  const platform::SaveFileBackend previous =
      platform::setSaveFileBackend([&folder](const platform::SaveFileRequest&) { return folder + "/take.wav"; });
  const std::string one = test::readFile(test::fixturePath("l2_44_joint.mp2"));
  std::string many;
  for (int i = 0; i < 20; ++i) many += one;
  ASSERT_TRUE(test::writeFile(folder + "/long.mp2", many));

  for (const bool wanted : {true, false}) {
    SCOPED_TRACE(wanted ? "progress wanted" : "progress not wanted");
    NotificationQueue notes;
    notes.queue.open();
    notes.wantsProgress = wanted;
    ASSERT_GT(startEngine(queueSink(notes)), 0);
    play(folder + "/long.mp2");
    std::vector<intptr_t> posted;
    platform::ThreadMessage message;
    bool ended = false;
    while (!ended && notes.queue.get(&message)) {
      if (message.message == ENGINE_PROGRESS && message.lParam != 0) posted.push_back(message.lParam);
      ended = message.message == ENGINE_TRACK_ENDED;
      messageHandled(notes, message);
    }
    shutdownEngine();
    ASSERT_TRUE(ended);
    if (!wanted) {
      EXPECT_TRUE(posted.empty());
      continue;
    }
    // Without the receipt the engine posts the first report only.
    ASSERT_GE(posted.size(), 2u) << "taking a report lets the next one go";
    for (size_t i = 1; i < posted.size(); ++i) EXPECT_GT(posted[i], posted[i - 1]);
    for (intptr_t frame : posted) EXPECT_EQ(frame % 2, 0);
  }
  platform::setSaveFileBackend(previous);
  settings = saved;
  test::removeTree(folder);
}

}  // namespace
}  // namespace kuv
