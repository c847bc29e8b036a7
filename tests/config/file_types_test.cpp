#include "config/file_types.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using namespace std::string_literals;
using kuv::test::EnvOverride;
using kuv::test::readFile;
using kuv::test::runCommand;

bool programInstalled(const std::string& name) { return runCommand("command -v " + name + " >/dev/null") == 0; }

std::string lineStartingWith(const std::string& text, const std::string& prefix) {
  size_t at = text.find("\n" + prefix);
  if (at == std::string::npos) return "";
  at += 1;
  return text.substr(at, text.find('\n', at) - at);
}

// Every file below root: path relative to root -> mode and bytes.
std::map<std::string, std::string> filesBelow(const std::string& root) {
  std::map<std::string, std::string> files;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(root, error);
       it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (!it->is_regular_file()) continue;
    struct stat st;
    stat(it->path().c_str(), &st);
    files[std::filesystem::relative(it->path(), root).string()] =
        std::to_string(st.st_mode & 0777) + ":" + readFile(it->path().string());
  }
  return files;
}

kuv::FileTypeIcons shippedIcons() {
  kuv::FileTypeIcons icons;
  for (int size : {16, 32, 48, 64, 128, 256}) {
    const std::string skin = std::string(KUV_SOURCE_DIR) + "/resources/skin/";
    const std::string n = std::to_string(size);
    icons.audio.push_back({size, readFile(skin + "type-audio-" + n + ".png")});
    icons.playlist.push_back({size, readFile(skin + "type-playlist-" + n + ".png")});
    icons.program.push_back({size, readFile(skin + "icon-" + n + ".png")});
  }
  return icons;
}

TEST(FileTypes, ExecLineQuotesThePathForLaunchers) {
  ASSERT_TRUE(programInstalled("desktop-file-validate")) << "desktop-file-validate missing (desktop-file-utils)";
  struct Row {
    std::string executable, exec;
  };
  const Row rows[] = {
      {"/usr/bin/kuv", R"(Exec="/usr/bin/kuv" %F)"},
      {"/opt/KUV Player/kuv", R"(Exec="/opt/KUV Player/kuv" %F)"},
      {R"(/opt/say "hi"/kuv)", R"(Exec="/opt/say \\"hi\\"/kuv" %F)"},
      {"/opt/$HOME/kuv", R"(Exec="/opt/\\$HOME/kuv" %F)"},
      {"/opt/100%/kuv", R"(Exec="/opt/100%%/kuv" %F)"},
      {R"(/opt/back\slash/kuv)", R"(Exec="/opt/back\\\\slash/kuv" %F)"},
      {"/opt/`tick`/kuv", R"(Exec="/opt/\\`tick\\`/kuv" %F)"},
  };
  const std::string folder = kuv::test::makeTempFolder();
  for (const Row& row : rows) {
    const std::string entry = kuv::desktopEntryText(row.executable);
    EXPECT_EQ(lineStartingWith("\n" + entry, "Exec="), row.exec) << row.executable;
    const std::string path = folder + "/kuv.desktop";
    ASSERT_TRUE(kuv::test::writeFile(path, entry));
    std::string said;
    EXPECT_EQ(runCommand("desktop-file-validate '" + path + "' 2>&1", &said), 0) << row.executable << "\n" << said;
  }
  kuv::test::removeTree(folder);
}

TEST(FileTypes, PlacesFollowTheBaseDirectoryRules) {
  struct Row {
    const char *home, *data, *config;
    std::string dataHome, configHome;
  };
  const Row rows[] = {
      {"/h", nullptr, nullptr, "/h/.local/share", "/h/.config"},
      {"/h", "/d", "/c", "/d", "/c"},
      {"/h", "/d/", "/c//", "/d", "/c"},
      {"/h", "", "", "/h/.local/share", "/h/.config"},
      {"/h", "relative/d", "relative/c", "/h/.local/share", "/h/.config"},
  };
  for (const Row& row : rows) {
    EnvOverride home("HOME", row.home), data("XDG_DATA_HOME", row.data), config("XDG_CONFIG_HOME", row.config);
    const kuv::FileTypePlaces places = kuv::fileTypePlaces();
    EXPECT_EQ(places.dataHome, row.dataHome) << (row.data ? row.data : "(unset)");
    EXPECT_EQ(places.configHome, row.configHome) << (row.config ? row.config : "(unset)");
  }
}

