// ID3v2 tags read from byte buffers: text encodings, unsynchronisation,
// extended headers, genres, and damaged or hostile tags.
#include "engine/id3v2_tag.h"
#include "support/byte_patterns.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace kuv {
namespace {

using test::B;
using test::bigEndianBytes;
using test::syncsafe32;

using id3v2::kLatin1;
using id3v2::kUtf16Be;
using id3v2::kUtf16Bom;
using id3v2::kUtf8;

// A frame of a version 3 tag (plain size) or a version 4 tag (syncsafe).
std::string frame3(const std::string& id, const std::string& data, uint8_t format = 0) {
  return id + bigEndianBytes(static_cast<uint32_t>(data.size())) + '\0' + static_cast<char>(format) + data;
}
std::string frame4(const std::string& id, const std::string& data, uint8_t format = 0) {
  return id + syncsafe32(static_cast<uint32_t>(data.size())) + '\0' + static_cast<char>(format) + data;
}

std::string tagOf(int major, uint8_t flags, const std::string& body) {
  return std::string("ID3") + static_cast<char>(major) + '\0' + static_cast<char>(flags) +
         syncsafe32(static_cast<uint32_t>(body.size())) + body;
}

// Encoding byte and text.
std::string text(int encoding, const std::string& bytes) { return static_cast<char>(encoding) + bytes; }

// The writer's side of unsynchronisation: a zero after every 0xFF that is
// followed by a zero, a byte >= 0xE0, or nothing.
std::string unsynchronise(const std::string& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    out += bytes[i];
    const auto c = static_cast<uint8_t>(bytes[i]);
    if (c == 0xFF && (i + 1 == bytes.size() || static_cast<uint8_t>(bytes[i + 1]) >= 0xE0 || bytes[i + 1] == 0)) {
      out += '\0';
    }
  }
  return out;
}

bool parse(const std::string& bytes, TagInfo& tag) {
  return id3v2::parseTag(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), tag);
}

TagInfo parsed(const std::string& bytes) {
  TagInfo tag{};
  EXPECT_TRUE(parse(bytes, tag));
  return tag;
}

std::string decode(const std::string& bytes, int encoding, size_t maxChars = 100) {
  return id3v2::decodeText(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), encoding, maxChars);
}

// Counts characters of well-formed UTF-8; -1 when it is not.
int utf8Chars(const char* s) {
  int chars = 0;
  const auto* p = reinterpret_cast<const uint8_t*>(s);
  while (*p) {
    int extra = *p < 0x80 ? 0 : (*p & 0xE0) == 0xC0 ? 1 : (*p & 0xF0) == 0xE0 ? 2 : (*p & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0) return -1;
    ++p;
    for (int i = 0; i < extra; ++i, ++p) {
      if ((*p & 0xC0) != 0x80) return -1;
    }
    ++chars;
  }
  return chars;
}

TEST(Id3v2Text, CharactersOutsideTheBasicPlane) {
  EXPECT_EQ(decode(B("\xFF\xFE\x3D\xD8\x00\xDE"), kUtf16Bom), "\xF0\x9F\x98\x80");
  EXPECT_EQ(decode(B("\xD8\x3D\xDE\x00"), kUtf16Be), "\xF0\x9F\x98\x80");
  EXPECT_EQ(decode("\xEF\xBB\xBF"
                   "\xF0\x9F\x98\x80",
                   kUtf8),
            "\xF0\x9F\x98\x80");  // the mark is no character
}

