// The playlist model: order, the current position and how it follows
// content, deleting, shuffling and the advancing rules.
#include "playlist/playlist.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "config/settings.h"

namespace kuv {
namespace {

class PlaylistTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.ReadFileInfo = 0;
    clearPlaylist();
  }
  void TearDown() override { clearPlaylist(); }
  static void fill(const std::vector<std::string>& paths) {
    for (const std::string& p : paths) ASSERT_TRUE(addEntry(p));
  }
  static std::vector<std::string> paths() {
    std::vector<std::string> out;
    for (int32_t i = 0; PlaylistEntry* e = entryAt(i); ++i) out.push_back(e->path);
    return out;
  }
  static std::string current() {
    PlaylistEntry copy;
    return copyCurrentEntry(copy) ? copy.path : std::string("<none>");
  }
  // The links must agree in both directions and with first/last.
  static void expectConsistentLinks() {
    PlaylistEntry* previous = nullptr;
    for (PlaylistEntry* e = playlist.first; e; e = e->next) {
      EXPECT_EQ(e->previous, previous);
      previous = e;
    }
    EXPECT_EQ(playlist.last, previous);
  }
  test::SavedSettings saved_;
};

TEST_F(PlaylistTest, AddingKeepsOrderAndTheFirstEntryBecomesCurrent) {
  EXPECT_EQ(entryCount(), 0);
  EXPECT_EQ(current(), "<none>");
  fill({"/m/a.mp3", "/m/b.mp3", "/m/a.mp3"});
  EXPECT_EQ(entryCount(), 3);
  EXPECT_EQ(paths(), (std::vector<std::string>{"/m/a.mp3", "/m/b.mp3", "/m/a.mp3"}));
  EXPECT_EQ(current(), "/m/a.mp3");
  EXPECT_EQ(currentPosition(), 0);
  expectConsistentLinks();
}

TEST_F(PlaylistTest, PathsTooLongOrEmptyAreRefusedNotCut) {
  EXPECT_TRUE(addEntry("/" + std::string(kMaxPathBytes - 1, 'x')));
  EXPECT_FALSE(addEntry("/" + std::string(kMaxPathBytes, 'x')));
  EXPECT_FALSE(addEntry(""));
  EXPECT_FALSE(addEntry(std::string("/a\0b", 4)));
  ASSERT_EQ(entryCount(), 1);
  EXPECT_EQ(entryAt(0)->path.size(), kMaxPathBytes);
}

TEST_F(PlaylistTest, SelectByPositionAndByPath) {
  EXPECT_EQ(selectEntry(0), 0);  // empty list
  fill({"a", "b", "c"});
  EXPECT_EQ(selectEntry(1), 1);
  EXPECT_EQ(current(), "b");
  // Past the end: failure, and the last entry is left current.
  EXPECT_EQ(selectEntry(5), 0);
  EXPECT_EQ(current(), "c");
  EXPECT_EQ(selectEntry(-1, "b"), 1);
  EXPECT_EQ(current(), "b");
  EXPECT_EQ(selectEntry(-1, "B"), 1);  // case matters: no match, first entry
  EXPECT_EQ(current(), "a");
}

TEST_F(PlaylistTest, NextAndPreviousStopAtTheEnds) {
  fill({"a", "b"});
  EXPECT_EQ(previousEntry(), 0);
  EXPECT_EQ(nextEntry(), 1);
  EXPECT_EQ(current(), "b");
  EXPECT_EQ(nextEntry(), 0);
  EXPECT_EQ(current(), "b");
  EXPECT_EQ(previousEntry(), 1);
  EXPECT_EQ(current(), "a");
}

TEST_F(PlaylistTest, SortOrdersBytesUnsignedAndStably) {
  fill({"b.mp3", "A.mp3", "a.mp3"});
  selectEntry(2);  // a.mp3
  EXPECT_EQ(sortEntries(0), 1);
  EXPECT_EQ(paths(), (std::vector<std::string>{"A.mp3", "a.mp3", "b.mp3"}));
  EXPECT_EQ(current(), "a.mp3");
  EXPECT_EQ(sortEntries(1), 1);
  EXPECT_EQ(paths(), (std::vector<std::string>{"b.mp3", "a.mp3", "A.mp3"}));
  EXPECT_EQ(current(), "a.mp3");
  expectConsistentLinks();

  // Bytes above 0x7F sort after ASCII (unsigned), and equal paths keep
  // their order: told apart here by their lengths.
  clearPlaylist();
  fill({"\xC3\xA9.mp3", "z.mp3"});
  entryAt(0)->lengthMs = 1;
  sortEntries(0);
  EXPECT_EQ(paths(), (std::vector<std::string>{"z.mp3", "\xC3\xA9.mp3"}));
  clearPlaylist();
  fill({"same", "other", "same"});
  entryAt(0)->lengthMs = 1;
  entryAt(2)->lengthMs = 2;
  sortEntries(0);
  EXPECT_EQ(entryAt(1)->lengthMs, 1);
  EXPECT_EQ(entryAt(2)->lengthMs, 2);
  sortEntries(1);
  EXPECT_EQ(entryAt(0)->lengthMs, 1);
  EXPECT_EQ(entryAt(1)->lengthMs, 2);
}

TEST_F(PlaylistTest, SortOfFewerThanTwoChangesNothing) {
  EXPECT_EQ(sortEntries(0), 0);
  fill({"x"});
  EXPECT_EQ(sortEntries(0), 0);
}

