#include "platform/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

using kuv::platform::getProfileInt;
using kuv::platform::getProfileString;
using kuv::platform::kProfileStringMax;
using kuv::platform::writeProfileString;

namespace {

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = kuv::test::makeTempFolder();
    ASSERT_FALSE(dir_.empty());
    path_ = dir_ + "/test.ini";
  }
  void TearDown() override {
    if (dir_.empty()) return;
    // Modes changed by a test must not stop the clean-up.
    chmod(dir_.c_str(), 0755);
    chmod(path_.c_str(), 0644);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  void put(const std::string& text) const { put(path_, text); }
  static void put(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
  }
  std::string get() const { return get(path_); }
  static std::string get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::vector<std::string> folderEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) names.push_back(entry.path().filename());
    return names;
  }
  int32_t intOf(const std::string& value, int32_t def = 777) const {
    put("[s]\nk=" + value + "\n");
    return getProfileInt("s", "k", def, path_);
  }

  std::string dir_;
  std::string path_;
};

// --- Reading -------------------------------------------------------------

TEST_F(IniFileTest, SectionAndKeyNamesMatchWithoutRegardToCase) {
  put("[KuV]\nVolUME=7\n");
  EXPECT_EQ(getProfileInt("kuv", "volume", 0, path_), 7);
  EXPECT_EQ(getProfileInt("KUV", "VOLUME", 0, path_), 7);
  EXPECT_EQ(getProfileString("kUv", "vOlUmE", "", path_), "7");
}

TEST_F(IniFileTest, BlanksAroundNamesAndValuesAreTrimmed) {
  put("  [ main ]  \n\t key name \t=  some value \t\n");
  EXPECT_EQ(getProfileString("main", "key name", "", path_), "some value");
}

TEST_F(IniFileTest, ValueIsTextAfterTheFirstEqualsSign) {
  put("[s]\na=b=c\nempty=\n");
  EXPECT_EQ(getProfileString("s", "a", "", path_), "b=c");
  EXPECT_EQ(getProfileString("s", "empty", "dflt", path_), "");
}

TEST_F(IniFileTest, SurroundingDoubleQuotesAreRemoved) {
  put("[s]\nq=\"/music/my songs \"\nlone=\"\ninner=a\"b\"\n");
  EXPECT_EQ(getProfileString("s", "q", "", path_), "/music/my songs ");
  EXPECT_EQ(getProfileString("s", "lone", "", path_), "\"");
  EXPECT_EQ(getProfileString("s", "inner", "", path_), "a\"b\"");
}

TEST_F(IniFileTest, KeysAreLookedUpOnlyInTheirOwnSection) {
  put("k=1\n[a]\nk=2\n[b]\nk=3\n[a]\nk=4\nonlylater=5\n");
  EXPECT_EQ(getProfileInt("a", "k", 0, path_), 2);
  EXPECT_EQ(getProfileInt("b", "k", 0, path_), 3);
  // Only the first section of a name counts.
  EXPECT_EQ(getProfileInt("a", "onlylater", -9, path_), -9);
  EXPECT_EQ(getProfileInt("c", "k", -9, path_), -9);
}

TEST_F(IniFileTest, CommentLinesAreNotKeys) {
  put("[s]\n;k=1\n# k=2\nk=3\n");
  EXPECT_EQ(getProfileInt("s", "k", 0, path_), 3);
}

TEST_F(IniFileTest, CrLfFilesReadWithoutCarriageReturns) {
  put("[s]\r\nname=abc\r\nn=12\r\n");
  EXPECT_EQ(getProfileString("s", "name", "", path_), "abc");
  EXPECT_EQ(getProfileInt("s", "n", 0, path_), 12);
}

TEST_F(IniFileTest, MissingFileSectionOrKeyGivesTheDefault) {
  EXPECT_EQ(getProfileInt("s", "k", 42, dir_ + "/none.ini"), 42);
  EXPECT_EQ(getProfileString("s", "k", "dflt", dir_ + "/none.ini"), "dflt");
  EXPECT_EQ(getProfileInt("s", "k", 42, dir_ + "/no/such/folder.ini"), 42);
  put("[s]\nother=1\n");
  EXPECT_EQ(getProfileInt("s", "k", 42, path_), 42);
  EXPECT_EQ(getProfileInt("t", "other", 42, path_), 42);
  EXPECT_EQ(getProfileString("s", "k", "dflt", path_), "dflt");
  EXPECT_EQ(getProfileInt("", "", 42, path_), 42);
}