TEST(Id3v2Text, StopsAtTheTerminatorOfItsEncoding) {
  EXPECT_EQ(decode(B("ab\0cd"), kLatin1), "ab");
  EXPECT_EQ(decode(B("ab\0cd"), kUtf8), "ab");
  // In UTF-16 a zero byte of a character is no terminator; a zero unit is.
  EXPECT_EQ(decode(B("\xFF\xFE"
                     "a\0b\0\0\0c\0"),
                   kUtf16Bom),
            "ab");
  EXPECT_EQ(decode("abcdef", kLatin1, 4), "abcd");
  EXPECT_EQ(id3v2::skipString(reinterpret_cast<const uint8_t*>("ab\0cd"), 5, kLatin1), 3u);
  EXPECT_EQ(id3v2::skipString(reinterpret_cast<const uint8_t*>("a\0\0\0b\0"), 6, kUtf16Be), 4u);
  // "\0a" + "\0\0" misaligned by one byte is no terminator.
  EXPECT_EQ(id3v2::skipString(reinterpret_cast<const uint8_t*>("\0a\0\0"), 4, kUtf16Be), 4u);
  EXPECT_EQ(id3v2::skipString(reinterpret_cast<const uint8_t*>("abc"), 3, kLatin1), 3u);
}

TEST(Id3v2Text, BrokenInputIsReplacedNotTrusted) {
  const std::string replacement = "\xEF\xBF\xBD";
  EXPECT_EQ(decode(B("\xFF\xFE\x00\xD8"
                     "a\0"),
                   kUtf16Bom),
            replacement + "a");  // lone high
  EXPECT_EQ(decode(B("\xFF\xFE\x00\xDC"
                     "a\0"),
                   kUtf16Bom),
            replacement + "a");                                      // lone low
  EXPECT_EQ(decode(B("\xFF\xFE\x00\xD8"), kUtf16Bom), replacement);  // high at the end
  EXPECT_EQ(decode(B("\xFF\xFE"
                     "a\0b"),
                   kUtf16Bom),
            "a");  // odd last byte
  EXPECT_EQ(decode("a\x80z", kUtf8), "a" + replacement + "z");
  EXPECT_EQ(decode("\xC0\xAF", kUtf8), replacement + replacement);                    // overlong '/'
  EXPECT_EQ(decode("\xED\xA0\x80", kUtf8), replacement + replacement + replacement);  // a surrogate
  EXPECT_EQ(decode("\xF4\x90\x80\x80", kUtf8).find("\xF4"), std::string::npos);       // past U+10FFFF
  EXPECT_EQ(decode("ab\xE2\x82", kUtf8), "ab" + replacement + replacement);           // cut sequence
  EXPECT_EQ(decode("text", 4), "");
  EXPECT_EQ(decode("text", 200), "");
}

TEST(Id3v2Unsynchronisation, RemovesTheZeroAfterEach0xFF) {
  auto removed = [](std::string bytes) {
    auto* p = reinterpret_cast<uint8_t*>(bytes.data());
    bytes.resize(id3v2::removeUnsynchronisation(p, bytes.size()));
    return bytes;
  };
  EXPECT_EQ(removed(B("\xFF\x00\xE0")), "\xFF\xE0");
  EXPECT_EQ(removed(B("\xFF\x00\x00")), B("\xFF\x00"));
  EXPECT_EQ(removed(B("\xFF\x00\xFF\x00")), "\xFF\xFF");
  EXPECT_EQ(removed(B("a\xFF")), "a\xFF");
  EXPECT_EQ(removed(B("\0\0")), B("\0\0"));
  EXPECT_EQ(removed(""), "");
}

TEST(Id3v2Tag, ReadsTheFieldsOfAVersion3Tag) {
  const std::string body = frame3("TIT2", text(kLatin1, "Title")) + frame3("TPE1", text(kLatin1, "Artist")) +
                           frame3("TALB", text(kLatin1, "Album")) + frame3("TYER", text(kLatin1, "1999")) +
                           frame3("COMM", text(kLatin1, B("eng\0Comment"))) + frame3("TCON", text(kLatin1, "(17)")) +
                           std::string(64, '\0');
  const TagInfo tag = parsed(tagOf(3, 0, body));
  EXPECT_EQ(tag.valid, 1);
  EXPECT_STREQ(tag.title, "Title");
  EXPECT_STREQ(tag.artist, "Artist");
  EXPECT_STREQ(tag.album, "Album");
  EXPECT_STREQ(tag.year, "1999");
  EXPECT_STREQ(tag.comment, "Comment");
  EXPECT_EQ(tag.genreIndex, 17);
  EXPECT_STREQ(tag.genreName, "Rock");
}