TEST_F(PlaylistTest, ShuffleFollowsTheGeneratorAndTheDrawRule) {
  fill({"a", "b"});
  EXPECT_EQ(shuffleEntriesSeeded(1), 0);
  EXPECT_EQ(paths(), (std::vector<std::string>{"a", "b"}));

  clearPlaylist();
  const std::vector<std::string> names{"0", "1", "2", "3", "4", "5", "6"};
  fill(names);
  selectEntry(3);
  ASSERT_EQ(shuffleEntriesSeeded(12345), 1);
  // The same draws done by hand on a vector.
  std::vector<std::string> expected = names;
  ShuffleRandom random{12345};
  const int n = static_cast<int>(names.size());
  for (int i = 0; i < n; ++i) {
    const int j = (random.next() % (4 * (n - 1))) / 4;
    std::swap(expected[static_cast<size_t>(i)], expected[static_cast<size_t>(j)]);
  }
  EXPECT_EQ(paths(), expected);
  EXPECT_EQ(current(), "3");
  // A permutation: nothing lost or doubled.
  EXPECT_EQ(std::set<std::string>(expected.begin(), expected.end()).size(), names.size());
  expectConsistentLinks();
}

TEST_F(PlaylistTest, GeneratorMatchesTheKnownSequence) {
  // First outputs of the generator seeded with 1.
  ShuffleRandom random{1};
  EXPECT_EQ(random.next(), 41);
  EXPECT_EQ(random.next(), 18467);
  EXPECT_EQ(random.next(), 6334);
}

TEST_F(PlaylistTest, MoveSwapsWithNeighboursAndCarriesCurrent) {
  fill({"a", "b", "c", "d"});
  selectEntry(1);
  const int32_t down[] = {1, 3, 9};
  EXPECT_EQ(moveEntries(1, 3, down), 3);
  EXPECT_EQ(paths(), (std::vector<std::string>{"a", "c", "b", "d"}));
  EXPECT_EQ(current(), "b");
  const int32_t up[] = {0, 2};
  EXPECT_EQ(moveEntries(0, 2, up), 2);
  EXPECT_EQ(paths(), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(current(), "b");
}

TEST_F(PlaylistTest, DeleteAddressesPositionsBeforeTheDeletions) {
  fill({"a", "b", "c", "d"});
  const int32_t positions[] = {1, 2};
  EXPECT_EQ(deleteEntries(2, positions), 2);
  EXPECT_EQ(paths(), (std::vector<std::string>{"a", "d"}));
  expectConsistentLinks();
  const int32_t beyond[] = {7};
  EXPECT_EQ(deleteEntries(1, beyond), 1);
  EXPECT_EQ(entryCount(), 2);
}

TEST_F(PlaylistTest, DeletingTheCurrentEntryMovesOrClearsCurrent) {
  fill({"a", "b", "c"});
  selectEntry(1);
  const int32_t middle[] = {1};
  deleteEntries(1, middle);
  EXPECT_EQ(current(), "c");  // the following entry
  const int32_t last[] = {1};
  deleteEntries(1, last);
  EXPECT_EQ(current(), "<none>");
  EXPECT_EQ(nextEntry(), 0);
  EXPECT_EQ(previousEntry(), 0);
  // Adding to a list without a current entry does not make one.
  fill({"e"});
  EXPECT_EQ(current(), "<none>");
  EXPECT_EQ(selectEntry(0), 1);
  EXPECT_EQ(current(), "a");

  const int32_t first[] = {0};
  deleteEntries(1, first);
  EXPECT_EQ(current(), "e");
  deleteEntries(1, first);
  EXPECT_EQ(current(), "<none>");
  EXPECT_EQ(entryCount(), 0);
  EXPECT_EQ(playlist.first, nullptr);
  EXPECT_EQ(playlist.last, nullptr);
  fill({"f"});
  EXPECT_EQ(current(), "f");  // an empty list's first entry becomes current
}

TEST_F(PlaylistTest, TrackEndFollowsRepeatPlay) {
  fill({"a", "b"});
  std::string path;
  selectEntry(1);
  EXPECT_FALSE(advanceAtTrackEnd(0, path));
  EXPECT_TRUE(advanceAtTrackEnd(2, path));
  EXPECT_EQ(path, "b");
  EXPECT_TRUE(advanceAtTrackEnd(1, path));
  EXPECT_EQ(path, "a");
  EXPECT_TRUE(advanceAtTrackEnd(0, path));
  EXPECT_EQ(path, "b");
  clearPlaylist();
  EXPECT_FALSE(advanceAtTrackEnd(2, path));
  EXPECT_FALSE(advanceAtTrackEnd(1, path));
}

TEST_F(PlaylistTest, ClearingTellsTheEditor) {
  static std::atomic<int> calls{0};
  calls = 0;
  setPlaylistChangedHook([] { ++calls; });
  fill({"a"});
  clearPlaylist();
  setPlaylistChangedHook(nullptr);
  EXPECT_EQ(calls.load(), 1);
  EXPECT_EQ(current(), "<none>");
}

TEST_F(PlaylistTest, CopyingTheCurrentEntryIsSafeWhileTheListChanges) {
  // The display thread copies while the UI thread edits; under the thread
  // sanitizer this is where a missing lock shows.
  std::atomic<bool> done{false};
  std::thread reader([&] {
    PlaylistEntry copy;
    while (!done.load()) {
      if (copyCurrentEntry(copy)) {
        EXPECT_FALSE(copy.path.empty());
      }
    }
  });
  for (int round = 0; round < 200; ++round) {
    for (int i = 0; i < 10; ++i) addEntry("/m/" + std::to_string(round) + "-" + std::to_string(i));
    sortEntries(round & 1);
    shuffleEntriesSeeded(static_cast<uint32_t>(round));
    const int32_t positions[] = {0, 3};
    deleteEntries(2, positions);
    if (round % 50 == 49) clearPlaylist();
  }
  done = true;
  reader.join();
}

}  // namespace
}  // namespace kuv