// --- Integers -------------------------------------------------------------

TEST_F(IniFileTest, IntegersParseDecimalWithOptionalMinus) {
  EXPECT_EQ(intOf("0"), 0);
  EXPECT_EQ(intOf("15"), 15);
  EXPECT_EQ(intOf("-5"), -5);
  EXPECT_EQ(intOf("-0"), 0);
  EXPECT_EQ(intOf("  \t42"), 42);
  EXPECT_EQ(intOf("007"), 7);
}

TEST_F(IniFileTest, IntegersStopAtTheFirstNonDigit) {
  EXPECT_EQ(intOf("12abc"), 12);
  EXPECT_EQ(intOf("3 4"), 3);
  EXPECT_EQ(intOf("-8.9"), -8);
}

TEST_F(IniFileTest, ValuesWithoutDigitsGiveTheDefault) {
  EXPECT_EQ(intOf("abc", 777), 777);
  EXPECT_EQ(intOf("", 777), 777);
  EXPECT_EQ(intOf("-", 777), 777);
  EXPECT_EQ(intOf("- 5", 777), 777);
  EXPECT_EQ(intOf("--5", 777), 777);
}

TEST_F(IniFileTest, IntegersWrapModulo2To32) {
  EXPECT_EQ(intOf("4294967295"), -1);
  EXPECT_EQ(intOf("4294967296"), 0);
  EXPECT_EQ(intOf("4294967297"), 1);
  EXPECT_EQ(intOf("2147483647"), INT32_MAX);
  EXPECT_EQ(intOf("2147483648"), INT32_MIN);
  EXPECT_EQ(intOf("-2147483648"), INT32_MIN);
  EXPECT_EQ(intOf("-4294967295"), 1);
}

TEST_F(IniFileTest, HugeDigitStringsDoNotCrash) {
  // 10^n is a multiple of 2^32 once n >= 32.
  EXPECT_EQ(intOf("1" + std::string(40, '0')), 0);
  EXPECT_EQ(intOf("-1" + std::string(40, '0')), 0);
  EXPECT_EQ(intOf("5" + std::string(200, '0') + "x"), 0);
  (void)intOf(std::string(1 << 20, '9'));
}

// --- Strings --------------------------------------------------------------

TEST_F(IniFileTest, StringsAreCutTo259Characters) {
  ASSERT_EQ(kProfileStringMax, 259u);
  std::string exact(259, 'x');
  std::string longer = std::string(259, 'y') + "tail";
  put("[s]\nexact=" + exact + "\nlong=" + longer + "\n");
  EXPECT_EQ(getProfileString("s", "exact", "", path_), exact);
  EXPECT_EQ(getProfileString("s", "long", "", path_), std::string(259, 'y'));
  EXPECT_EQ(getProfileString("s", "none", std::string(300, 'd'), path_), std::string(259, 'd'));
  EXPECT_EQ(getProfileString("s", "none", std::string(300, 'd'), dir_ + "/none.ini"), std::string(259, 'd'));
}

// --- Writing --------------------------------------------------------------

TEST_F(IniFileTest, InPlaceUpdateKeepsEverythingElse) {
  put("; settings file\n"
      "top=level\n"
      "[first]\n"
      "a=1\n"
      "  Volume = 3  \n"
      "; comment inside\n"
      "junk line without equals\n"
      "b=2\n"
      "\n"
      "[second]\n"
      "volume=4\n");
  ASSERT_TRUE(writeProfileString("FIRST", "VOLUME", "9", path_));
  EXPECT_EQ(get(),
            "; settings file\n"
            "top=level\n"
            "[first]\n"
            "a=1\n"
            "  Volume=9\n"
            "; comment inside\n"
            "junk line without equals\n"
            "b=2\n"
            "\n"
            "[second]\n"
            "volume=4\n");
  EXPECT_EQ(getProfileInt("second", "volume", 0, path_), 4);
}