TEST(Id3v2Tag, EveryEncodingInAFrame) {
  struct Case {
    int encoding;
    std::string bytes;
  };
  const Case cases[] = {
      {kLatin1, B("S\xE9"
                  "ance\0")},
      {kUtf16Bom, B("\xFF\xFES\0\xE9\0"
                    "a\0n\0c\0e\0\0\0")},
      {kUtf16Bom, B("\xFE\xFF\0S\0\xE9\0a\0n\0c\0e")},
      {kUtf16Be, B("\0S\0\xE9\0a\0n\0c\0e\0\0")},
      {kUtf8,
       "S\xC3\xA9"
       "ance"},
  };
  for (const Case& c : cases) {
    for (int major : {3, 4}) {
      const auto frame =
          major == 3 ? frame3("TIT2", text(c.encoding, c.bytes)) : frame4("TIT2", text(c.encoding, c.bytes));
      const TagInfo tag = parsed(tagOf(major, 0, frame));
      EXPECT_STREQ(tag.title,
                   "S\xC3\xA9"
                   "ance")
          << "encoding " << c.encoding << " version " << major;
    }
  }
}

TEST(Id3v2Tag, Version4TakesTheYearFromTheRecordingTime) {
  const TagInfo tag =
      parsed(tagOf(4, 0, frame4("TDRC", text(kUtf8, "2019-05-01T10:00")) + frame4("TIT2", text(kUtf8, "x"))));
  EXPECT_STREQ(tag.year, "2019");
}

TEST(Id3v2Tag, CommentSkipsLanguageAndDescriptionAndPrefersAPlainOne) {
  // UTF-16: the description and the text carry their own byte order marks.
  const std::string utf16 = std::string("deu") +
                            B("\xFF\xFE"
                              "d\0\0\0") +
                            B("\xFF\xFE"
                              "H\0i\0");
  EXPECT_STREQ(parsed(tagOf(3, 0, frame3("COMM", text(kUtf16Bom, utf16)))).comment, "Hi");
  // Players keep their data in described comments; the plain one is shown.
  const std::string body = frame3("COMM", text(kLatin1, B("eng"
                                                          "iTunNORM\0 0000 1111"))) +
                           frame3("COMM", text(kLatin1, B("eng\0Real comment"))) +
                           frame3("COMM", text(kLatin1, B("eng\0Later comment")));
  EXPECT_STREQ(parsed(tagOf(3, 0, body)).comment, "Real comment");
  // Only a described one: it is still a comment.
  EXPECT_STREQ(parsed(tagOf(3, 0, frame3("COMM", text(kLatin1, B("engabc\0text"))))).comment, "text");
  // Too short to hold a language: no comment, and so no tag.
  TagInfo tag{};
  EXPECT_FALSE(parse(tagOf(3, 0, frame3("COMM", text(kLatin1, "en"))), tag));
}

TEST(Id3v2Tag, LongTitlesAreCutAtACharacterBoundary) {
  std::string title;
  for (int i = 0; i < 40; ++i) title += "\xC3\xA9";
  TagInfo tag = parsed(tagOf(4, 0, frame4("TIT2", text(kUtf8, title))));
  EXPECT_EQ(utf8Chars(tag.title), 30);
  EXPECT_EQ(std::strlen(tag.title), 60u);
  // Four-byte characters fill the buffer exactly.
  title.clear();
  for (int i = 0; i < 31; ++i) title += "\xF0\x9F\x8E\xB5";
  tag = parsed(tagOf(4, 0, frame4("TIT2", text(kUtf8, title))));
  EXPECT_EQ(utf8Chars(tag.title), 30);
  EXPECT_EQ(std::strlen(tag.title), 120u);
  // A long year keeps four characters.
  tag = parsed(tagOf(3, 0, frame3("TYER", text(kLatin1, "19999"))));
  EXPECT_STREQ(tag.year, "1999");
}

