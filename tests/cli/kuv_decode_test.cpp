// kuv-decode --info against ffprobe, run as the user runs it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/console_player.h"
#include "cli/terminal_text.h"
#include "support/test_support.h"

namespace kuv {
namespace {

std::string run(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return output;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  pclose(pipe);
  return output;
}

// The number after `label` in `text`, or -1.
double numberAfter(const std::string& text, const std::string& label) {
  const size_t at = text.find(label);
  return at == std::string::npos ? -1.0 : std::atof(text.c_str() + at + label.size());
}

TEST(KuvDecodeInfo, AgreesWithFfprobeOnFramesAndDuration) {
  KUV_REQUIRE_REFERENCE(!run("command -v ffprobe").empty(), "ffprobe");
  const char* files[] = {"cbr.mp3", "cbr_notag.mp3", "vbr.mp3",   "vbr_notag.mp3",  "mpeg2.mp3",     "mpeg25.mp3",
                         "crc.mp3", "mono.mp3",      "id3v2.mp3", "junk_front.mp3", "truncated.mp3", "id3v1.mp3"};
  for (const char* name : files) {
    SCOPED_TRACE(name);
    const std::string path = test::fixturePath(name);
    const std::string ours = run(std::string(KUV_DECODE_BIN) + " --info '" + path + "' 2>&1");
    const std::string theirs =
        run("ffprobe -v error -count_frames -select_streams a:0 -show_entries "
            "stream=nb_read_frames,duration,sample_rate -of default=nw=1 '" +
            path + "'");
    const double frames = numberAfter(ours, "frames: ");
    const double rate = numberAfter(theirs, "sample_rate=");
    ASSERT_GT(frames, 0) << ours;
    ASSERT_GT(rate, 0) << theirs;
    const double frameSeconds = (rate < 32000 ? 576 : 1152) / rate;
    EXPECT_NEAR(frames, numberAfter(theirs, "nb_read_frames="), 1.0) << ours << theirs;
    const size_t open = ours.find('(', ours.find("duration: "));
    const double exact = std::atof(ours.c_str() + open + 1);
    // Without a tag ffprobe estimates a VBR file's length from its first
    // frame; compare with the frames it read instead.
    const double reference = std::string(name) == "vbr_notag.mp3"
                                 ? numberAfter(theirs, "nb_read_frames=") * frameSeconds
                                 : numberAfter(theirs, "duration=");
    EXPECT_NEAR(exact, reference, frameSeconds * 1.01) << ours << theirs;
    EXPECT_EQ(ours.find("error"), std::string::npos) << ours;
  }
}

TEST(KuvDecodeInfo, ReportsStreamErrorsAndUnopenableInputs) {
  const std::string random =
      run(std::string(KUV_DECODE_BIN) + " --info '" + test::fixturePath("random.bin") + "' 2>/dev/null");
  EXPECT_NE(random.find("error: Synchronization Error... This does not look like a valid MPEG Audio File"),
            std::string::npos)
      << random;
  const std::string missing = run(std::string(KUV_DECODE_BIN) + " --info /nonexistent.mp3 2>/dev/null");
  EXPECT_NE(missing.find("error: cannot open"), std::string::npos) << missing;
}

TEST(KuvDecodeInfo, DescribesTheSampleTrack) {
  const std::string out =
      run(std::string(KUV_DECODE_BIN) + " --info '" + KUV_SOURCE_DIR + "/resources/samples/kuv-sample.mp3'");
  EXPECT_NE(out.find("layer: III"), std::string::npos) << out;
  EXPECT_NE(out.find("sample rate: 44100 Hz"), std::string::npos) << out;
  EXPECT_GT(numberAfter(out, "frames: "), 300);
}

// --- Playlists on the command line ------------------------------------------

class KuvDecodePlaylist : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = test::makeTempFolder(); }
  void TearDown() override { test::removeTree(dir_); }
  std::string copyFixture(const std::string& fixture, const std::string& name) {
    const std::string path = dir_ + "/" + name;
    EXPECT_TRUE(test::writeFile(path, test::readFile(test::fixturePath(fixture))));
    return path;
  }
  // kuv-decode with a settings file of its own (XDG_CONFIG_HOME in the folder).
  std::string kuvDecode(const std::string& arguments) {
    return run("cd '" + dir_ + "' && XDG_CONFIG_HOME='" + dir_ + "/config' " + KUV_DECODE_BIN + " " + arguments +
               " 2>&1");
  }
  std::string dir_;
};

