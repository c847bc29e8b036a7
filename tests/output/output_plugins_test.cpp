#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "output/output_system.h"
#include "support/test_support.h"

namespace {

using kuv::test::EnvOverride;
using kuv::test::MessageRecorder;

const std::string kRawDescription = "Raw PCM file writer (KUV)";
const std::string kFallbackText =
    "KUVec2 Error: Cannot Initialize Output Plugin,\nDefaulting to Internal MMOutputSystem...";
const std::string kFallbackTitle = "KUVec2 Error Message...";

bool copyFile(const std::string& from, const std::string& to) {
  std::error_code error;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
  return !error;
}

// True when the library at path is mapped in this process right now.
bool isLoaded(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  dlclose(handle);  // NOLOAD still took a reference
  return true;
}

bool sameRecord(const OutputSystem& a, const OutputSystem& b) {
  return a.init == b.init && a.shutdown == b.shutdown && a.open == b.open && a.close == b.close &&
         a.isOpen == b.isOpen && a.write == b.write && a.flush == b.flush && a.pause == b.pause &&
         a.resume == b.resume && a.getPosition == b.getPosition && a.setPosition == b.setPosition &&
         a.getVolume == b.getVolume && a.setVolume == b.setVolume && a.getBufferCount == b.getBufferCount &&
         a.getFreeBufferCount == b.getFreeBufferCount;
}

std::string patternBytes(size_t count, unsigned seed) {
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>((i * 7 + seed) & 0xFF);
  return bytes;
}

// Hands bytes to the output in the at-most-32768-byte pieces players use.
bool writeInPieces(const OutputSystem& out, const std::string& bytes) {
  for (size_t at = 0; at < bytes.size(); at += 32768) {
    const int32_t piece = static_cast<int32_t>(std::min<size_t>(32768, bytes.size() - at));
    if (out.write(piece, bytes.data() + at) != piece) return false;
  }
  return true;
}

// Polls until ready; the limit only keeps a hung call from hanging the run.
bool eventually(const std::function<bool()>& ready, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > end) return ready();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// The status flags of this process's descriptor open for writing on path,
// from /proc; -1 when there is none.
long writerFlags(const std::string& path) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    std::error_code linkError;
    if (std::filesystem::read_symlink(entry.path(), linkError) != path || linkError) continue;
    const std::string info = kuv::test::readFile("/proc/self/fdinfo/" + entry.path().filename().string());
    const size_t at = info.find("flags:");
    if (at == std::string::npos) continue;
    const long flags = std::strtol(info.c_str() + at + 6, nullptr, 8);
    if ((flags & O_ACCMODE) == O_WRONLY) return flags;
  }
  return -1;
}

// Odd plug-ins compiled once for all tests, when a C compiler is at hand.
struct TestLibraries {
  bool built = false;
  std::string why;
  std::string folder;
  std::string noEntryPoints;  // loads fine, exports neither function
  std::string nullAnswers;    // both functions return NULL
  std::string nullText;       // a description record without text
  std::string longText;       // 300 characters of description
  std::string holeyRecord;    // kuvSetHole(i) empties slot i of its record
};

bool compileLibrary(const std::string& folder, const std::string& name, const std::string& source, std::string& out) {
  const std::string c = folder + "/" + name + ".c";
  out = folder + "/" + name + ".so";
  if (!kuv::test::writeFile(c, source)) return false;
  const std::string command = "cc -std=c11 -shared -fPIC -I'" + std::string(KUV_SOURCE_DIR) + "/include/kuv' -o '" +
                              out + "' '" + c + "' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

const char* kHoleySource = R"(#include <string.h>
#include "kuv_output_plugin.h"
static int32_t none(void) { return 0; }
static int32_t one(int32_t a) { (void)a; return 0; }
static int32_t three(int32_t a, int32_t b, int32_t c) { (void)a; (void)b; (void)c; return 0; }
static int32_t put(int32_t a, const void* b) { (void)b; return a; }
static OutputSystem full = {none, none, three, one, none, put, none, none, none, none, one, none, one, none, none};
static OutputSystem offered;
static int hole = -1;
__attribute__((visibility("default"))) void kuvSetHole(int slot) { hole = slot; }
__attribute__((visibility("default"))) OutputSystem* GetOutputSystem(void) {
  offered = full;
  if (hole >= 0 && hole < 15) memset((char*)&offered + hole * sizeof(offered.init), 0, sizeof(offered.init));
  return &offered;
}
__attribute__((visibility("default"))) OutputDescription* GetOutputDesc(void) {
  static OutputDescription d = {"holey"};
  return &d;
}
)";