TEST(Id3v2Tag, Version3TagLevelUnsynchronisationIsUndoneFirst) {
  // "A", 0xFF, 0xE9, "B": the writer puts a zero after the 0xFF. The frame
  // size counts the bytes as they were before that.
  const std::string title = text(kLatin1,
                                 "A\xFF\xE9"
                                 "B");
  const std::string body = frame3("TIT2", title) + frame3("TPE1", text(kLatin1, "Artist"));
  const TagInfo tag = parsed(tagOf(3, id3v2::kUnsynchronised, unsynchronise(body)));
  EXPECT_STREQ(tag.title,
               "A\xC3\xBF\xC3\xA9"
               "B");
  EXPECT_STREQ(tag.artist, "Artist");
}

TEST(Id3v2Tag, Version4FrameUnsynchronisationAndDataLengthIndicator) {
  const std::string data = text(kLatin1,
                                "A\xFF\xE9"
                                "B");
  const std::string stored = syncsafe32(static_cast<uint32_t>(data.size())) + unsynchronise(data);
  // Format flags: unsynchronised (0x02) and a data length indicator (0x01).
  const std::string body = frame4("TIT2", stored, 0x03) + frame4("TPE1", text(kLatin1, "Artist"));
  TagInfo tag = parsed(tagOf(4, 0, body));
  EXPECT_STREQ(tag.title,
               "A\xC3\xBF\xC3\xA9"
               "B");
  EXPECT_STREQ(tag.artist, "Artist");
  // The tag-level flag in version 4 means every frame is unsynchronised,
  // with frame sizes counting the stored bytes.
  const std::string whole = frame4("TIT2", unsynchronise(data)) + frame4("TALB", text(kLatin1, "Album"));
  tag = parsed(tagOf(4, id3v2::kUnsynchronised, whole));
  EXPECT_STREQ(tag.title,
               "A\xC3\xBF\xC3\xA9"
               "B");
  EXPECT_STREQ(tag.album, "Album");
  // A group identifier byte comes before the data.
  tag = parsed(tagOf(4, 0, frame4("TIT2", "\x07" + text(kLatin1, "Grouped"), 0x40)));
  EXPECT_STREQ(tag.title, "Grouped");
  tag = parsed(tagOf(3, 0, frame3("TIT2", "\x07" + text(kLatin1, "Grouped"), 0x20)));
  EXPECT_STREQ(tag.title, "Grouped");
}

TEST(Id3v2Tag, ExtendedHeadersAreSkipped) {
  const std::string frames = frame3("TIT2", text(kLatin1, "Behind"));
  // Version 3: size (not syncsafe, without itself), flags, padding size.
  const std::string ext3 = bigEndianBytes(6) + B("\0\0\0\0\0\0");
  EXPECT_STREQ(parsed(tagOf(3, id3v2::kExtendedHeader, ext3 + frames)).title, "Behind");
  // With a CRC: 10 bytes.
  const std::string ext3crc = bigEndianBytes(10) + B("\x80\0\0\0\0\0\x12\x34\x56\x78");
  EXPECT_STREQ(parsed(tagOf(3, id3v2::kExtendedHeader, ext3crc + frames)).title, "Behind");
  // Version 4: syncsafe size counting itself, flag byte count, flags.
  const std::string ext4 = syncsafe32(6) + B("\x01\x00");
  EXPECT_STREQ(parsed(tagOf(4, id3v2::kExtendedHeader, ext4 + frame4("TIT2", text(kLatin1, "Behind")))).title,
               "Behind");
  // Sizes that do not fit are no tag, not a crash.
  TagInfo tag{};
  EXPECT_FALSE(parse(tagOf(3, id3v2::kExtendedHeader, bigEndianBytes(0xFFFFFFF0) + frames), tag));
  EXPECT_FALSE(parse(tagOf(4, id3v2::kExtendedHeader, syncsafe32(3) + frames), tag));
  EXPECT_FALSE(parse(tagOf(4, id3v2::kExtendedHeader, B("\x80\x80\x80\x80") + frames), tag));
  EXPECT_FALSE(parse(tagOf(3, id3v2::kExtendedHeader, "ab"), tag));
  EXPECT_EQ(tag.valid, 0);
}