TEST(FileTypes, DefaultsEditKeepsEveryOtherLine) {
  const std::string ours =
      "[Default Applications]\naudio/mpeg=kuv.desktop\naudio/x-scpls=kuv.desktop\n"
      "audio/x-mpegurl=kuv.desktop\n";
  const std::string added = "audio/mpeg=kuv.desktop;\naudio/x-scpls=kuv.desktop;\naudio/x-mpegurl=kuv.desktop;\n";
  struct Row {
    const char* name;
    std::string before, after;
  };
  const Row rows[] = {
      {"no file", "", ours + "\n[Added Associations]\n" + added},
      {"others and odd lines",
       "# made by hand\n[Default Applications]\ntext/html=firefox.desktop\naudio/mpeg = vlc.desktop\n\n"
       "[Added Associations]\naudio/x-scpls=vlc.desktop\nimage/png=gimp.desktop;\n"
       "[Removed Associations]\naudio/mpeg=kuv.desktop;mpv.desktop;\naudio/x-mpegurl=kuv.desktop\n"
       "[Other]\naudio/mpeg=stays\nno equals \xff\x00 sign"s,
       "# made by hand\n[Default Applications]\ntext/html=firefox.desktop\naudio/mpeg=kuv.desktop\n"
       "audio/x-scpls=kuv.desktop\naudio/x-mpegurl=kuv.desktop\n\n"
       "[Added Associations]\naudio/x-scpls=vlc.desktop;kuv.desktop;\nimage/png=gimp.desktop;\n"
       "audio/mpeg=kuv.desktop;\naudio/x-mpegurl=kuv.desktop;\n"
       "[Removed Associations]\naudio/mpeg=mpv.desktop;\n[Other]\naudio/mpeg=stays\nno equals \xff\x00 sign\n"s},
      {"repeated key", "[Default Applications]\naudio/mpeg=a.desktop\naudio/mpeg=b.desktop\n",
       ours + "\n[Added Associations]\n" + added},
      {"added group first", "[Added Associations]\nx/y=z;\n\n[Default Applications]\nx/y=z\n",
       "[Added Associations]\nx/y=z;\n" + added + "\n[Default Applications]\nx/y=z\n" + ours.substr(23)},
      {"CRLF lines", "[Default Applications]\r\naudio/mpeg=vlc.desktop\r\n[Added Associations]\r\n",
       "[Default Applications]\r\n" + ours.substr(23) + "[Added Associations]\r\n" + added},
  };
  for (const Row& row : rows) {
    const std::string once = kuv::withDefaultApplications(row.before);
    EXPECT_EQ(once, row.after) << row.name;
    EXPECT_EQ(kuv::withDefaultApplications(once), once) << row.name << ": a second press changed it";
  }
}