// 300 description bytes with no NUL, ending right at an unreadable page: a
// reader that does not stop at 255 characters faults.
const char* kLongTextSource = R"(#define _GNU_SOURCE
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>
#include "kuv_output_plugin.h"
static OutputDescription d;
__attribute__((visibility("default"))) OutputDescription* GetOutputDesc(void) {
  const long page = sysconf(_SC_PAGESIZE);
  char* pages = mmap(0, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (pages == MAP_FAILED) return 0;
  mprotect(pages + page, page, PROT_NONE);
  memset(pages + page - 300, 'L', 300);
  d.description = pages + page - 300;
  return &d;
}
)";

// Built on first use, so runs that skip these tests pay nothing.
struct TestLibraryStore {
  TestLibraries libs;
  TestLibraryStore() {
    if (std::system("command -v cc >/dev/null 2>&1") != 0) {
      libs.why = "no C compiler (cc) to build the odd test plug-ins";
      return;
    }
    libs.folder = kuv::test::makeTempFolder();
    const std::string& f = libs.folder;
    libs.built = !f.empty() &&
                 compileLibrary(f, "noentry", "int kuvNothingHere(void) { return 0; }\n", libs.noEntryPoints) &&
                 compileLibrary(f, "nullanswers",
                                "#include \"kuv_output_plugin.h\"\n"
                                "OutputDescription* GetOutputDesc(void) { return 0; }\n"
                                "OutputSystem* GetOutputSystem(void) { return 0; }\n",
                                libs.nullAnswers) &&
                 compileLibrary(f, "nulltext",
                                "#include \"kuv_output_plugin.h\"\n"
                                "static OutputDescription d = {0};\n"
                                "OutputDescription* GetOutputDesc(void) { return &d; }\n",
                                libs.nullText) &&
                 compileLibrary(f, "longtext", kLongTextSource, libs.longText) &&
                 compileLibrary(f, "holey", kHoleySource, libs.holeyRecord);
    if (!libs.built) libs.why = "cc could not build the odd test plug-ins";
  }
  ~TestLibraryStore() { kuv::test::removeTree(libs.folder); }
};

const TestLibraries& testLibraries() {
  static TestLibraryStore store;
  return store.libs;
}

#define REQUIRE_TEST_LIBRARIES()                    \
  const TestLibraries& libraries = testLibraries(); \
  if (!libraries.built) GTEST_SKIP() << libraries.why

// A temp folder, the settings and the active output as they were before.
class OutputPluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = kuv::test::makeTempFolder();
    ASSERT_FALSE(folder_.empty());
    savedDir_ = kuv::settings.OutputPluginDir;
    savedOutput_ = kuv::outputSystem;
  }
  void TearDown() override {
    kuv::unloadOutputPlugin();
    kuv::outputSystem = savedOutput_;
    setPluginDir(savedDir_);
    kuv::scanOutputPlugins(folder_ + "/none");  // leave no entries behind
    kuv::test::removeTree(folder_);
  }

  static void setPluginDir(const std::string& dir) {
    std::snprintf(kuv::settings.OutputPluginDir, sizeof kuv::settings.OutputPluginDir, "%s", dir.c_str());
  }
  std::string place(const std::string& from, const std::string& name) {
    const std::string to = folder_ + "/" + name;
    EXPECT_TRUE(copyFile(from, to)) << from << " -> " << to;
    return to;
  }
  std::string placeRaw(const std::string& name) { return place(KUV_RAWPCM_PLUGIN, name); }

  std::string folder_;
  std::string savedDir_;
  OutputSystem savedOutput_{};
};

