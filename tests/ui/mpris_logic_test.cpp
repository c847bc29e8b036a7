// What the desktop's media controls see and may ask: values, changes,
// seeks and opened URIs.
#include "ui/mpris_logic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "config/settings.h"
#include "engine/stream_tags.h"
#include "playlist/playlist.h"
#include "support/test_support.h"
#include "ui/led_display.h"
#include "ui/player_commands.h"
#include "ui/tray_logic.h"

namespace kuv {
namespace {

MprisView playingView() {
  MprisView v;
  v.playbackState = 0;
  v.entryCount = 3;
  v.entryPosition = 1;
  v.entryId = 7;
  v.path = "/music/a.mp3";
  v.lengthUs = 200'000'000;
  return v;
}

TEST(Mpris, SettingsMapBothWays) {
  const struct {
    int32_t repeat;
    const char* loop;
  } loops[] = {{0, "None"}, {1, "Playlist"}, {2, "Track"}};
  for (const auto& row : loops) {
    EXPECT_STREQ(mprisLoopStatus(row.repeat), row.loop);
    int32_t back = -1;
    EXPECT_TRUE(repeatForLoopStatus(row.loop, back));
    EXPECT_EQ(back, row.repeat);
  }
  int32_t untouched = 5;
  for (const char* wrong : {"", "none", "Playlists", "Track "}) {
    EXPECT_FALSE(repeatForLoopStatus(wrong, untouched)) << wrong;
    EXPECT_EQ(untouched, 5);
  }
  EXPECT_STREQ(mprisPlaybackStatus(0), "Playing");
  EXPECT_STREQ(mprisPlaybackStatus(1), "Paused");
  EXPECT_STREQ(mprisPlaybackStatus(2), "Stopped");

  const struct {
    double volume;
    int32_t eq;
  } volumes[] = {{0.0, 0},  {1.0, 63}, {0.5, 32},   {1.0 / 63, 1},
                 {-0.5, 0}, {7.0, 63}, {1e300, 63}, {std::numeric_limits<double>::quiet_NaN(), 0}};
  for (const auto& row : volumes) EXPECT_EQ(eqVolumeFor(row.volume), row.eq) << row.volume;
  for (int32_t eq = 0; eq <= 63; ++eq) EXPECT_EQ(eqVolumeFor(mprisVolume(eq)), eq);
  EXPECT_EQ(mprisVolume(-3), 0.0);
  EXPECT_EQ(mprisVolume(99), 1.0);

  EXPECT_EQ(mprisBusName(false, 42), "org.mpris.MediaPlayer2.kuv");
  EXPECT_EQ(mprisBusName(true, 42), "org.mpris.MediaPlayer2.kuv.instance42");
}

TEST(Mpris, ChangesNameExactlyTheChangedProperties) {
  const MprisView base = playingView();
  const struct {
    const char* what;
    void (*change)(MprisView&);
    uint32_t bits;
  } table[] = {
      {"nothing", [](MprisView&) {}, 0},
      {"paused", [](MprisView& v) { v.playbackState = 1; }, kMprisPlaybackStatus},
      {"stopped", [](MprisView& v) { v.playbackState = 2; }, kMprisPlaybackStatus | kMprisCanPause | kMprisCanSeek},
      {"repeat list", [](MprisView& v) { v.repeatPlay = 1; }, kMprisLoopStatus},
      {"shuffle", [](MprisView& v) { v.shufflePlay = 1; }, kMprisShuffle},
      {"volume", [](MprisView& v) { v.eqVolume = 40; }, kMprisVolume},
      {"volume out of range, same value", [](MprisView& v) { v.eqVolume = 0 - 5; }, 0},
      {"stream title", [](MprisView& v) { v.title = "Song"; }, kMprisMetadata},
      {"station", [](MprisView& v) { v.artist = "Radio"; }, kMprisMetadata},
      {"another entry at the same place", [](MprisView& v) { v.entryId = 8; }, kMprisMetadata},
      {"the length became known", [](MprisView& v) { v.lengthUs = 1; }, kMprisMetadata},
      {"a stream without length", [](MprisView& v) { v.lengthUs = 0; }, kMprisMetadata | kMprisCanSeek},
      {"last entry", [](MprisView& v) { v.entryPosition = 2; }, kMprisCanGoNext},
      {"first entry", [](MprisView& v) { v.entryPosition = 0; }, kMprisCanGoPrevious},
      {"list emptied", [](MprisView& v) { v = MprisView{}; },
       kMprisPlaybackStatus | kMprisMetadata | kMprisCanGoNext | kMprisCanGoPrevious | kMprisCanPlay | kMprisCanPause |
           kMprisCanSeek},
  };
  for (const auto& row : table) {
    MprisView after = base;
    row.change(after);
    EXPECT_EQ(mprisChanged(base, after), row.bits) << row.what;
  }
  // The last entry with the list repeating can still go on.
  MprisView last = base;
  last.entryPosition = 2;
  last.repeatPlay = 1;
  EXPECT_TRUE(mprisCanGoNext(last));
  EXPECT_EQ(mprisPropertyNames().size(), 10u);
  EXPECT_EQ(mprisPropertyNames()[3], "Metadata");
}

TEST(Mpris, SeeksStayInsideTheTrack) {
  const MprisView v = playingView();
  using Kind = MprisSeek::Kind;
  const int64_t big = std::numeric_limits<int64_t>::max();
  const struct {
    int64_t position, offset;
    Kind kind;
    int64_t ms;
  } seeks[] = {
      {10'000'000, 5'000'000, Kind::kSeekTo, 15'000},
      {10'000'000, -30'000'000, Kind::kSeekTo, 0},  // before the start: the start
      {10'000'000, 190'000'000, Kind::kNext, 0},    // to the end: the next track
      {10'000'000, big, Kind::kNext, 0},            // no overflow
      {10'000'000, -big - 1, Kind::kSeekTo, 0},
      {0, 1'500, Kind::kSeekTo, 1},
  };
  for (const auto& row : seeks) {
    const MprisSeek s = mprisSeekBy(v, row.position, row.offset);
    EXPECT_EQ(s.kind, row.kind) << row.position << " + " << row.offset;
    if (s.kind == Kind::kSeekTo) {
      EXPECT_EQ(s.ms, row.ms) << row.position << " + " << row.offset;
    }
  }
  MprisView stream = v;
  stream.lengthUs = 0;
  EXPECT_EQ(mprisSeekBy(stream, 0, 1'000'000).kind, Kind::kNone) << "a stream cannot seek";
  MprisView stopped = v;
  stopped.playbackState = 2;
  EXPECT_EQ(mprisSeekBy(stopped, 0, 1'000'000).kind, Kind::kNone);

  const std::string id = mprisTrackId(v);
  EXPECT_EQ(id, "/org/kuv/track/7");
  EXPECT_EQ(mprisTrackId(MprisView{}), kMprisNoTrack);
  const struct {
    std::string track;
    int64_t position;
    Kind kind;
  } positions[] = {
      {id, 60'000'000, Kind::kSeekTo}, {id, 0, Kind::kSeekTo}, {id, 200'000'000, Kind::kSeekTo},
      {id, 200'000'001, Kind::kNone},  {id, -1, Kind::kNone},  {"/org/kuv/track/8", 60'000'000, Kind::kNone},
      {kMprisNoTrack, 0, Kind::kNone},
  };
  for (const auto& row : positions) {
    const MprisSeek s = mprisSetPosition(v, row.track, row.position);
    EXPECT_EQ(s.kind, row.kind) << row.track << " @ " << row.position;
    if (s.kind == Kind::kSeekTo) {
      EXPECT_EQ(s.ms, row.position / 1000);
    }
  }
}

TEST(Mpris, UrisBecomeNamesAndNamesUrls) {
  const struct {
    const char* uri;
    bool ok;
    const char* name;
  } table[] = {
      {"file:///music/a%20b.mp3", true, "/music/a b.mp3"},
      {"FILE:///x.mp3", true, "/x.mp3"},
      {"file://localhost/music/x.mp3", true, "/music/x.mp3"},
      {"file:///music/%C3%BC.mp3", true, "/music/\xC3\xBC.mp3"},
      {"file:///music/a.mp3?query#part", true, "/music/a.mp3"},
      {"http://radio.example/live.pls", true, "http://radio.example/live.pls"},
      {"https://radio.example/x", true, "https://radio.example/x"},
      {"file://otherhost/music/x.mp3", false, ""},
      {"file:relative.mp3", false, ""},
      {"file:///a%00b.mp3", false, ""},
      {"file:///a%2", false, ""},
      {"file:///a%zz", false, ""},
      {"ftp://host/x.mp3", false, ""},
      {"/music/plain.mp3", false, ""},
      {"", false, ""},
  };
  for (const auto& row : table) {
    std::string name = "untouched";
    EXPECT_EQ(nameForUri(row.uri, name), row.ok) << row.uri;
    EXPECT_EQ(name, row.ok ? row.name : "untouched") << row.uri;
  }
  std::string name;
  EXPECT_FALSE(nameForUri("file:///" + std::string(kMaxPathBytes + 1, 'a'), name));

  EXPECT_EQ(mprisUrl("/music/a b/\xC3\xBC#1.mp3"), "file:///music/a%20b/%C3%BC%231.mp3");
  EXPECT_EQ(mprisUrl("http://radio.example/a b"), "http://radio.example/a b");
  // Decoding what was encoded gives the path back.
  const std::string odd = "/m/100% [live] & more?.mp3";
  ASSERT_TRUE(nameForUri(mprisUrl(odd), name));
  EXPECT_EQ(name, odd);
}

struct NoWindow : WindowActions {
  int32_t openFiles(bool, int32_t) override { return 0; }
  bool askLocation(std::string&) override { return false; }
  void closeWindow() override {}
};

TEST(Mpris, TheViewFollowsThePlaylistAndTheTrack) {
  test::SavedSettings saved;
  clearPlaylist();
  NoWindow window;
  PlayerWindow w{PlaybackSession{realEngine(), kWindowAdvance}, PlayerState{}, window};
  MprisView v = mprisViewOf(w);
  EXPECT_EQ(v.entryId, 0u);
  EXPECT_FALSE(mprisCanPlay(v));

  settings.ReadFileInfo = 0;
  ASSERT_TRUE(addEntry("/music/one.mp3"));
  ASSERT_TRUE(addEntry("http://radio.example/live"));
  ASSERT_TRUE(selectEntry(1));
  settings.RepeatPlay = 2;
  settings.EqVolume = 21;
  v = mprisViewOf(w);
  EXPECT_EQ(v.entryCount, 2);
  EXPECT_EQ(v.entryPosition, 1);
  EXPECT_NE(v.entryId, 0u);
  EXPECT_EQ(v.path, "http://radio.example/live");
  EXPECT_EQ(mprisTitle(v), "live");
  EXPECT_EQ(v.lengthUs, 0);
  EXPECT_EQ(v.repeatPlay, 2);
  EXPECT_EQ(v.eqVolume, 21);

  // A playing MPEG-1 Layer III track of 1000 frames at 44.1 kHz.
  ASSERT_TRUE(selectEntry(0));
  w.session.state.playbackState = 0;
  w.state.totalFrames = 1000;
  w.state.info.sampleRate = 44100;
  w.state.info.layer = 3;
  settings.DownSample = 0;
  v = mprisViewOf(w);
  EXPECT_EQ(v.lengthUs, 26'122'000);  // 26.122449 s in whole milliseconds
  EXPECT_TRUE(mprisCanSeek(v));
  clearPlaylist();
}

}  // namespace
}  // namespace kuv

namespace kuv {
namespace {

struct TitleWatcher : NoWindow {
  void currentEntryChanged() override { ++changes; }
  int changes = 0;
};

// What a stream says of itself names its entry in the editor, on the LED,
// in the tray's tip and on the desktop; a file's own tag stays its own.
TEST(Mpris, AStreamsTitleNamesItsEntryEverywhere) {
  test::SavedSettings saved;
  settings.ReadFileInfo = 0;
  clearPlaylist();
  TitleWatcher window;
  PlayerWindow w{PlaybackSession{realEngine(), kWindowAdvance}, PlayerState{}, window};
  ASSERT_TRUE(addEntry("http://radio.example/live"));
  ASSERT_TRUE(selectEntry(0));

  const struct {
    const char* station;
    const char* title;
    const char* line;
    const char* shown;  // LED, tray, xesam:title
    const char* artist;
  } table[] = {
      {"", "", "1> live", "live", ""},
      {"Radio KUV", "", "1> Radio KUV", "Radio KUV", ""},
      {"Radio KUV", "AC/DC - Thunderstruck", "1> AC/DC - Thunderstruck / Radio KUV", "AC/DC - Thunderstruck",
       "Radio KUV"},
      {"", "Caf\xC3\xA9 Song", "1> Caf\xC3\xA9 Song", "Caf\xC3\xA9 Song", ""},
  };
  for (const auto& row : table) {
    const int before = window.changes;
    publishStreamTags({row.station, row.title});
    onStreamTags(w);
    EXPECT_EQ(window.changes, before + 1) << row.title;
    PlaylistEntry entry;
    ASSERT_TRUE(copyCurrentEntry(entry));
    EXPECT_EQ(entryLineText(1, entry), row.line);
    char led[kLedTitleBytes];
    ledTitleOf(led, entry);
    EXPECT_STREQ(led, row.shown);
    EXPECT_EQ(trayTipText(entry.path, 5, streamTitleOf(entry)), std::string("Kuv - ") + row.shown + " - 005%");
    const MprisView v = mprisViewOf(w);
    EXPECT_EQ(mprisTitle(v), row.shown);
    EXPECT_EQ(v.artist, row.artist);
  }

  // A title longer than a tag's field is cut, never inside a character.
  std::string longTitle;
  for (int i = 0; i < 100; ++i) longTitle += "\xC3\xA9";
  publishStreamTags({"", longTitle});
  onStreamTags(w);
  PlaylistEntry entry;
  ASSERT_TRUE(copyCurrentEntry(entry));
  const std::string kept = streamTitleOf(entry);
  EXPECT_GE(kept.size(), 100u);
  EXPECT_EQ(kept.size() % 2, 0u);
  EXPECT_EQ(longTitle.compare(0, kept.size(), kept), 0);

  // A file is not renamed by a stream's report.
  ASSERT_TRUE(addEntry("/music/file.mp3"));
  ASSERT_TRUE(selectEntry(1));
  publishStreamTags({"Radio KUV", "Other"});
  const int before = window.changes;
  onStreamTags(w);
  EXPECT_EQ(window.changes, before);
  ASSERT_TRUE(copyCurrentEntry(entry));
  EXPECT_EQ(streamTitleOf(entry), "");
  clearStreamTags();
  clearPlaylist();
}

}  // namespace
}  // namespace kuv