TEST_F(KuvDecodePlaylist, ListShowsLinesLengthsAndTheTotal) {
  copyFixture("l2_44_joint.mp2", "b.mp2");
  copyFixture("id3v1.mp3", "a.mp3");
  test::writeFile(dir_ + "/list.m3u", "#EXTM3U\n#EXTINF:1,x\nb.mp2\nmissing.mp3\nhttp://radio.example/live\n");
  const std::string out = kuvDecode("--list '" + dir_ + "/a.mp3' '" + dir_ + "/list.m3u'");
  EXPECT_NE(out.find("1> "), std::string::npos) << out;
  EXPECT_NE(out.find("2> b.mp2  [00:00:"), std::string::npos) << out;
  EXPECT_NE(out.find("3> live  [--:--:--]"), std::string::npos) << out;
  EXPECT_NE(out.find("1 entry of " + dir_ + "/list.m3u could not be found:\n" + dir_ + "/missing.mp3"),
            std::string::npos)
      << out;
  // The URL has no length, so neither has the whole.
  EXPECT_NE(out.find("Playtime: Unknown"), std::string::npos) << out;
}

TEST_F(KuvDecodePlaylist, PlaysAFolderAndRepeatsAsAsked) {
  constexpr size_t kHeader = 46;  // RIFF, an 18-byte format chunk, the data chunk header
  auto dataSize = [](const std::string& wave) {
    uint32_t size = 0;
    for (int i = 3; i >= 0; --i) size = size << 8 | static_cast<uint8_t>(wave[kHeader - 4 + static_cast<size_t>(i)]);
    return static_cast<size_t>(size);
  };
  copyFixture("l2_16k.mp2", "2.mp2");
  copyFixture("l2_16k.mp2", "1.mp2");
  const std::string wave = dir_ + "/out.wav";
  const std::string out = kuvDecode("-q -o '" + wave + "' '" + dir_ + "'");
  const std::string both = test::readFile(wave);
  ASSERT_GT(both.size(), kHeader) << out;
  // Two tracks of one rate go into one file.
  test::removeTree(wave);
  test::writeFile(dir_ + "/one.m3u", "1.mp2\n");
  const std::string single = kuvDecode("-q -o '" + wave + "' '" + dir_ + "/one.m3u'");
  const size_t oneTrack = dataSize(test::readFile(wave));
  EXPECT_EQ(dataSize(both), 2 * oneTrack) << single;
  // Repeat 1 starts over until interrupted; the wave file is still whole.
  test::removeTree(wave);
  // Interrupted once the file holds more than three rounds (or after 20 s).
  const std::string enough = std::to_string(kHeader + 3 * oneTrack + 1);
  kuvDecode("-q --repeat 1 -o '" + wave + "' '" + dir_ +
            "/one.m3u' & pid=$!; for i in $(seq 400); do "
            "[ \"$(stat -c %s '" +
            wave + "' 2>/dev/null || echo 0)\" -gt " + enough + " ] && break; sleep 0.05; done; kill -INT $pid; wait");
  const std::string repeated = test::readFile(wave);
  ASSERT_GT(repeated.size(), kHeader);
  EXPECT_GT(dataSize(repeated), 3 * oneTrack);
  EXPECT_EQ(dataSize(repeated), repeated.size() - kHeader - (repeated.size() - kHeader) % 2);
}

TEST_F(KuvDecodePlaylist, NothingToPlayIsAnError) {
  const std::string out = kuvDecode("-q -o /dev/null '" + dir_ + "/nothing.mp3' 2>&1; echo status=$?");
  EXPECT_NE(out.find("Error Adding Directory"), std::string::npos) << out;
  EXPECT_NE(out.find("status=1"), std::string::npos) << out;
}

// --- Exit statuses ------------------------------------------------------------

// kuv-decode run as a script would run it, in a folder of its own: HOME
// there, with an .asoundrc whose default PCM writes into played.raw, and its
// settings there too.
class KuvDecodeStatus : public ::testing::Test {
 protected:
  static constexpr int kNotEnded = -1;