// ---- Listing ----

using OutputPluginScanTest = OutputPluginTest;

TEST_F(OutputPluginScanTest, ListsShippedPluginAndUnloadsIt) {
  const std::string path = placeRaw("rawpcm.kos");
  MessageRecorder boxes;
  EXPECT_EQ(kuv::scanOutputPlugins(folder_), 0);
  ASSERT_EQ(kuv::outputPluginCount(), 1);
  EXPECT_EQ(kuv::outputPluginDescription(0), kRawDescription);
  EXPECT_EQ(kuv::outputPluginFileName(0), "rawpcm.kos");
  EXPECT_TRUE(boxes.boxes().empty());
  EXPECT_FALSE(isLoaded(path));
}

TEST_F(OutputPluginScanTest, SuffixMatchesAnyCaseAndListIsSorted) {
  placeRaw("c.kos");
  placeRaw("a.KOS");
  placeRaw("b.Kos");
  kuv::scanOutputPlugins(folder_ + "/");  // a trailing '/' is taken too
  ASSERT_EQ(kuv::outputPluginCount(), 3);
  EXPECT_EQ(kuv::outputPluginFileName(0), "a.KOS");
  EXPECT_EQ(kuv::outputPluginFileName(1), "b.Kos");
  EXPECT_EQ(kuv::outputPluginFileName(2), "c.kos");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(kuv::outputPluginDescription(i), kRawDescription);
}

TEST_F(OutputPluginScanTest, IgnoresOtherNamesAndFolders) {
  placeRaw("rawpcm.so");
  placeRaw("rawpcm.kos.bak");
  placeRaw("rawpcmkos");
  placeRaw("default.kop");
  ASSERT_TRUE(kuv::test::writeFile(folder_ + "/notes.txt", "not a library"));
  ASSERT_EQ(mkdir((folder_ + "/folder.kos").c_str(), 0755), 0);
  placeRaw("real.kos");
  MessageRecorder boxes;
  kuv::scanOutputPlugins(folder_);
  ASSERT_EQ(kuv::outputPluginCount(), 1);
  EXPECT_EQ(kuv::outputPluginFileName(0), "real.kos");
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(OutputPluginScanTest, TextFileNamedKosIsReportedInvalid) {
  ASSERT_TRUE(kuv::test::writeFile(folder_ + "/bad.kos", "these are just words\n"));
  placeRaw("good.kos");
  MessageRecorder boxes;
  kuv::scanOutputPlugins(folder_);
  ASSERT_EQ(kuv::outputPluginCount(), 1);
  EXPECT_EQ(kuv::outputPluginFileName(0), "good.kos");
  const auto seen = boxes.boxes();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, "Error: bad.kos Is an INVALID plugin");
  EXPECT_EQ(seen[0].title, "Found...");
  EXPECT_EQ(seen[0].style, kuv::platform::MB_OK);
}

TEST_F(OutputPluginScanTest, LibraryWithoutDescriptionEntryIsReportedInvalid) {
  REQUIRE_TEST_LIBRARIES();
  const std::string path = place(libraries.noEntryPoints, "plain.kos");
  MessageRecorder boxes;
  kuv::scanOutputPlugins(folder_);
  EXPECT_EQ(kuv::outputPluginCount(), 0);
  const auto seen = boxes.boxes();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, "Error: plain.kos Is an INVALID plugin");
  EXPECT_EQ(seen[0].title, "Found...");
  EXPECT_FALSE(isLoaded(path));
}

TEST_F(OutputPluginScanTest, NullDescriptionIsSkippedSilently) {
  REQUIRE_TEST_LIBRARIES();
  const std::string a = place(libraries.nullAnswers, "a.kos");
  const std::string b = place(libraries.nullText, "b.kos");
  placeRaw("c.kos");
  MessageRecorder boxes;
  kuv::scanOutputPlugins(folder_);
  ASSERT_EQ(kuv::outputPluginCount(), 1);
  EXPECT_EQ(kuv::outputPluginFileName(0), "c.kos");
  EXPECT_TRUE(boxes.boxes().empty());
  EXPECT_FALSE(isLoaded(a));
  EXPECT_FALSE(isLoaded(b));
}