TEST(Id3v2Tag, Version4ToleratesPlainFrameSizes) {
  // 256 bytes: plain 00 00 01 00, read as syncsafe that is 128, which lands
  // inside the text; only the plain size leads to the next frame.
  const std::string title = text(kLatin1, std::string(255, 'a'));
  const std::string body =
      "TIT2" + bigEndianBytes(256) + std::string(2, '\0') + title + frame4("TPE1", text(kLatin1, "Next"));
  TagInfo tag = parsed(tagOf(4, 0, body));
  EXPECT_EQ(std::strlen(tag.title), 30u);
  EXPECT_STREQ(tag.artist, "Next");
  // A size byte with its high bit set cannot be syncsafe.
  const std::string wide = text(kLatin1, std::string(199, 'b'));
  const std::string body2 =
      "TIT2" + bigEndianBytes(200) + std::string(2, '\0') + wide + frame4("TPE1", text(kLatin1, "Next"));
  tag = parsed(tagOf(4, 0, body2));
  EXPECT_STREQ(tag.artist, "Next");
  // A proper syncsafe size of the same bytes is kept.
  const std::string body3 =
      frame4("TIT2", text(kLatin1, std::string(255, 'c'))) + frame4("TPE1", text(kLatin1, "Next"));
  EXPECT_STREQ(parsed(tagOf(4, 0, body3)).artist, "Next");
}

TEST(Id3v2Tag, GenreForms) {
  struct Case {
    std::string text;
    int32_t index;
    const char* name;
  };
  const Case cases[] = {
      {"(17)", 17, "Rock"},      {"17", 17, "Rock"},           {"(17)Rock", 17, "Rock"},
      {"(17)Rocky", 17, "Rock"},  // the number decides
      {"Rock", 17, "Rock"},      {"rOCK", 17, "Rock"},         {"AlternRock", 40, "AlternRock"},
      {"(0)", 0, "Blues"},       {"43", 43, "Punk"},           {"(44)", 44, "Unknown"},
      {"255", 44, "Unknown"},    {"(80)Folk", 44, "Folk"},     {"(RX)", 44, "Remix"},
      {"((Odd)", 44, "(Odd)"},   {"Synthpop", 44, "Synthpop"}, {"(17", 44, "(17"},
      {"12345", 44, "12345"},
  };
  for (const Case& c : cases) {
    TagInfo tag{};
    id3v2::applyGenre(c.text, tag);
    EXPECT_EQ(tag.genreIndex, c.index) << c.text;
    EXPECT_STREQ(tag.genreName, c.name) << c.text;
  }
  // Version 4 lists: the first entry.
  TagInfo tag = parsed(tagOf(4, 0, frame4("TCON", text(kLatin1, B("Jazz\0Rock\0")))));
  EXPECT_EQ(tag.genreIndex, 8);
  tag = parsed(tagOf(4, 0,
                     frame4("TCON", text(kUtf16Bom, B("\xFF\xFE"
                                                      "2\0"
                                                      "4\0\0\0"
                                                      "9\0")))));
  EXPECT_EQ(tag.genreIndex, 24);
  EXPECT_STREQ(tag.genreName, "Soundtrack");
  // A long name keeps 32 bytes, whole characters only.
  std::string name = "x";
  for (int i = 0; i < 20; ++i) name += "\xC3\xA9";
  tag = parsed(tagOf(4, 0, frame4("TCON", text(kUtf8, name))));
  EXPECT_EQ(tag.genreIndex, 44);
  EXPECT_EQ(std::strlen(tag.genreName), 31u);
  EXPECT_EQ(utf8Chars(tag.genreName), 16);
  // No genre frame: unknown.
  tag = parsed(tagOf(3, 0, frame3("TIT2", text(kLatin1, "x"))));
  EXPECT_EQ(tag.genreIndex, 44);
  EXPECT_STREQ(tag.genreName, "Unknown");
}