TEST(FileTypes, RegisteringMakesKuvTheDefaultAndRepeatsExactly) {
  for (const char* program : {"xdg-mime", "update-mime-database", "update-desktop-database"})
    ASSERT_TRUE(programInstalled(program)) << program << " missing (scripts/deps.sh installs it)";
  const char* realHomeText = std::getenv("HOME");
  const std::string realHome = realHomeText ? realHomeText : "/nonexistent";
  const auto realFiles = [&realHome] {
    std::string seen;
    for (const char* name : {"/.config/mimeapps.list", "/.local/share/applications/kuv.desktop",
                             "/.local/share/mime/packages/kuv.xml", "/.local/share/applications/mimeinfo.cache"})
      seen += std::string(name) + (kuv::test::fileExists(realHome + name) ? "=" + readFile(realHome + name) : "-");
    return seen;
  };
  const std::string realBefore = realFiles();

  struct Row {
    const char* name;
    bool xdgVariables;
    std::string mimeapps;  // "" when there is no file yet
  };
  const Row rows[] = {
      {"fresh home, default folders", false, ""},
      {"XDG folders set, list with other entries", true,
       "[Default Applications]\ntext/plain=gedit.desktop\naudio/mpeg=vlc.desktop\n# note\nodd line\n"
       "[Added Associations]\nimage/png=gimp.desktop;\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string root = kuv::test::makeTempFolder();
    const std::string home = root + "/home", tmp = root + "/tmp";
    ASSERT_TRUE(std::filesystem::create_directories(home) && std::filesystem::create_directories(tmp));
    const std::string dataHome = row.xdgVariables ? home + "/data" : home + "/.local/share";
    const std::string configHome = row.xdgVariables ? home + "/conf" : home + "/.config";
    EnvOverride homeEnv("HOME", home.c_str()), tmpEnv("TMPDIR", tmp.c_str());
    EnvOverride data("XDG_DATA_HOME", row.xdgVariables ? dataHome.c_str() : nullptr);
    EnvOverride config("XDG_CONFIG_HOME", row.xdgVariables ? configHome.c_str() : nullptr);
    EnvOverride desktop("XDG_CURRENT_DESKTOP", "X-Generic");
    if (!row.mimeapps.empty()) {
      std::filesystem::create_directories(configHome);
      ASSERT_TRUE(kuv::test::writeFile(configHome + "/mimeapps.list", row.mimeapps));
    }

    const kuv::FileTypePlaces places = kuv::fileTypePlaces();
    EXPECT_EQ(places.dataHome, dataHome);
    const kuv::FileTypeReport first = kuv::registerFileTypes("/opt/KUV Player/kuv", shippedIcons(), places);
    EXPECT_TRUE(first.problems.empty()) << first.problems.front();
    const std::map<std::string, std::string> afterFirst = filesBelow(root);
    const kuv::FileTypeReport second = kuv::registerFileTypes("/opt/KUV Player/kuv", shippedIcons(), places);
    EXPECT_TRUE(second.problems.empty());
    EXPECT_EQ(filesBelow(root), afterFirst) << "a second press changed files";

    for (const char* type : {"audio/mpeg", "audio/x-scpls", "audio/x-mpegurl"}) {
      std::string answer;
      EXPECT_EQ(runCommand(std::string("xdg-mime query default ") + type, &answer), 0);
      EXPECT_EQ(answer, "kuv.desktop\n") << type;
    }
    // The package was taken in: our globs win over other claims on .mp2 and .m3u.
    const std::string globs = readFile(dataHome + "/mime/globs2");
    for (const char* line : {"60:audio/mpeg:*.mp1", "60:audio/mpeg:*.mp2", "60:audio/mpeg:*.mp3",
                             "60:audio/x-scpls:*.pls", "60:audio/x-mpegurl:*.m3u"})
      EXPECT_NE(globs.find(line), std::string::npos) << line;
    EXPECT_NE(readFile(dataHome + "/mime/icons").find("audio/mpeg:kuv-audio-file"), std::string::npos);
    for (const char* icon :
         {"48x48/mimetypes/kuv-audio-file.png", "256x256/mimetypes/kuv-playlist-file.png", "16x16/apps/kuv.png"})
      EXPECT_EQ(afterFirst.count(std::filesystem::relative(dataHome + "/icons/hicolor/" + icon, root).string()), 1u)
          << icon;
    const std::string list = readFile(configHome + "/mimeapps.list");
    size_t from = 0;
    for (const char* kept : {"text/plain=gedit.desktop\n", "# note\nodd line\n", "image/png=gimp.desktop;\n"}) {
      if (row.mimeapps.find(kept) == std::string::npos) continue;
      from = list.find(kept, from);
      EXPECT_NE(from, std::string::npos) << kept;
    }
    EXPECT_EQ(list.find("vlc.desktop"), std::string::npos);

    for (const auto& [path, content] : filesBelow(root)) {
      EXPECT_TRUE(path.starts_with("home/")) << path << " written outside the home folder";
      const bool ours = path.ends_with("kuv.desktop") || path.ends_with("kuv.xml") || path.ends_with(".png") ||
                        path.ends_with("mimeapps.list");
      if (ours) {
        EXPECT_TRUE(content.starts_with("420:")) << path << " is not mode 0644";
      }
    }
    kuv::test::removeTree(root);
  }
  EXPECT_EQ(realFiles(), realBefore) << "the real home folder was touched";
}

TEST(FileTypes, BadInputIsReportedClearly) {
  struct Row {
    const char* name;
    std::string executable;
    std::vector<kuv::FileTypeIcon> audio;
    bool blockApplications;  // a plain file where the menu folder goes
    std::string problem;     // part of the one expected report line
    bool defaultsWritten;
  };
  const Row rows[] = {
      {"relative program", "kuv", {}, false, "not absolute", false},
      {"newline in path", "/opt/a\nb/kuv", {}, false, "control character", false},
      {"Latin-1 path", "/opt/caf\xe9/kuv", {}, false, "not valid UTF-8", false},
      {"not a PNG", "/usr/bin/kuv", {{32, "GIF89a..."}}, false, "32-pixel audio file icon is not a PNG", true},
      {"size out of range", "/usr/bin/kuv", {{0, "\x89PNG\r\n\x1a\n"}}, false, "outside 1 to 1024", true},
      {"folder blocked", "/usr/bin/kuv", {}, true, "share/applications", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string root = kuv::test::makeTempFolder();
    EnvOverride desktop("XDG_CURRENT_DESKTOP", "X-Generic");
    const kuv::FileTypePlaces places{root + "/share", root + "/config"};
    if (row.blockApplications) {
      std::filesystem::create_directories(places.dataHome);
      ASSERT_TRUE(kuv::test::writeFile(places.dataHome + "/applications", "in the way"));
    }
    kuv::FileTypeIcons icons;
    icons.audio = row.audio;
    const kuv::FileTypeReport report = kuv::registerFileTypes(row.executable, icons, places);
    bool named = false;
    for (const std::string& problem : report.problems) named = named || problem.find(row.problem) != std::string::npos;
    EXPECT_TRUE(named) << (report.problems.empty() ? "(no problems)" : report.problems.front());
    EXPECT_EQ(kuv::test::fileExists(places.configHome + "/mimeapps.list"), row.defaultsWritten);
    if (!row.defaultsWritten) {
      EXPECT_TRUE(filesBelow(root).empty());
    }
    kuv::test::removeTree(root);
  }
}

}  // namespace