TEST_F(IniFileTest, OnlyTheFirstMatchingKeyIsReplaced) {
  put("[s]\nk=1\nk=2\n");
  ASSERT_TRUE(writeProfileString("s", "k", "5", path_));
  EXPECT_EQ(get(), "[s]\nk=5\nk=2\n");
}

TEST_F(IniFileTest, NewKeyGoesAtTheEndOfItsOwnSection) {
  put("[a]\nx=1\n\n[b]\ny=2\n");
  ASSERT_TRUE(writeProfileString("a", "z", "3", path_));
  EXPECT_EQ(get(), "[a]\nx=1\nz=3\n\n[b]\ny=2\n");
  EXPECT_EQ(getProfileInt("a", "z", 0, path_), 3);
  EXPECT_EQ(getProfileInt("b", "z", -1, path_), -1);
}

TEST_F(IniFileTest, NewKeyInAnEmptySectionFollowsItsHeader) {
  put("[a]\n\n\n[b]\ny=2");
  ASSERT_TRUE(writeProfileString("a", "z", "3", path_));
  EXPECT_EQ(get(), "[a]\nz=3\n\n\n[b]\ny=2");
  ASSERT_TRUE(writeProfileString("b", "w", "4", path_));
  EXPECT_EQ(get(), "[a]\nz=3\n\n\n[b]\ny=2\nw=4\n");
}

TEST_F(IniFileTest, NewSectionIsAppendedAtTheEnd) {
  put("[a]\nx=1");  // no final line break
  ASSERT_TRUE(writeProfileString("new", "k", "v", path_));
  EXPECT_EQ(get(), "[a]\nx=1\n[new]\nk=v\n");
}

TEST_F(IniFileTest, FirstWriteCreatesTheFile) {
  ASSERT_TRUE(writeProfileString("kuv", "key", "value", path_));
  EXPECT_EQ(get(), "[kuv]\nkey=value\n");
  ASSERT_TRUE(writeProfileString("kuv", "other", "", path_));
  EXPECT_EQ(get(), "[kuv]\nkey=value\nother=\n");
}

TEST_F(IniFileTest, CrLfFilesKeepTheirLineBreaks) {
  put("[a]\r\nx=1\r\n");
  ASSERT_TRUE(writeProfileString("a", "x", "2", path_));
  ASSERT_TRUE(writeProfileString("a", "y", "3", path_));
  ASSERT_TRUE(writeProfileString("b", "z", "4", path_));
  EXPECT_EQ(get(), "[a]\r\nx=2\r\ny=3\r\n[b]\r\nz=4\r\n");
}

TEST_F(IniFileTest, ReadOnlyFileIsNotReplaced) {
  if (geteuid() == 0) GTEST_SKIP() << "root may write any file; covered by the missing-folder case";
  const std::string text = "[s]\nk=1\n";
  put(text);
  ASSERT_EQ(chmod(path_.c_str(), 0444), 0);
  EXPECT_FALSE(writeProfileString("s", "k", "2", path_));
  EXPECT_FALSE(writeProfileString("s", "new", "2", path_));
  EXPECT_EQ(get(), text);
  EXPECT_EQ(folderEntries().size(), 1u);
}

TEST_F(IniFileTest, WriteIntoMissingFolderFailsWithoutCreatingIt) {
  const std::string missing = dir_ + "/absent/test.ini";
  EXPECT_FALSE(writeProfileString("s", "k", "1", missing));
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/absent"));
  EXPECT_TRUE(folderEntries().empty());
}

TEST_F(IniFileTest, UnwritableFolderFailsAndChangesNothing) {
  if (geteuid() == 0) GTEST_SKIP() << "root may write any folder";
  const std::string text = "[s]\nk=1\n";
  put(text);
  ASSERT_EQ(chmod(dir_.c_str(), 0555), 0);
  EXPECT_FALSE(writeProfileString("s", "k", "2", path_));
  EXPECT_EQ(get(), text);
}