TEST(Id3v2Tag, OnlyVersions3And4AreRead) {
  TagInfo tag{};
  std::strcpy(tag.title, "kept");
  const std::string frames = frame3("TIT2", text(kLatin1, "New"));
  EXPECT_FALSE(parse(tagOf(2, 0, "TT2" + B("\0\0\x04") + text(kLatin1, "New")), tag));
  EXPECT_FALSE(parse(tagOf(5, 0, frames), tag));
  EXPECT_FALSE(parse("ID3", tag));
  EXPECT_FALSE(parse("", tag));
  std::string badSize = tagOf(3, 0, frames);
  badSize[6] = '\x80';  // not syncsafe
  EXPECT_FALSE(parse(badSize, tag));
  std::string badVersion = tagOf(3, 0, frames);
  badVersion[4] = '\xFF';
  EXPECT_FALSE(parse(badVersion, tag));
  EXPECT_STREQ(tag.title, "kept");
  EXPECT_TRUE(parse(tagOf(3, 0, frames), tag));
  EXPECT_STREQ(tag.title, "New");
}

TEST(Id3v2Tag, FramesWithoutTextOrThatCannotBeReadAreNoFields) {
  TagInfo tag{};
  std::strcpy(tag.title, "kept");
  // Empty text, a frame without an encoding byte, unknown frames only.
  EXPECT_FALSE(
      parse(tagOf(3, 0, frame3("TIT2", text(kLatin1, "")) + frame3("TPE1", "") + frame3("TXXX", text(0, "a"))), tag));
  // Compressed and encrypted frames are skipped.
  EXPECT_FALSE(parse(tagOf(3, 0, frame3("TIT2", text(kLatin1, "zipped"), 0x80)), tag));
  EXPECT_FALSE(parse(tagOf(3, 0, frame3("TIT2", text(kLatin1, "secret"), 0x40)), tag));
  EXPECT_FALSE(parse(tagOf(4, 0, frame4("TIT2", text(kLatin1, "zipped"), 0x08 | 0x01)), tag));
  EXPECT_FALSE(parse(tagOf(4, 0, frame4("TIT2", text(kLatin1, "secret"), 0x04)), tag));
  // Extra bytes announced by the flags beyond the frame.
  EXPECT_FALSE(parse(tagOf(4, 0, frame4("TIT2", "ab", 0x41)), tag));
  EXPECT_STREQ(tag.title, "kept");
  // A skipped frame does not hide the ones after it; the first of a kind wins.
  const std::string body = frame3("TIT2", text(kLatin1, "zipped"), 0x80) + frame3("TIT2", text(kLatin1, "plain")) +
                           frame3("TIT2", text(kLatin1, "second"));
  EXPECT_STREQ(parsed(tagOf(3, 0, body)).title, "plain");
}

TEST(Id3v2Tag, DamagedTagsYieldWhatFitsAndNoMore) {
  const std::string first = frame3("TIT2", text(kLatin1, "First"));
  const std::string second = frame3("TPE1", text(kLatin1, "Second"));
  // The declared size exceeds the bytes at hand: frames inside are read,
  // the one crossing the end is not.
  std::string cut = tagOf(3, 0, first + second + std::string(1000, '\0'));
  cut.resize(10 + first.size() + second.size() - 2);
  TagInfo tag = parsed(cut);
  EXPECT_STREQ(tag.title, "First");
  EXPECT_STREQ(tag.artist, "");
  // A frame size past the tag ends the walk.
  const std::string huge = "TALB" + bigEndianBytes(0x7FFFFFFF) + std::string(2, '\0') + text(kLatin1, "x");
  tag = parsed(tagOf(3, 0, first + huge + second));
  EXPECT_STREQ(tag.title, "First");
  EXPECT_STREQ(tag.album, "");
  EXPECT_STREQ(tag.artist, "");
  // Zero-size frames are stepped over.
  tag = parsed(tagOf(3, 0, frame3("TIT2", "") + frame3("PRIV", "") + second));
  EXPECT_STREQ(tag.artist, "Second");
  // Junk where frames should be: nothing is read.
  std::mt19937 random(5);
  std::string junk(500, '\0');
  for (char& c : junk) c = static_cast<char>(random() & 0xFF);
  junk[0] = 'a';  // not a frame identifier
  EXPECT_FALSE(parse(tagOf(3, 0, junk), tag));
  EXPECT_FALSE(parse(tagOf(4, 0, junk), tag));
  // Frames behind the padding are not looked for.
  tag = parsed(tagOf(3, 0, first + std::string(20, '\0') + second));
  EXPECT_STREQ(tag.artist, "");
}