TEST_F(OutputPluginScanTest, LongDescriptionIsCut) {
  REQUIRE_TEST_LIBRARIES();
  place(libraries.longText, "long.kos");
  kuv::scanOutputPlugins(folder_);
  ASSERT_EQ(kuv::outputPluginCount(), 1);
  EXPECT_EQ(kuv::outputPluginDescription(0), std::string(kuv::kOutputPluginTextMax, 'L'));
}

TEST_F(OutputPluginScanTest, EmptyOrMissingFolderGivesEmptyListWithoutMessage) {
  placeRaw("x.kos");
  kuv::scanOutputPlugins(folder_);
  ASSERT_EQ(kuv::outputPluginCount(), 1);

  MessageRecorder boxes;
  const std::string empty = folder_ + "/empty";
  ASSERT_EQ(mkdir(empty.c_str(), 0755), 0);
  kuv::scanOutputPlugins(empty);
  EXPECT_EQ(kuv::outputPluginCount(), 0);  // the earlier list is gone

  kuv::scanOutputPlugins(folder_);
  kuv::scanOutputPlugins(folder_ + "/missing");
  EXPECT_EQ(kuv::outputPluginCount(), 0);
  kuv::scanOutputPlugins("");
  EXPECT_EQ(kuv::outputPluginCount(), 0);
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(OutputPluginScanTest, OutOfRangeLookupsGiveDefaults) {
  placeRaw("only.kos");
  kuv::scanOutputPlugins(folder_);
  ASSERT_EQ(kuv::outputPluginCount(), 1);
  for (int32_t index : {-1, 1, 1000, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(kuv::outputPluginDescription(index), "Invalid Output Plugin") << index;
    EXPECT_EQ(kuv::outputPluginFileName(index), "default.kos") << index;
  }
  EXPECT_EQ(kuv::outputPluginFileName(0), "only.kos");
}

TEST_F(OutputPluginScanTest, StopsAt256Entries) {
  for (int i = 0; i < 300; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "p%03d.kos", i);
    placeRaw(name);
  }
  kuv::scanOutputPlugins(folder_);
  ASSERT_EQ(kuv::outputPluginCount(), kuv::kMaxOutputPlugins);
  EXPECT_EQ(kuv::outputPluginFileName(0), "p000.kos");
  EXPECT_EQ(kuv::outputPluginFileName(255), "p255.kos");
  EXPECT_EQ(kuv::outputPluginFileName(256), "default.kos");
  EXPECT_FALSE(isLoaded(folder_ + "/p100.kos"));
}

// ---- Loading ----

using OutputPluginLoadTest = OutputPluginTest;

TEST_F(OutputPluginLoadTest, BareNameIsFoundInPluginFolder) {
  const std::string path = placeRaw("default.kop");
  setPluginDir(folder_);
  const OutputSystem* record = kuv::loadOutputPlugin("default.kop");
  ASSERT_NE(record, nullptr);
  ASSERT_TRUE(isLoaded(path));

  // The record carries the plug-in's own functions.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(handle, nullptr);
  auto getSystem = reinterpret_cast<GetOutputSystemFn>(dlsym(handle, "GetOutputSystem"));
  ASSERT_NE(getSystem, nullptr);
  EXPECT_TRUE(sameRecord(*record, *getSystem()));
  dlclose(handle);

  kuv::unloadOutputPlugin();
  EXPECT_FALSE(isLoaded(path));
  kuv::unloadOutputPlugin();  // twice is harmless
}

TEST_F(OutputPluginLoadTest, PathWithSlashIsUsedAsIs) {
  const std::string path = placeRaw("elsewhere.kos");
  setPluginDir("/nonexistent-kuv-folder");
  ASSERT_NE(kuv::loadOutputPlugin(path), nullptr);
  EXPECT_TRUE(isLoaded(path));
}

TEST_F(OutputPluginLoadTest, MissingOrBrokenFileGivesNull) {
  setPluginDir(folder_);
  EXPECT_EQ(kuv::loadOutputPlugin("default.kop"), nullptr);
  EXPECT_EQ(kuv::loadOutputPlugin(folder_ + "/missing.kos"), nullptr);
  EXPECT_EQ(kuv::loadOutputPlugin(""), nullptr);
  ASSERT_TRUE(kuv::test::writeFile(folder_ + "/text.kop", "plain text"));
  EXPECT_EQ(kuv::loadOutputPlugin("text.kop"), nullptr);
}

TEST_F(OutputPluginLoadTest, OnlyOneLibraryIsLoadedAtATime) {
  const std::string first = placeRaw("first.kos");
  const std::string second = placeRaw("second.kos");
  ASSERT_NE(kuv::loadOutputPlugin(first), nullptr);
  ASSERT_NE(kuv::loadOutputPlugin(second), nullptr);
  EXPECT_FALSE(isLoaded(first));
  EXPECT_TRUE(isLoaded(second));
  // A failed load still lets go of the one before.
  EXPECT_EQ(kuv::loadOutputPlugin(folder_ + "/missing.kos"), nullptr);
  EXPECT_FALSE(isLoaded(second));
}

TEST_F(OutputPluginLoadTest, MissingEntryPointOrNullRecordGivesNull) {
  REQUIRE_TEST_LIBRARIES();
  const std::string plain = place(libraries.noEntryPoints, "plain.kos");
  const std::string nulls = place(libraries.nullAnswers, "nulls.kos");
  EXPECT_EQ(kuv::loadOutputPlugin(plain), nullptr);
  EXPECT_FALSE(isLoaded(plain));
  EXPECT_EQ(kuv::loadOutputPlugin(nulls), nullptr);
  EXPECT_FALSE(isLoaded(nulls));
}

TEST_F(OutputPluginLoadTest, RecordWithAnyEmptySlotGivesNull) {
  REQUIRE_TEST_LIBRARIES();
  const std::string path = place(libraries.holeyRecord, "holey.kos");
  // Our own reference keeps the library, so its hole setting survives the
  // loader's unloads.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr);
  auto setHole = reinterpret_cast<void (*)(int)>(dlsym(handle, "kuvSetHole"));
  ASSERT_NE(setHole, nullptr);

  setHole(-1);
  EXPECT_NE(kuv::loadOutputPlugin(path), nullptr) << "the complete record must load";
  for (int slot = 0; slot < 15; ++slot) {
    setHole(slot);
    EXPECT_EQ(kuv::loadOutputPlugin(path), nullptr) << "slot " << slot;
  }
  dlclose(handle);
  EXPECT_FALSE(isLoaded(path));
}

// ---- Selecting the output ----

using OutputSelectTest = OutputPluginTest;

TEST_F(OutputSelectTest, PluginRecordIsInstalledAndPlaysIntoRawFile) {
  const std::string plugin = placeRaw("default.kop");
  setPluginDir(folder_);
  const std::string raw = folder_ + "/out.raw";
  EnvOverride file("KUV_RAWPCM_FILE", raw.c_str());
  MessageRecorder boxes;

  EXPECT_EQ(kuv::selectOutputSystem(kuv::kPluginOutput), 1);
  EXPECT_TRUE(boxes.boxes().empty());
  ASSERT_TRUE(isLoaded(plugin));
  EXPECT_FALSE(sameRecord(kuv::outputSystem, kuv::soundDeviceOutputSystem()));
  const OutputSystem out = kuv::outputSystem;

  EXPECT_EQ(out.init(), 1);
  EXPECT_EQ(out.init(), 1);
  EXPECT_EQ(out.isOpen(), 0);
  EXPECT_EQ(out.getVolume(), -1);
  EXPECT_EQ(out.getPosition(), 0);
  EXPECT_EQ(out.write(4, "abcd"), -1) << "not open";
  EXPECT_EQ(out.close(0), 0) << "not open";

  ASSERT_EQ(out.open(44100, 2, 0), 1);
  EXPECT_EQ(out.isOpen(), 1);
  EXPECT_EQ(out.setVolume(20), 1);
  EXPECT_EQ(out.getVolume(), 20);
  EXPECT_EQ(out.getBufferCount(), 0);
  EXPECT_EQ(out.getFreeBufferCount(), 0);

  // One second of 16-bit stereo at 44100 Hz is 176400 bytes.
  const std::string first = patternBytes(176400, 1);
  ASSERT_TRUE(writeInPieces(out, first));
  EXPECT_EQ(out.getPosition(), 1000);
  EXPECT_EQ(out.write(0, first.data()), 0);
  EXPECT_EQ(out.write(-5, first.data()), -5);
  EXPECT_EQ(out.flush(), 1);
  EXPECT_EQ(out.pause(), 1);
  EXPECT_EQ(out.resume(), 1);

  // After a seek to 3 s the position counts on from there.
  EXPECT_EQ(out.setPosition(3), 1);
  EXPECT_EQ(out.getPosition(), 3000);
  const std::string second = patternBytes(17640 + 100, 2);
  ASSERT_TRUE(writeInPieces(out, second));
  EXPECT_EQ(out.getPosition(), 3100);  // 100 bytes more than 100 ms round down

  EXPECT_EQ(out.close(0), 1);
  EXPECT_EQ(out.isOpen(), 0);
  EXPECT_EQ(out.close(0), 0);
  EXPECT_EQ(out.getPosition(), 0);
  EXPECT_EQ(out.getVolume(), -1);
  EXPECT_EQ(out.write(4, "abcd"), -1);
  EXPECT_EQ(out.shutdown(), 1);

  EXPECT_EQ(kuv::test::readFile(raw), first + second);
}

TEST_F(OutputSelectTest, RawPluginReopensTruncatesAndCountsEightBitMono) {
  const OutputSystem* out = kuv::loadOutputPlugin(placeRaw("raw.kos"));
  ASSERT_NE(out, nullptr);
  const std::string raw = folder_ + "/out.raw";
  EnvOverride file("KUV_RAWPCM_FILE", raw.c_str());

  ASSERT_EQ(out->open(44100, 2, 0), 1);
  ASSERT_TRUE(writeInPieces(*out, patternBytes(50000, 3)));
  ASSERT_EQ(out->open(8000, 1, 1), 1) << "open while open starts over";
  EXPECT_EQ(out->getPosition(), 0);
  const std::string bytes = patternBytes(12000, 4);
  ASSERT_TRUE(writeInPieces(*out, bytes));
  EXPECT_EQ(out->getPosition(), 1500);
  EXPECT_EQ(out->close(1), 1);
  EXPECT_EQ(kuv::test::readFile(raw), bytes);

  // Hours of audio overflow 32-bit byte x 1000 products.
  EnvOverride sink("KUV_RAWPCM_FILE", "/dev/null");
  ASSERT_EQ(out->open(44100, 2, 0), 1);
  const std::string block = patternBytes(32768, 5);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(out->write(32768, block.data()), 32768);
  EXPECT_EQ(out->getPosition(), static_cast<int32_t>(int64_t{3276800} * 1000 / 176400));
  out->close(1);
}

TEST_F(OutputSelectTest, RawPluginFallsBackToHomeAndRefusesBadTargets) {
  const OutputSystem* out = kuv::loadOutputPlugin(placeRaw("raw.kos"));
  ASSERT_NE(out, nullptr);
  {
    EnvOverride file("KUV_RAWPCM_FILE", nullptr);
    EnvOverride home("HOME", folder_.c_str());
    ASSERT_EQ(out->open(22050, 1, 0), 1);
    EXPECT_EQ(out->write(6, "pcm!!!"), 6);
    EXPECT_EQ(out->close(0), 1);
    EXPECT_EQ(kuv::test::readFile(folder_ + "/kuv-output.raw"), "pcm!!!");
  }
  EnvOverride file("KUV_RAWPCM_FILE", (folder_ + "/no-such-folder/out.raw").c_str());
  EXPECT_EQ(out->open(44100, 2, 0), 0);
  EXPECT_EQ(out->isOpen(), 0);
  EXPECT_EQ(out->getVolume(), -1);
}

TEST_F(OutputSelectTest, RawPluginFeedsFifoAndSurvivesReaderLeaving) {
  const OutputSystem* out = kuv::loadOutputPlugin(placeRaw("raw.kos"));
  ASSERT_NE(out, nullptr);
  const std::string fifo = folder_ + "/pcm.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EnvOverride file("KUV_RAWPCM_FILE", fifo.c_str());

  // The reader is there first, as a program taking our output would be; a
  // small FIFO makes the writes wait for it.
  const int readFd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(readFd, 0);
  fcntl(readFd, F_SETPIPE_SZ, 4096);
  ASSERT_EQ(out->open(44100, 2, 0), 1);
  const long flags = writerFlags(fifo);
  ASSERT_GE(flags, 0);
  EXPECT_EQ(flags & O_NONBLOCK, 0) << "writes would fail with EAGAIN instead of waiting for the reader";
  std::string received;
  std::thread reader([&] {
    fcntl(readFd, F_SETFL, fcntl(readFd, F_GETFL) & ~O_NONBLOCK);
    char buffer[4096];
    for (ssize_t got; (got = read(readFd, buffer, sizeof buffer)) > 0;)
      received.append(buffer, static_cast<size_t>(got));
    close(readFd);
  });
  const std::string bytes = patternBytes(100000, 6);
  EXPECT_TRUE(writeInPieces(*out, bytes));
  EXPECT_EQ(out->close(0), 1);
  reader.join();
  EXPECT_EQ(received, bytes);

  // A reader that goes away makes the write fail instead of killing us.
  const int quitter = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(quitter, 0);
  ASSERT_EQ(out->open(44100, 2, 0), 1);
  close(quitter);
  EXPECT_EQ(out->write(4, "lost"), -1);
  EXPECT_EQ(out->close(1), 1);
}

// Nobody reading the FIFO: open fails at once with a message instead of
// holding the decoder thread (and with it Stop and quit) until a reader comes.
TEST_F(OutputSelectTest, RawPluginRefusesAFifoNobodyReads) {
  const OutputSystem* out = kuv::loadOutputPlugin(placeRaw("raw.kos"));
  ASSERT_NE(out, nullptr);
  const std::string fifo = folder_ + "/lonely.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EnvOverride file("KUV_RAWPCM_FILE", fifo.c_str());

  ::testing::internal::CaptureStderr();
  std::atomic<int32_t> result{INT32_MIN};
  std::thread opener([&] { result.store(out->open(44100, 2, 0)); });
  const bool returned = eventually([&] { return result.load() != INT32_MIN; });
  int released = -1;
  if (!returned) released = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // lets a blocked open end
  opener.join();
  if (released >= 0) close(released);
  const std::string said = ::testing::internal::GetCapturedStderr();
  ASSERT_TRUE(returned) << "open waited for a reader";
  EXPECT_EQ(result.load(), 0);
  EXPECT_EQ(out->isOpen(), 0);
  EXPECT_NE(said.find(fifo), std::string::npos) << said;
  EXPECT_NE(said.find("no program is reading"), std::string::npos) << said;

  // Once a reader is there the same FIFO plays.
  const int readFd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(readFd, 0);
  ASSERT_EQ(out->open(44100, 2, 0), 1);
  EXPECT_EQ(out->write(6, "pcm!!!"), 6);
  EXPECT_EQ(out->close(0), 1);
  char buffer[16] = {};
  EXPECT_EQ(read(readFd, buffer, sizeof buffer), 6);
  EXPECT_EQ(std::string(buffer, 6), "pcm!!!");
  close(readFd);
}

TEST_F(OutputSelectTest, MissingPluginFallsBackToSoundDeviceEachTime) {
  setPluginDir(folder_);
  MessageRecorder boxes;
  for (int round = 1; round <= 2; ++round) {
    kuv::outputSystem = kuv::waveFileOutputSystem();
    EXPECT_EQ(kuv::selectOutputSystem(kuv::kPluginOutput), 1);
    EXPECT_TRUE(sameRecord(kuv::outputSystem, kuv::soundDeviceOutputSystem()));
    const auto seen = boxes.boxes();
    ASSERT_EQ(seen.size(), static_cast<size_t>(round));
    EXPECT_EQ(seen.back().text, kFallbackText);
    EXPECT_EQ(seen.back().title, kFallbackTitle);
  }
  // A default.kop that is no library is no better.
  ASSERT_TRUE(kuv::test::writeFile(folder_ + "/default.kop", "text"));
  kuv::selectOutputSystem(kuv::kPluginOutput);
  EXPECT_TRUE(sameRecord(kuv::outputSystem, kuv::soundDeviceOutputSystem()));
  EXPECT_EQ(boxes.boxes().size(), 3u);
}

TEST_F(OutputSelectTest, OtherKindsInstallBuiltInsAndUnloadPlugin) {
  const std::string plugin = placeRaw("default.kop");
  setPluginDir(folder_);
  MessageRecorder boxes;

  kuv::selectOutputSystem(kuv::kPluginOutput);
  ASSERT_TRUE(isLoaded(plugin));
  kuv::selectOutputSystem(kuv::kWaveFileOutput);
  EXPECT_FALSE(isLoaded(plugin));
  EXPECT_TRUE(sameRecord(kuv::outputSystem, kuv::waveFileOutputSystem()));

  kuv::selectOutputSystem(kuv::kPluginOutput);
  ASSERT_TRUE(isLoaded(plugin));
  kuv::selectOutputSystem(7);
  EXPECT_FALSE(isLoaded(plugin));
  EXPECT_TRUE(sameRecord(kuv::outputSystem, kuv::soundDeviceOutputSystem()));

  kuv::selectOutputSystem(kuv::kPluginOutput);
  kuv::selectOutputSystem(kuv::kSoundDeviceOutput);
  EXPECT_FALSE(isLoaded(plugin));
  EXPECT_TRUE(sameRecord(kuv::outputSystem, kuv::soundDeviceOutputSystem()));
  EXPECT_TRUE(boxes.boxes().empty());
}

// ---- Other threads while the output is re-selected ----

// The display asks for the position every 20 ms and the window pauses,
// resumes and flushes while the decoder thread may be re-selecting the
// output: no call may run into an unloaded library or a half-copied record.
using OutputSelectionRaceTest = OutputPluginTest;

TEST_F(OutputSelectionRaceTest, AccessorsSurviveRepeatedReselection) {
  const std::string plugin = placeRaw("default.kop");
  setPluginDir(folder_);
  EnvOverride file("KUV_RAWPCM_FILE", "/dev/null");
  MessageRecorder boxes;
  kuv::selectOutputSystem(kuv::kSoundDeviceOutput);

  std::atomic<bool> done{false};
  std::atomic<long> calls{0};
  std::atomic<long> odd{0};
  std::vector<std::thread> callers;
  callers.emplace_back([&] {  // the display and the visualisation timer
    while (!done.load()) {
      odd.fetch_add(kuv::outputPosition() < 0);
      calls.fetch_add(1);
    }
  });
  callers.emplace_back([&] {  // the window and the Audio page
    while (!done.load()) {
      kuv::outputPause();
      kuv::outputResume();
      kuv::outputFlush();
      const int32_t total = kuv::outputBufferCount();
      const int32_t free = kuv::outputFreeBufferCount();
      odd.fetch_add(total != 0 && total != 10);
      odd.fetch_add(free < 0 || free > 10);
      calls.fetch_add(1);
    }
  });
  for (int round = 0; round < 200; ++round) {
    // Both callers keep calling through every selection.
    const long before = calls.load();
    ASSERT_TRUE(eventually([&] { return calls.load() > before + 1; }));
    kuv::selectOutputSystem(round % 2 == 0 ? kuv::kPluginOutput : kuv::kSoundDeviceOutput);
  }
  done.store(true);
  for (std::thread& caller : callers) caller.join();
  EXPECT_EQ(odd.load(), 0);
  EXPECT_TRUE(boxes.boxes().empty()) << "the plug-in did not load";
  EXPECT_FALSE(isLoaded(plugin));
}

}  // namespace