TEST_F(IniFileTest, LineBreaksInValuesCannotAddKeys) {
  ASSERT_TRUE(writeProfileString("s", "k", "1\nEvil=2\n[other]\nx=3", path_));
  ASSERT_TRUE(writeProfileString("s", "r", "4\rEvil=5", path_));
  EXPECT_EQ(get(), "[s]\nk=1\nr=4\n");
  EXPECT_EQ(getProfileInt("s", "Evil", -1, path_), -1);
  EXPECT_EQ(getProfileInt("other", "x", -1, path_), -1);
}

TEST_F(IniFileTest, NamesThatCannotBeReadBackAreRefused) {
  EXPECT_FALSE(writeProfileString("s", "a=b", "1", path_));
  EXPECT_FALSE(writeProfileString("s", "a\nb", "1", path_));
  EXPECT_FALSE(writeProfileString("s]x", "k", "1", path_));
  EXPECT_FALSE(writeProfileString("", "k", "1", path_));
  EXPECT_FALSE(writeProfileString("s", "", "1", path_));
  EXPECT_FALSE(writeProfileString("s", ";k", "1", path_));
  EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(IniFileTest, WritesLeaveNoTemporaryFilesAndKeepTheMode) {
  put("[s]\nk=1\n");
  ASSERT_EQ(chmod(path_.c_str(), 0640), 0);
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(writeProfileString("s", "k" + std::to_string(i), "x", path_));
  EXPECT_EQ(folderEntries(), std::vector<std::string>{"test.ini"});
  struct stat st;
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(IniFileTest, WritesGoThroughASymbolicLink) {
  const std::string real = dir_ + "/real.ini";
  const std::string link = dir_ + "/link.ini";
  put(real, "[s]\nk=1\n");
  ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
  ASSERT_TRUE(writeProfileString("s", "k", "2", link));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(get(real), "[s]\nk=2\n");
}

TEST_F(IniFileTest, BinaryJunkDoesNotCrash) {
  std::string junk;
  uint32_t seed = 12345;
  for (int i = 0; i < 200000; ++i) {
    seed = seed * 1664525u + 1013904223u;
    junk += static_cast<char>(seed >> 24);
    if (i % 5000 == 0) junk += "\n[s]\r\nk=\"\0=[]\n"[i % 13];
  }
  junk += std::string(3 << 20, 'z');  // one very long line
  put(junk);
  (void)getProfileInt("s", "k", 0, path_);
  (void)getProfileString("s", "k", "", path_);
  ASSERT_TRUE(writeProfileString("kuv_test_section", "key", "value", path_));
  EXPECT_EQ(getProfileString("kuv_test_section", "key", "", path_), "value");
  EXPECT_EQ(get().compare(0, junk.size(), junk), 0);
}

TEST_F(IniFileTest, FoldersAndPipesAreNotFiles) {
  EXPECT_EQ(getProfileInt("s", "k", 5, dir_), 5);
  EXPECT_FALSE(writeProfileString("s", "k", "1", dir_));
  const std::string fifo = dir_ + "/fifo.ini";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  // Opening a FIFO with no writer must not block us.
  EXPECT_EQ(getProfileString("s", "k", "d", fifo), "d");
  EXPECT_FALSE(writeProfileString("s", "k", "1", fifo));
}

}  // namespace

// --- Whole sections: one read, one rewrite ------------------------------------

namespace {

using kuv::platform::readProfileSection;
using kuv::platform::writeProfileStrings;
using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST_F(IniFileTest, SectionReadGivesKeysInOrderUnquotedAndCut) {
  put("[a]\nx=1\n[Play]\n; note\nK1 = \"quoted\"\nk2=" + std::string(300, 'v') + "\nk1=again\n[b]\ny=2\n");
  const Pairs keys = readProfileSection("play", path_, 280);
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[0], (std::pair<std::string, std::string>{"K1", "quoted"}));
  EXPECT_EQ(keys[1].second.size(), 280u);
  EXPECT_EQ(keys[2].second, "again");
  EXPECT_TRUE(readProfileSection("none", path_).empty());
  EXPECT_TRUE(readProfileSection("play", dir_ + "/missing.ini").empty());
  EXPECT_EQ(readProfileSection("Play", path_)[1].second.size(), kProfileStringMax);
}

TEST_F(IniFileTest, BatchWritesEqualOneWriteAfterAnother) {
  const std::string starts[] = {
      "",
      "[other]\na=1\n",
      "; head\r\n[s]\r\nk2=old\r\n\r\n[t]\r\nz=9\r\n",
      "[s]\nK1=x\nk3=y\nk1=second\n[s]\nk4=in the second section\n",
      "[s]",
  };
  const Pairs writes = {{"k1", "one"}, {"k2", "two"}, {"K5", "five"}, {"k1", "last wins"}, {"k6", "a\nb"}};
  for (const std::string& start : starts) {
    SCOPED_TRACE(start);
    const std::string one = dir_ + "/one.ini";
    const std::string all = dir_ + "/all.ini";
    if (!start.empty()) {
      put(one, start);
      put(all, start);
    } else {
      std::remove(one.c_str());
      std::remove(all.c_str());
    }
    for (const auto& [key, value] : writes) ASSERT_TRUE(writeProfileString("s", key, value, one));
    ASSERT_TRUE(writeProfileStrings("s", writes, all));
    EXPECT_EQ(get(all), get(one));
  }
  EXPECT_FALSE(writeProfileStrings("s", {{"good", "1"}, {"bad=key", "2"}}, path_));
  EXPECT_FALSE(writeProfileStrings("s", {}, path_));
}

TEST_F(IniFileTest, AByteOrderMarkIsSkippedOnReadingAndKeptOnWriting) {
  const std::string mark = "\xEF\xBB\xBF";
  struct Case {
    std::string start;
    std::optional<std::string> read;  // s/k before the write
    std::string key;
    std::string after;  // the file after writing key=9 into [s]
  };
  const Case cases[] = {
      {mark + "[s]\nk=1\n", "1", "k", mark + "[s]\nk=9\n"},
      {mark + "[S]\r\nk=1\r\n", "1", "j", mark + "[S]\r\nk=1\r\nj=9\r\n"},
      {mark + "  [s]\nk=\"1\"", "1", "k", mark + "  [s]\nk=9"},
      // A key before any section belongs to none, mark or not.
      {mark + "k=1\n[s]\n", std::nullopt, "k", mark + "k=1\n[s]\nk=9\n"},
      {mark + "[t]\nk=1\n", std::nullopt, "k", mark + "[t]\nk=1\n[s]\nk=9\n"},
      {mark, std::nullopt, "k", mark + "[s]\nk=9\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start);
    put(c.start);
    const auto values = kuv::platform::getProfileStrings("s", {"k"}, path_);
    EXPECT_EQ(values.front(), c.read);
    EXPECT_EQ(getProfileString("s", "k", "none", path_), c.read.value_or("none"));
    EXPECT_EQ(kuv::platform::readProfileSection("s", path_).size(), c.read ? 1u : 0u);
    ASSERT_TRUE(writeProfileString("s", c.key, "9", path_));
    EXPECT_EQ(get(), c.after);
    EXPECT_EQ(getProfileInt("s", c.key, 0, path_), 9);
  }
}

TEST_F(IniFileTest, ManyKeysComeFromOneReadWithTheSingleKeyRules) {
  using Values = std::vector<std::optional<std::string>>;
  const std::vector<std::string> keys = {"a", "A", " b ", "c", "d", "", "missing", "a"};
  struct Case {
    std::string file;
    std::vector<std::string> values;
  };
  const Case cases[] = {
      {"[s]\nA=1\nb = \"two\" \na=3\n[t]\nc=4\n[S]\nd=5\n", {"1", "1", "two", "-", "-", "-", "-", "1"}},
      {"junk\n[other]\na=0\n[ s ]\r\n;a=comment\r\nc=" + std::string(300, 'c') + "\r\nB=\r\n",
       {"-", "-", "", std::string(259, 'c'), "-", "-", "-", "-"}},
      {"a=outside\n[s\nb=after a broken header\n", {"-", "-", "-", "-", "-", "-", "-", "-"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    put(c.file);
    Values want;
    for (const std::string& v : c.values) want.push_back(v == "-" ? std::nullopt : std::optional<std::string>(v));
    EXPECT_EQ(kuv::platform::getProfileStrings("s", keys, path_), want);
  }
  EXPECT_EQ(kuv::platform::getProfileStrings("s", keys, dir_ + "/none.ini"), Values(keys.size()));
}

}  // namespace