// Checks what a successful parse promises whatever the input was.
void expectSaneFields(const TagInfo& tag) {
  EXPECT_EQ(tag.valid, 1);
  for (const char* field : {tag.title, tag.artist, tag.album, tag.comment}) {
    const int chars = utf8Chars(field);
    EXPECT_GE(chars, 0);
    EXPECT_LE(chars, 30);
    EXPECT_LT(std::strlen(field), kTagTextBytes);
  }
  EXPECT_GE(utf8Chars(tag.year), 0);
  EXPECT_LE(utf8Chars(tag.year), 4);
  EXPECT_GE(utf8Chars(tag.genreName), 0);
  EXPECT_LT(std::strlen(tag.genreName), kTagGenreBytes);
  EXPECT_GE(tag.genreIndex, 0);
  EXPECT_LE(tag.genreIndex, kUnknownGenre);
}

TEST(Id3v2Tag, RandomMutationsOfValidTagsAreHarmless) {
  const std::string data = text(kLatin1,
                                "A\xFF\xE9"
                                "B");
  const std::string v4body =
      frame4("TIT2", syncsafe32(static_cast<uint32_t>(data.size())) + unsynchronise(data), 0x03) +
      frame4("TPE1", text(kUtf16Bom, B("\xFF\xFE"
                                       "A\0r\0\0\0"))) +
      frame4("COMM", text(kUtf8, B("eng\0Note"))) + frame4("TCON", text(kLatin1, B("(17)Rock\0Pop"))) +
      frame4("TDRC", text(kLatin1, "2001")) + std::string(16, '\0');
  const std::string v3body = frame3("TIT2", text(kUtf16Be, B("\0T\xD8\x3D\xDE\x00"))) +
                             frame3("TALB", text(kUtf8, "Alb\xC3\xA9")) +
                             frame3("COMM", text(kUtf16Bom, B("eng\xFF\xFE\0\0\xFF\xFEx\0"))) +
                             frame3("TCON", text(kLatin1, "Synthpop")) + std::string(16, '\0');
  const std::string seeds[] = {
      tagOf(4, 0, v4body),
      tagOf(4, id3v2::kExtendedHeader, syncsafe32(6) + B("\x01\x00") + v4body),
      tagOf(3, id3v2::kUnsynchronised, unsynchronise(v3body)),
      tagOf(3, id3v2::kExtendedHeader, bigEndianBytes(6) + std::string(6, '\0') + v3body),
  };
  std::mt19937 random(20240611);
  int accepted = 0;
  for (const std::string& seed : seeds) {
    TagInfo tag{};
    ASSERT_TRUE(parse(seed, tag));
    expectSaneFields(tag);
    for (int round = 0; round < 2000; ++round) {
      std::string bytes = seed;
      const int changes = 1 + static_cast<int>(random() % 8);
      for (int i = 0; i < changes; ++i) {
        const size_t at = random() % bytes.size();
        switch (random() % 4) {
          case 0:
            bytes[at] = static_cast<char>(random() & 0xFF);
            break;
          case 1:
            bytes[at] = static_cast<char>(bytes[at] ^ (1 << (random() % 8)));
            break;
          case 2:
            bytes[at] = static_cast<char>(random() % 2 ? 0xFF : 0x00);
            break;
          default:
            bytes.resize(at + 1);  // cut short
            break;
        }
      }
      tag = TagInfo{};
      if (parse(bytes, tag)) {
        ++accepted;
        expectSaneFields(tag);
      } else {
        EXPECT_EQ(tag.valid, 0);
      }
    }
  }
  // Most mutations leave some field readable.
  EXPECT_GT(accepted, 1000);
}

}  // namespace
}  // namespace kuv