  void SetUp() override {
    dir_ = test::makeTempFolder();
    ASSERT_FALSE(dir_.empty());
    ASSERT_TRUE(test::writeFile(dir_ + "/.asoundrc",
                                "pcm.!default {\n"
                                "  type file\n"
                                "  slave.pcm \"null\"\n"
                                "  file \"" +
                                    dir_ +
                                    "/played.raw\"\n"
                                    "  format \"raw\"\n"
                                    "}\n"));
  }
  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    test::removeTree(dir_);
  }

  // Starts kuv-decode with these arguments, stderr into errors.txt, under a
  // file-size limit when one is given.
  void start(const std::vector<std::string>& arguments, rlim_t fileSizeLimit = RLIM_INFINITY) {
    std::vector<std::string> texts = {KUV_DECODE_BIN};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environment = {"HOME=" + dir_, "XDG_CONFIG_HOME=" + dir_ + "/config", "PATH=/usr/bin:/bin",
                                            "LANG=C"};
    std::vector<char*> argv;
    for (std::string& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& text : environment) envp.push_back(text.data());
    envp.push_back(nullptr);
    const std::string errors = dir_ + "/errors.txt";
    pid_ = fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      // What the test runner ignores or blocks must not hide the faults.
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      for (int signal : {SIGINT, SIGTERM, SIGXFSZ, SIGPIPE}) ::signal(signal, SIG_DFL);
      const rlimit limit{fileSizeLimit, fileSizeLimit};
      if (fileSizeLimit != RLIM_INFINITY) setrlimit(RLIMIT_FSIZE, &limit);
      if (freopen(errors.c_str(), "w", stderr) == nullptr || freopen("/dev/null", "w", stdout) == nullptr) _exit(126);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
  }

  // The child's exit status (128 + the signal when a signal ended it), or
  // kNotEnded when it was still running after `limit` and has been killed.
  int finish(std::chrono::seconds limit = std::chrono::seconds(60)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = 0;
        return kNotEnded;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  std::string errors() const { return test::readFile(dir_ + "/errors.txt"); }

  // Whether the wave file's RIFF and data sizes match the bytes it holds.
  static bool headerAgrees(const std::string& wave, std::string* why) { return headerAgrees(wave, wave.size(), why); }
  // The same for a file of `total` bytes that begins with `head`.
  static bool headerAgrees(const std::string& head, size_t total, std::string* why) {
    constexpr size_t kHeader = 46;  // RIFF, an 18-byte format chunk, the data chunk header
    auto sizeAt = [&](size_t at) {
      uint32_t size = 0;
      for (int i = 3; i >= 0; --i) size = size << 8 | static_cast<uint8_t>(head[at + static_cast<size_t>(i)]);
      return static_cast<size_t>(size);
    };
    if (head.size() < kHeader || total < kHeader) {
      *why = "only " + std::to_string(total) + " bytes";
      return false;
    }
    *why = std::to_string(total) + " bytes, RIFF size " + std::to_string(sizeAt(4)) + ", data size " +
           std::to_string(sizeAt(kHeader - 4));
    return sizeAt(4) == total - 8 && sizeAt(kHeader - 4) == total - kHeader;
  }

  static size_t sizeOnDisk(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<size_t>(info.st_size) : 0;
  }

  std::string dir_;
  pid_t pid_ = 0;
};

