// What the playlist learns of a file without decoding it: the genre table,
// ID3v1 and ID3v2 tags read from files, the estimated length, the entry
// information and the play-time texts.
#include "playlist/file_info.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "decoder/frame_context.h"
#include "decoder/frame_header.h"
#include "platform/file.h"
#include "playlist/playlist.h"
#include "support/byte_patterns.h"
#include "support/test_support.h"

namespace kuv {
namespace {

using test::bigEndianBytes;
using test::syncsafe32;

// A temporary folder for one test.
struct Folder {
  std::string path = test::makeTempFolder();
  ~Folder() { test::removeTree(path); }
  std::string file(const std::string& name, const std::string& bytes) const {
    const std::string at = path + "/" + name;
    EXPECT_TRUE(test::writeFile(at, bytes));
    return at;
  }
};

// An open file for the readers, closed at the end of the scope.
struct OpenFile {
  explicit OpenFile(const std::string& path) : handle(platform::openForRead(path)) { EXPECT_GE(handle, 0) << path; }
  ~OpenFile() {
    if (handle >= 0) platform::closeHandle(handle);
  }
  int64_t size() const { return platform::fileSize(handle); }
  int handle;
};

int32_t lengthOf(const std::string& path) {
  OpenFile file(path);
  return estimateLengthMs(file.handle, file.size());
}

// ---- genre table

TEST(FileInfoGenres, MatchTheReferenceList) {
  std::ifstream in(test::referencePath("misc.txt"));
  ASSERT_TRUE(in) << test::referencePath("misc.txt");
  std::string line;
  int listed = 0;
  while (std::getline(in, line)) {
    if (line.rfind("genre ", 0) != 0) continue;
    std::istringstream fields(line.substr(6));
    int index = -1;
    fields >> index;
    std::string name;
    std::getline(fields >> std::ws, name);
    ASSERT_GE(index, 0);
    ASSERT_LT(index, kUnknownGenre);
    EXPECT_STREQ(kGenreNames[index], name.c_str()) << index;
    ++listed;
  }
  EXPECT_EQ(listed, kUnknownGenre);
  EXPECT_STREQ(kGenreNames[40], "AlternRock");
  EXPECT_STREQ(kGenreNames[kUnknownGenre], "Unknown");
}

// ---- ID3v1

std::string field(const std::string& text, size_t width, char pad = '\0') {
  std::string out = text.substr(0, width);
  out.resize(width, pad);
  return out;
}

std::string id3v1(const std::string& title, const std::string& artist = field("", 30),
                  const std::string& album = field("", 30), const std::string& year = field("", 4),
                  const std::string& comment = field("", 30), uint8_t genre = 12, const std::string& marker = "TAG") {
  std::string tag = marker + title + artist + album + year + comment + static_cast<char>(genre);
  EXPECT_EQ(tag.size(), 128u);
  return tag;
}

TagInfo readV1(const std::string& path, int32_t* result = nullptr) {
  OpenFile file(path);
  TagInfo tag{};
  std::memset(&tag, 0x55, sizeof tag);  // whatever was there before
  const int32_t r = readId3v1(file.handle, tag);
  if (result) *result = r;
  return tag;
}

TEST(FileInfoId3v1, ReadsTheFieldsAtTheEndOfTheFile) {
  Folder folder;
  const std::string path =
      folder.file("a.mp3", std::string(500, '\x11') + id3v1(field("Title", 30, ' '), field("Artist", 30),
                                                            field("Album", 30, ' '), "1987", field("Comment", 30), 17));
  int32_t result = 0;
  const TagInfo tag = readV1(path, &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(tag.valid, 1);
  EXPECT_STREQ(tag.title, "Title");
  EXPECT_STREQ(tag.artist, "Artist");
  EXPECT_STREQ(tag.album, "Album");
  EXPECT_STREQ(tag.year, "1987");
  EXPECT_STREQ(tag.comment, "Comment");
  EXPECT_EQ(tag.genreIndex, 17);
  EXPECT_STREQ(tag.genreName, "Rock");
}

TEST(FileInfoId3v1, OnlyTrailingSpacesOfTheWholeFieldGo) {
  Folder folder;
  // Spaces before zero bytes stay: the scan from the last position meets a
  // zero first.
  EXPECT_STREQ(readV1(folder.file("a", id3v1(field("ABCD  ", 30)))).title, "ABCD  ");
  // Spaces up to the end go.
  EXPECT_STREQ(readV1(folder.file("b", id3v1(field("ABCD", 30, ' ')))).title, "ABCD");
  EXPECT_STREQ(readV1(folder.file("c", id3v1(field("  AB CD", 30, ' ')))).title, "  AB CD");
  // A field of spaces only is empty, the year included.
  const TagInfo blank = readV1(
      folder.file("d", id3v1(field("", 30, ' '), field("", 30, ' '), field("", 30, ' '), "    ", field("", 30, ' '))));
  EXPECT_EQ(blank.valid, 1);
  EXPECT_STREQ(blank.title, "");
  EXPECT_STREQ(blank.artist, "");
  EXPECT_STREQ(blank.year, "");
  EXPECT_STREQ(blank.comment, "");
  EXPECT_STREQ(readV1(folder.file("e", id3v1(field("", 30), field("", 30), field("", 30), "99  "))).year, "99");
  // All 30 characters are kept when they fill the field.
  const std::string full = "123456789012345678901234567890";
  EXPECT_STREQ(readV1(folder.file("f", id3v1(full))).title, full.c_str());
}

TEST(FileInfoId3v1, CommentEndsAtAZeroByteAndTextIsLatin1) {
  Folder folder;
  // A track number after a zero byte is not part of the comment.
  std::string comment = field("Good", 28);
  comment += '\0';
  comment += '\x05';
  TagInfo tag = readV1(folder.file("a", id3v1(field("Caf\xE9", 30), field("", 30), field("", 30), "2001", comment)));
  EXPECT_STREQ(tag.comment, "Good");
  EXPECT_STREQ(tag.title, "Caf\xC3\xA9");
  // Thirty Latin-1 letters take sixty bytes in UTF-8, all kept.
  tag = readV1(folder.file("b", id3v1(std::string(30, '\xE9'))));
  EXPECT_EQ(std::strlen(tag.title), 60u);
  EXPECT_EQ(std::string(tag.title).substr(58), "\xC3\xA9");
}

TEST(FileInfoId3v1, MarkerInAnyCaseAndGenresPastTheTableAreUnknown) {
  Folder folder;
  const auto withGenre = [](uint8_t genre, const std::string& marker = "TAG") {
    return id3v1(field("T", 30), field("", 30), field("", 30), field("", 4), field("", 30), genre, marker);
  };
  int32_t result = 0;
  TagInfo tag = readV1(folder.file("a", withGenre(0, "tag")), &result);
  EXPECT_EQ(result, 1);
  EXPECT_STREQ(tag.genreName, "Blues");
  EXPECT_EQ(readV1(folder.file("b", withGenre(43, "tAg"))).genreIndex, 43);
  for (uint8_t genre : {44, 80, 127, 128, 255}) {
    tag = readV1(folder.file("c", withGenre(genre)));
    EXPECT_EQ(tag.genreIndex, 44) << int(genre);
    EXPECT_STREQ(tag.genreName, "Unknown") << int(genre);
  }
}

TEST(FileInfoId3v1, NoTagLeavesEmptyFields) {
  Folder folder;
  int32_t result = 1;
  // No marker.
  TagInfo tag = readV1(folder.file("a", std::string(200, 'x')), &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(tag.valid, 0);
  EXPECT_STREQ(tag.title, "");
  EXPECT_STREQ(tag.genreName, "");
  const TagInfo empty{};
  EXPECT_EQ(std::memcmp(&tag, &empty, sizeof tag), 0);
  // Shorter than a tag, even one that starts with the marker.
  tag = readV1(folder.file("b", "TAGTitle" + std::string(100, ' ')), &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(tag.valid, 0);
  EXPECT_EQ(std::memcmp(&tag, &empty, sizeof tag), 0);
  tag = readV1(folder.file("c", ""), &result);
  EXPECT_EQ(result, 0);
  // A marker somewhere else than 128 bytes before the end.
  tag = readV1(folder.file("d", "TAG" + std::string(200, 'x')), &result);
  EXPECT_EQ(result, 0);
}

// ---- ID3v2 from files

std::string frame3(const std::string& id, const std::string& data) {
  return id + bigEndianBytes(static_cast<uint32_t>(data.size())) + std::string(2, '\0') + data;
}

std::string id3v2Tag(const std::string& body, uint8_t flags = 0, uint32_t declared = 0xFFFFFFFF) {
  return std::string("ID3\x03\0", 5) + static_cast<char>(flags) +
         syncsafe32(declared == 0xFFFFFFFF ? static_cast<uint32_t>(body.size()) : declared) + body;
}

TEST(FileInfoId3v2, LargeOrLyingTagsAreReadOnlyInPart) {
  Folder folder;
  const std::string title = frame3("TIT2", std::string("\0First", 6));
  // A picture larger than what is read: the title before it counts, the
  // artist after it is not looked for.
  const std::string picture = frame3("APIC", std::string(1200000, '\x01'));
  const std::string big = id3v2Tag(title + picture + frame3("TPE1", std::string("\0After", 6)));
  {
    OpenFile file(folder.file("big.mp3", big));
    TagInfo info{};
    ASSERT_EQ(readId3v2(file.handle, info), 1);
    EXPECT_STREQ(info.title, "First");
    EXPECT_STREQ(info.artist, "");
  }
  // A declared size of 256 MB in a small file.
  {
    OpenFile file(folder.file("lying.mp3", id3v2Tag(title, 0, 0x0FFFFFFF)));
    TagInfo info{};
    ASSERT_EQ(readId3v2(file.handle, info), 1);
    EXPECT_STREQ(info.title, "First");
  }
  // No tag, or one cut inside its header: the tag is left as it was.
  for (const std::string& bytes : {std::string(500, '\0'), std::string("ID3\x03\0", 5), std::string()}) {
    OpenFile file(folder.file("none.mp3", bytes));
    TagInfo info{};
    std::strcpy(info.title, "kept");
    EXPECT_EQ(readId3v2(file.handle, info), 0);
    EXPECT_STREQ(info.title, "kept");
  }
}

// ---- length

constexpr uint32_t kMpeg1Layer3At128 = 0xFFFB9064;  // 44.1 kHz, joint stereo, 417-byte frames

// `size` bytes of back-to-back frames with this header and silent bodies.
std::string frames(uint32_t header, size_t size) {
  FrameContext ctx;
  decodeHeaderFields(header, ctx);
  int32_t body = frameBodyLength(ctx.layer, ctx.lsf, ctx.sampleRateIndex, ctx.bitRateIndex, ctx.padding);
  if (body <= 0) body = 413;
  std::string frame = bigEndianBytes(header) + std::string(static_cast<size_t>(body), '\0');
  std::string out;
  out.reserve(size + frame.size());
  while (out.size() < size) out += frame;
  out.resize(size);
  return out;
}

TEST(FileInfoLength, ConstantBitRateCountsWholeSeconds) {
  Folder folder;
  EXPECT_EQ(lengthOf(folder.file("a", frames(kMpeg1Layer3At128, 4000000))), 250000);
  EXPECT_EQ(lengthOf(folder.file("b", frames(kMpeg1Layer3At128, 1000000))), 62000);  // 62.5 s
  EXPECT_EQ(lengthOf(folder.file("c", frames(kMpeg1Layer3At128, 15999))), 0);
  // A single frame: the end of the file confirms it.
  EXPECT_EQ(lengthOf(folder.file("d", frames(kMpeg1Layer3At128, 417))), 0);
  // MPEG-2 Layer III at 8 kbit/s: 1000 bytes a second.
  EXPECT_EQ(lengthOf(folder.file("e", frames(0xFFF31064, 123456))), 123000);
}

TEST(FileInfoLength, TagsAroundTheAudioAreNotCounted) {
  Folder folder;
  const std::string audio = frames(kMpeg1Layer3At128, 1000000);
  const std::string tag = id3v2Tag(std::string(49990, '\0'));  // 50000 bytes
  EXPECT_EQ(lengthOf(folder.file("a", tag + audio)), 62000);
  // Several tags back to back, one with a footer.
  const std::string footed = id3v2Tag(std::string(20000, '\0'), 0x10) + "3DI" + std::string(7, '\0');
  EXPECT_EQ(lengthOf(folder.file("b", tag + footed + tag + audio)), 62000);
  // 3,999,900 bytes of audio are 249 s; the tag at the end makes it 250 if counted.
  const std::string longer = frames(kMpeg1Layer3At128, 3999900);
  EXPECT_EQ(lengthOf(folder.file("c", longer + id3v1(field("T", 30)))), 249000);
  EXPECT_EQ(lengthOf(folder.file("d", longer + id3v1(field("T", 30), field("", 30), field("", 30), field("", 4),
                                                     field("", 30), 1, "tag"))),
            249000);
  EXPECT_EQ(lengthOf(folder.file("e", longer + std::string(128, 'x'))), 250000);
  // A tag claiming more than the file holds.
  EXPECT_EQ(lengthOf(folder.file("f", id3v2Tag("", 0, 5000000) + audio)), kUnknownLength);
  // Thousands of empty tags are not walked ten bytes at a time.
  std::string empties;
  for (int i = 0; i < 100000; ++i) empties += id3v2Tag("");
  EXPECT_EQ(lengthOf(folder.file("g", empties + audio)), kUnknownLength);
}

TEST(FileInfoLength, AFirstHeaderMustBeConfirmedByTheNext) {
  Folder folder;
  // Junk with a plausible header word whose frame is not followed by
  // another, then the real frames.
  std::string junk(3000, '\x11');
  const std::string fake = bigEndianBytes(0xFFFBA064);  // 160 kbit/s
  junk.replace(100, 4, fake);
  junk.replace(2000, 4, fake);
  EXPECT_EQ(lengthOf(folder.file("a", junk + frames(kMpeg1Layer3At128, 1000000))), 62000);
  // Runs of 0xFF are passed over.
  std::string ones(1000, '\xFF');
  EXPECT_EQ(lengthOf(folder.file("b", ones + frames(kMpeg1Layer3At128, 1000000))), 62000);
  // Nothing in the search window.
  EXPECT_EQ(lengthOf(folder.file("c", std::string(70000, '\0') + frames(kMpeg1Layer3At128, 1000000))), kUnknownLength);
}

TEST(FileInfoLength, UnusableHeadersGiveUnknown) {
  Folder folder;
  EXPECT_EQ(lengthOf(folder.file("free", frames(0xFFFB0064, 100000))), kUnknownLength);       // free format
  EXPECT_EQ(lengthOf(folder.file("forbidden", frames(0xFFFBF064, 100000))), kUnknownLength);  // index 15
  EXPECT_EQ(lengthOf(folder.file("layer", frames(0xFFF99064, 100000))), kUnknownLength);      // layer bits 00
  EXPECT_EQ(lengthOf(folder.file("rate", frames(0xFFFB9C64, 100000))), kUnknownLength);       // rate field 3
  EXPECT_EQ(lengthOf(folder.file("tiny", bigEndianBytes(kMpeg1Layer3At128).substr(0, 3))), kUnknownLength);
  EXPECT_EQ(lengthOf(folder.file("empty", "")), kUnknownLength);
  EXPECT_EQ(lengthOf(folder.file("zeros", std::string(5000, '\0'))), kUnknownLength);
  EXPECT_EQ(lengthOf(folder.file("tagonly", id3v2Tag(std::string(100, '\0')))), kUnknownLength);
  EXPECT_EQ(lengthOf(test::fixturePath("random.bin")), kUnknownLength);
  // Sizes that do not match the file are harmless.
  OpenFile file(folder.file("sized", frames(kMpeg1Layer3At128, 1000)));
  EXPECT_EQ(estimateLengthMs(file.handle, -5), kUnknownLength);
  EXPECT_EQ(estimateLengthMs(file.handle, 2), kUnknownLength);
}

// Header offsets of every frame of a file without tags in front.
int32_t countFrames(const std::string& bytes) {
  int32_t count = 0;
  size_t at = 0;
  while (at + 4 <= bytes.size()) {
    const uint32_t word = bigEndian32(reinterpret_cast<const uint8_t*>(bytes.data()) + at);
    if (!isPlausibleHeader(word)) break;
    FrameContext ctx;
    decodeHeaderFields(word, ctx);
    at += 4 +
          static_cast<size_t>(frameBodyLength(ctx.layer, ctx.lsf, ctx.sampleRateIndex, ctx.bitRateIndex, ctx.padding));
    ++count;
  }
  return count;
}

TEST(FileInfoLength, XingAndInfoFramesGiveTheFrameCount) {
  // The encoded tune lasts 12 s; the encoder adds its delay and fills the
  // last frame, a little over two frames at most.
  const double frameMs = 1152 * 1000.0 / 44100;
  for (const char* name : {"vbr.mp3", "cbr.mp3", "l3_v6.mp3"}) {
    const std::string bytes = test::readFile(test::fixturePath(name));
    ASSERT_FALSE(bytes.empty()) << name;
    const int32_t audioFrames = countFrames(bytes) - 1;  // less the tag frame
    const int32_t length = lengthOf(test::fixturePath(name));
    EXPECT_EQ(length, static_cast<int32_t>(int64_t{audioFrames} * 1152 * 1000 / 44100)) << name;
    EXPECT_GE(length, 12000) << name;
    EXPECT_LE(length, 12000 + 3 * frameMs) << name;
  }
  // MPEG-2 frames hold 576 samples.
  const int32_t mpeg2 = lengthOf(test::fixturePath("mpeg2.mp3"));
  EXPECT_GE(mpeg2, 12000);
  EXPECT_LE(mpeg2, 12000 + 3 * 576 * 1000.0 / 22050);
  // Without a tag frame the size and the first bit rate decide: whole seconds.
  EXPECT_EQ(lengthOf(test::fixturePath("cbr_notag.mp3")), 12000);
  // A big ID3v2 tag in front changes nothing.
  EXPECT_EQ(lengthOf(test::fixturePath("id3v2.mp3")), 12000);
  EXPECT_EQ(lengthOf(test::fixturePath("id3v1.mp3")), 12000);
}

TEST(FileInfoLength, LongLengthsClampAtTheLargestValue) {
  Folder folder;
  // A Xing frame claiming 2^32 - 1 frames: about 26 million seconds.
  std::string first = frames(kMpeg1Layer3At128, 417);
  first.replace(4 + 32, 12, std::string("Xing") + bigEndianBytes(1) + bigEndianBytes(0xFFFFFFFF));
  EXPECT_EQ(lengthOf(folder.file("xing", first + frames(kMpeg1Layer3At128, 4170))), INT32_MAX);
  // A constant-rate file of 3 GB at 1000 bytes a second, holes inside.
  const std::string path = folder.file("sparse", frames(0xFFF31064, 1000));
  if (::truncate(path.c_str(), 3000000000LL) != 0) GTEST_SKIP() << "no room for a 3 GB sparse file";
  EXPECT_EQ(lengthOf(path), INT32_MAX);
}

// ---- entries

PlaylistEntry untouchedEntry(const std::string& path) {
  PlaylistEntry entry;
  entry.path = path;
  entry.lengthMs = 1234;
  std::strcpy(entry.tag.title, "before");
  return entry;
}

void expectUntouched(const PlaylistEntry& entry) {
  EXPECT_EQ(entry.infoKnown, 0) << entry.path;
  EXPECT_EQ(entry.lengthMs, 1234) << entry.path;
  EXPECT_STREQ(entry.tag.title, "before") << entry.path;
}

TEST(FileInfoEntry, NamesThatAreNoRegularFilesAreLeftAlone) {
  Folder folder;
  for (const std::string& name : {std::string("/nonexistent/kuv/a.mp3"), std::string("http://example.com/a.mp3"),
                                  folder.path + "/x://y.mp3", folder.path, std::string("/dev/null"), std::string()}) {
    PlaylistEntry entry = untouchedEntry(name);
    readEntryInfo(entry);
    expectUntouched(entry);
  }
  // A FIFO would block an open: never opened.
  const std::string fifo = folder.path + "/pipe.mp3";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  PlaylistEntry entry = untouchedEntry(fifo);
  readEntryInfo(entry);
  expectUntouched(entry);
}

TEST(FileInfoEntry, ARegularFileGetsLengthAndTag) {
  PlaylistEntry entry = untouchedEntry(test::fixturePath("id3v1.mp3"));
  readEntryInfo(entry);
  EXPECT_EQ(entry.infoKnown, 1);
  // Without a frame count the frames are counted: 461 of 1152 samples at
  // 44.1 kHz, not the whole seconds the size would give (12000).
  EXPECT_EQ(entry.lengthMs, 12042);
  EXPECT_EQ(entry.tag.valid, 1);
  EXPECT_STREQ(entry.tag.title, "Title");
  EXPECT_STREQ(entry.tag.artist, "Artist");
  EXPECT_STREQ(entry.tag.year, "2026");
  EXPECT_EQ(entry.tag.genreIndex, 12);
  EXPECT_STREQ(entry.tag.genreName, "Other");
}

TEST(FileInfoEntry, Id3v2IsReadOnlyWithoutAnId3v1Tag) {
  Folder folder;
  const std::string v2 = id3v2Tag(frame3("TIT2", std::string("\0From v2", 8)));
  const std::string audio = frames(kMpeg1Layer3At128, 1000000);
  PlaylistEntry entry = untouchedEntry(folder.file("v2.mp3", v2 + audio));
  readEntryInfo(entry);
  EXPECT_EQ(entry.infoKnown, 1);
  EXPECT_EQ(entry.lengthMs, 62667);  // 2399 frames counted
  EXPECT_STREQ(entry.tag.title, "From v2");
  EXPECT_EQ(entry.tag.genreIndex, kUnknownGenre);

  entry = untouchedEntry(folder.file("both.mp3", v2 + audio + id3v1(field("From v1", 30))));
  readEntryInfo(entry);
  EXPECT_STREQ(entry.tag.title, "From v1");

  // Neither tag nor audio: known, but nothing to show.
  entry = untouchedEntry(folder.file("none.mp3", std::string(1000, '\0')));
  readEntryInfo(entry);
  EXPECT_EQ(entry.infoKnown, 1);
  EXPECT_EQ(entry.lengthMs, kUnknownLength);
  EXPECT_EQ(entry.tag.valid, 0);
  EXPECT_STREQ(entry.tag.title, "");
}

// ---- play time

TEST(FileInfoPlayTime, TextOfOneLength) {
  EXPECT_EQ(playTimeText(0), "Playtime: 00:00:00");
  EXPECT_EQ(playTimeText(999), "Playtime: 00:00:00");
  EXPECT_EQ(playTimeText(61500), "Playtime: 00:01:01");
  EXPECT_EQ(playTimeText(3723000), "Playtime: 01:02:03");
  EXPECT_EQ(playTimeText(int64_t{100} * 3600 * 1000 + 59000), "Playtime: 100:00:59");
  EXPECT_EQ(playTimeText(INT32_MAX), "Playtime: 596:31:23");
  EXPECT_EQ(playTimeText(-1), kUnknownPlayTimeText);
  EXPECT_EQ(playTimeText(kUnknownLength), "Playtime: Unknown");
}

TEST(FileInfoPlayTime, TotalsAddWholeSecondsAndStayUnknown) {
  PlayTimeTotal total;
  EXPECT_EQ(total.text(), "Playtime: 00:00:00");
  PlaylistEntry a;
  a.infoKnown = 1;
  a.lengthMs = 61500;
  PlaylistEntry b;
  b.infoKnown = 1;
  b.lengthMs = 59900;
  total.add(a);
  total.add(b);
  EXPECT_EQ(total.seconds, 120);
  EXPECT_EQ(total.text(), "Playtime: 00:02:00");

  PlaylistEntry notRead;  // infoKnown 0, length 0
  PlayTimeTotal withUnread;
  withUnread.add(a);
  withUnread.add(notRead);
  withUnread.add(b);
  EXPECT_TRUE(withUnread.unknown);
  EXPECT_EQ(withUnread.text(), kUnknownPlayTimeText);

  PlaylistEntry unknownLength;
  unknownLength.infoKnown = 1;
  unknownLength.lengthMs = kUnknownLength;
  PlayTimeTotal withUnknown;
  withUnknown.add(unknownLength);
  withUnknown.add(a);
  EXPECT_EQ(withUnknown.text(), "Playtime: Unknown");
}

}  // namespace
}  // namespace kuv