TEST_F(KuvDecodeStatus, TellsWhetherEveryInputProducedAudio) {
  const std::string good = test::fixturePath("l2_16k.mp2");
  const std::string sample = std::string(KUV_SOURCE_DIR) + "/resources/samples/kuv-sample.mp3";
  const std::string text = dir_ + "/notes.txt";
  const std::string page = dir_ + "/download.mp3";
  ASSERT_TRUE(test::writeFile(text, "Shopping list\n\neggs\nflour\nmilk\n"));
  std::string html = "<!DOCTYPE html>\n<html><head><title>404 Not Found</title></head>\n<body>";
  for (int i = 0; i < 200; ++i) html += "<p>The requested URL was not found on this server.</p>\n";
  ASSERT_TRUE(test::writeFile(page, html + "</body></html>\n"));
  const std::string wave = dir_ + "/out.wav";
  const std::string missing = dir_ + "/missing.mp3";
  // A header of 46 bytes and a whole number of 16-bit stereo frames.
  constexpr rlim_t kSmallDisk = 46 + 100000;
  struct Case {
    const char* what;
    std::vector<std::string> arguments;
    int status;
    std::vector<std::string> printed;  // lines expected on stderr
    rlim_t fileSizeLimit = RLIM_INFINITY;
  };
  const Case cases[] = {
      {"a good file", {"-q", "-o", wave, good}, kExitOk, {}},
      {"a good file through the sound device", {"-q", good}, kExitOk, {}},
      {"a text file", {"-q", "-o", wave, text}, kExitInputFailed, {"kuv-decode: " + text + ": no MPEG audio\n"}},
      {"an HTML page", {"-q", "-o", wave, page}, kExitInputFailed, {"kuv-decode: " + page + ": no MPEG audio\n"}},
      {"a good file and a text file",
       {"-q", "-o", wave, good, text},
       kExitInputFailed,
       {"kuv-decode: " + text + ": no MPEG audio\n"}},
      {"a missing file", {"-q", "-o", wave, missing}, kExitInputFailed, {"kuv-decode: " + missing + ": cannot open\n"}},
      {"a missing file and a good file",
       {"-q", "-o", wave, missing, good},
       kExitInputFailed,
       {"kuv-decode: " + missing + ": cannot open\n"}},
      {"a wave file in a missing folder",
       {"-q", "-o", dir_ + "/no/such/folder/out.wav", good, good},
       kExitOutputFailed,
       {"kuv-decode: the output could not be opened; stopped\n"}},
      {"a wave file on /dev/full", {"-q", "-o", "/dev/full", good}, kExitOutputFailed, {}},
      {"a sound device that does not exist",
       {"-q", "--device", "999", good},
       kExitOutputFailed,
       {"kuv-decode: the output could not be opened; stopped\n"}},
      {"a disk that fills up",
       {"-q", "-o", wave, sample},
       kExitOutputFailed,
       {"Could not write audio data", "kuv-decode: " + sample + ": the output failed; stopped\n"},
       kSmallDisk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::removeTree(wave);
    start(c.arguments, c.fileSizeLimit);
    ASSERT_GT(pid_, 0);
    const int status = finish();
    const std::string printed = errors();
    EXPECT_EQ(status, c.status) << printed;
    for (const std::string& line : c.printed) EXPECT_NE(printed.find(line), std::string::npos) << printed;
    if (c.status == kExitOk) {
      EXPECT_EQ(printed.find("kuv-decode:"), std::string::npos) << printed;
    }
    if (c.fileSizeLimit != RLIM_INFINITY) {
      // What reached the disk stays readable.
      std::string why;
      EXPECT_TRUE(headerAgrees(test::readFile(wave), &why)) << why;
    }
  }
}

TEST_F(KuvDecodeStatus, CtrlCEndsPlaybackPromptly) {
  const std::string sample = std::string(KUV_SOURCE_DIR) + "/resources/samples/kuv-sample.mp3";
  const std::string wave = dir_ + "/out.wav";
  const std::string played = dir_ + "/played.raw";
  struct Case {
    const char* what;
    std::vector<std::string> arguments;
    std::string output;  // grows while it plays
    int signal;
  };
  // Repeated for ever, so only the signal ends it.
  const Case cases[] = {
      {"the sound device, Ctrl-C", {"-q", "--repeat", "1", sample}, played, SIGINT},
      {"a wave file, Ctrl-C", {"-q", "--repeat", "1", "-o", wave, sample}, wave, SIGINT},
      {"a wave file, SIGTERM", {"-q", "--repeat", "1", "-o", wave, sample}, wave, SIGTERM},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::removeTree(c.output);
    start(c.arguments);
    ASSERT_GT(pid_, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    // By its size alone: a wave file grows by tens of megabytes a second,
    // and reading it whole on every look would take longer and longer.
    while (sizeOnDisk(c.output) < 200000 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_GE(sizeOnDisk(c.output), 200000u) << errors();
    kill(pid_, c.signal);
    EXPECT_EQ(finish(std::chrono::seconds(10)), kExitInterrupted) << errors();
    if (c.output == wave) {
      // The header and the size on disk are all the check needs.
      std::string head;
      std::ifstream in(wave, std::ios::binary);
      head.resize(46);
      in.read(head.data(), static_cast<std::streamsize>(head.size()));
      head.resize(static_cast<size_t>(in.gcount()));
      std::string why;
      EXPECT_TRUE(headerAgrees(head, sizeOnDisk(wave), &why)) << why;
    }
    std::remove(c.output.c_str());
  }
}

// --- Text from files on the terminal ------------------------------------------

TEST(TerminalText, ControlsAreEscapedAndUtf8Kept) {
  struct Case {
    const char* what;
    std::string text;
    std::string shown;
  };
  const Case cases[] = {
      {"plain", "Artist - Title (1999).mp3", "Artist - Title (1999).mp3"},
      {"ESC sequences", "\x1b]0;owned\x07\x1b[2J", "\\x1b]0;owned\\x07\\x1b[2J"},
      {"C0, tab, line break and DEL", std::string("a\0b\tc\nd\x7f", 8), "a\\x00b\\x09c\\x0ad\\x7f"},
      {"UTF-8 text", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5"},
      {"C1 controls in UTF-8",
       "\xc2\x9b"
       "2J\xc2\x80\xc2\x9f\xc2\xa0",
       "\\xc2\\x9b2J\\xc2\\x80\\xc2\\x9f\xc2\xa0"},
      {"bytes that are no UTF-8",
       "caf\xe9 \x9b"
       "2J \xc0\xaf \xed\xa0\x80 \xe2\x82",
       "caf\\xe9 \\x9b2J \\xc0\\xaf "
       "\\xed\\xa0\\x80 \\xe2\\x82"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(terminalText(c.text), c.shown);
  }
  // A message of several lines keeps its lines.
  EXPECT_EQ(terminalText("first\n\x1b[2Jsecond", true), "first\n\\x1b[2Jsecond");
}

TEST_F(KuvDecodePlaylist, NamesAndTagsReachTheTerminalEscaped) {
  // An ID3v1 tag: its title retitles and clears the terminal, its artist
  // is Latin-1 with a C1 control (CSI) at the end.
  auto field = [](const std::string& text, size_t size) { return text + std::string(size - text.size(), '\0'); };
  const std::string tag = "TAG" + field("\x1b]0;owned\x07\x1b[2J", 30) + field("Caf\xe9\x9b", 30) + field("Album", 30) +
                          "2026" + field("", 30) + "\x0c";
  ASSERT_EQ(tag.size(), 128u);
  ASSERT_TRUE(test::writeFile(dir_ + "/tagged.mp3", test::readFile(test::fixturePath("cbr_notag.mp3")) + tag));
  const std::string red = dir_ + "/\x1b[31mred.mp3";
  const std::string shownRed = dir_ + "/\\x1b[31mred.mp3";
  copyFixture("cbr_notag.mp3", "\x1b[31mred.mp3");
  const std::string gone = dir_ + "/\x1b[2Jgone.mp3";
  const std::string shownGone = dir_ + "/\\x1b[2Jgone.mp3";
  ASSERT_TRUE(test::writeFile(dir_ + "/list.pls", "[playlist]\nFile1=\x1b[2Jgone.mp3\nNumberOfEntries=1\n"));
  struct Case {
    const char* what;
    std::string arguments;
    std::vector<std::string> shown;
  };
  const Case cases[] = {
      {"--list: a tag", "--list tagged.mp3", {"1> \\x1b]0;owned\\x07\\x1b[2J / Caf\xc3\xa9\\xc2\\x9b  ["}},
      {"--list: a file name", "--list '" + red + "'", {"1> \\x1b[31mred.mp3  ["}},
      {"--list: a message naming a playlist value",
       "--list '" + dir_ + "/list.pls'",
       {"1 entry of " + dir_ + "/list.pls could not be found:\n" + shownGone + "\n"}},
      {"--info: a file name", "--info '" + red + "'", {shownRed + "\n", "layer: III"}},
      {"playing: an input that failed",
       "-q -o /dev/null '" + gone + "'",
       {"Error Adding Directory: " + shownGone + "\n", "kuv-decode: " + shownGone + ": cannot open\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string out = kuvDecode(c.arguments);
    for (const std::string& text : c.shown) EXPECT_NE(out.find(text), std::string::npos) << terminalText(out, true);
    EXPECT_EQ(out.find('\x1b'), std::string::npos) << terminalText(out, true);
    EXPECT_EQ(out.find("\xc2\x9b"), std::string::npos) << terminalText(out, true);
  }
}

}  // namespace
}  // namespace kuv
