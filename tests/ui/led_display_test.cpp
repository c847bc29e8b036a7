// The LED display: lettering, overlay texts, the visualisations' arithmetic
// and the display thread with faked sources.
#include <gtest/gtest.h>

#include "support/test_support.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "ui/led_display.h"

namespace kuv {
namespace {

constexpr uint8_t kMark = 0xEE;

LedFrame background() {
  LedFrame f;
  ledBackground(f);
  return f;
}
void markPadding(LedFrame& f) {
  for (int y = 0; y < kLedHeight; ++y) f.pixels[y * kLedStride + 146] = f.pixels[y * kLedStride + 147] = kMark;
}
bool paddingMarked(const LedFrame& f) {
  for (int y = 0; y < kLedHeight; ++y)
    if (f.pixels[y * kLedStride + 146] != kMark || f.pixels[y * kLedStride + 147] != kMark) return false;
  return true;
}
bool sameFrame(const LedFrame& a, const LedFrame& b) { return std::memcmp(a.pixels, b.pixels, sizeof a.pixels) == 0; }
VisFrame silence() {
  VisFrame v;
  std::memset(&v, 0, sizeof v);
  return v;
}

// The text's glyphs in the cells from x = 1 on row `top`, over the
// background; characters without a glyph as blank cells.
::testing::AssertionResult rowShows(const LedFrame& f, int top, const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const int g = std::toupper(static_cast<unsigned char>(text[i])) - 0x20;
    for (int r = 0; r < 7; ++r)
      for (int k = 0; k < 7; ++k) {
        const int x = 1 + 8 * static_cast<int>(i) + k;
        const bool lit = g >= 0 && g < 64 && LedFont[g][r][k];
        if (ledPixel(f, x, top + r) != (lit ? kLedLettering : kLedBackground))
          return ::testing::AssertionFailure() << "'" << text[i] << "' wrong at (" << x << "," << top + r << ")";
      }
  }
  return ::testing::AssertionSuccess();
}
bool rowsAreBackground(const LedFrame& f, int first, int last) {
  for (int y = first; y <= last; ++y)
    for (int x = 0; x < kLedWidth; ++x)
      if (ledPixel(f, x, y) != kLedBackground) return false;
  return true;
}

TEST(LedFont, CapitalAAndColonExactSpaceEmptyOthersLitAndDistinct) {
  const char* a[7] = {"..###..", ".#...#.", "#.....#", "#.....#", "#######", "#.....#", "#.....#"};
  const char* colon[7] = {".......", ".......", "...##..", ".......", ".......", "...##..", "......."};
  for (int r = 0; r < 7; ++r)
    for (int k = 0; k < 7; ++k) {
      EXPECT_EQ(LedFont['A' - 0x20][r][k], a[r][k] == '#') << r << "," << k;
      EXPECT_EQ(LedFont[':' - 0x20][r][k], colon[r][k] == '#') << r << "," << k;
    }
  for (int g = 0; g < 64; ++g) {
    int lit = 0;
    for (int r = 0; r < 7; ++r)
      for (int k = 0; k < 7; ++k) {
        ASSERT_LE(LedFont[g][r][k], 1);
        lit += LedFont[g][r][k];
      }
    EXPECT_EQ(lit > 0, g != 0) << "glyph 0x" << std::hex << g + 0x20;
    for (int h = 0; h < g; ++h) EXPECT_NE(std::memcmp(LedFont[g], LedFont[h], 49), 0) << std::hex << g + 0x20;
  }
}

TEST(LedText, RatesTimeAndTitle) {
  char rates[kLedRatesTextBytes];
  ledRatesText(rates, 128, 44100);
  EXPECT_STREQ(rates, "128kb/s    44.1Khz");
  ledRatesText(rates, 8, 8000);
  EXPECT_STREQ(rates, "008kb/s    8.0Khz");

  char time[kLedTimeTextBytes];
  ledTimeText(time, 3723999, 0, 0);  // seconds cut, not rounded
  EXPECT_STREQ(time, "01:02:03");
  ledTimeText(time, 2500, 10000, 1);
  EXPECT_STREQ(time, "00:00:07");
  ledTimeText(time, 10001, 10000, 1);  // past a short estimate: no wrap to 1193 hours
  EXPECT_STREQ(time, "00:00:00");
  ledTimeText(time, 0xFFFFFFFFu, 0, 0);  // over 99 hours: cut to 8 cells
  EXPECT_STREQ(time, "1193:02:");

  char title[kLedTitleBytes];
  ledTitleFromPath(title, "/music/a/Song Name.mp3");
  EXPECT_STREQ(title, "Song Name.mp3");
  ledTitleFromPath(title, "http://host/");
  EXPECT_STREQ(title, "");
  ledTitleFromPath(title, "/d/" + std::string(300, 'x'));
  EXPECT_EQ(std::strlen(title), 255u);
  ledTitleFromPath(title, "/d/" + std::string(254, 'x') + "\xC3\xA9");  // 255 would split the e acute
  EXPECT_EQ(std::strlen(title), 254u);
}

OverlayInputs playing(const char* title) { return OverlayInputs{title, 0, 3723000, 4000000, 0, 128, 44100}; }

TEST(LedOverlay, PlayingShowsTimeAndRatesOtherwiseOnlyTheTitle) {
  LedFrame f = background();
  ledOverlay(f, playing("Intro"));
  EXPECT_TRUE(rowShows(f, 1, "INTRO"));
  EXPECT_TRUE(rowShows(f, 10, "01:02:03"));
  EXPECT_TRUE(rowShows(f, 44, "128kb/s    44.1Khz"));
  EXPECT_TRUE(rowsAreBackground(f, 17, 43));

  OverlayInputs in = playing("");
  in.sampleRate = 8000;
  in.timeMode = 1;
  f = background();
  ledOverlay(f, in);
  EXPECT_TRUE(rowShows(f, 10, "00:04:37"));
  EXPECT_TRUE(rowShows(f, 44, "128kb/s    8.0Khz"));

  for (int32_t state : {1, 2}) {
    in = playing("Paused");
    in.playbackState = state;
    f = background();
    ledOverlay(f, in);
    EXPECT_TRUE(rowShows(f, 1, "PAUSED"));
    EXPECT_TRUE(rowsAreBackground(f, 8, kLedHeight - 1)) << state;
  }
}

// The texts kept from round to round are remade whenever what they show
// changes: each round looks as one drawn afresh.
TEST(LedOverlay, KeptTextsFollowEveryChange) {
  struct Round {
    uint32_t positionMs;
    int32_t timeMode, bitRate, sampleRate, state;
  };
  const Round rounds[] = {
      {3723000, 0, 128, 44100, 0}, {3723999, 0, 128, 44100, 0}, {3724000, 0, 128, 44100, 0},
      {3724000, 1, 128, 44100, 0}, {3724500, 1, 320, 44100, 0}, {3724500, 1, 320, 22050, 0},
      {3724500, 1, 320, 22050, 1}, {1000, 0, 320, 22050, 0},    {999, 0, 96, 8000, 0},
  };
  OverlayTexts kept;
  for (const Round& r : rounds) {
    OverlayInputs in = playing("Kept");
    in.positionMs = r.positionMs;
    in.trackLengthMs = 4000000;
    in.timeMode = r.timeMode;
    in.bitRate = r.bitRate;
    in.sampleRate = r.sampleRate;
    in.playbackState = r.state;
    LedFrame withKept = background(), afresh = background();
    ledOverlay(withKept, in, &kept);
    ledOverlay(afresh, in);
    EXPECT_TRUE(sameFrame(withKept, afresh))
        << r.positionMs << " " << r.timeMode << " " << r.bitRate << " " << r.sampleRate;
  }
}

TEST(LedOverlay, EighteenCellsInCapitalsDarkDotsLeaveThePictureAlone) {
  LedFrame f = background();
  ledOverlay(f, OverlayInputs{"abcdefghijklmnopqrstuvwxyz", 2, 0, 0, 0, 0, 0});
  EXPECT_TRUE(rowShows(f, 1, "ABCDEFGHIJKLMNOPQR"));
  for (int y = 0; y < kLedHeight; ++y)
    EXPECT_TRUE(ledPixel(f, 144, y) == kLedBackground && ledPixel(f, 145, y) == kLedBackground);

  std::memset(f.pixels, 77, sizeof f.pixels);  // dark dots leave the picture alone
  ledDrawText(f, "I", 1, 1, 145);
  EXPECT_EQ(ledPixel(f, 1, 1), 77);
  EXPECT_EQ(ledPixel(f, 2, 1), 255);
}

std::string utf8Of(uint32_t cp) {
  std::string s;
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xC0 | cp >> 6);
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    s += static_cast<char>(0xE0 | cp >> 12);
    s += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | cp >> 18);
    s += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    s += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return s;
}

TEST(LedFold, Utf8NamesReadInTheFontOneCellPerCharacterCutInCells) {
  struct Case {
    const char* name;
    std::string in;
    std::string shown;
  };
  const Case cases[] = {
      {"reported title", "Grüße – Ünïcödé ♪", "GRUSSE - UNICODE  "},
      {"Latin-1 letters", "Ångström Æsir Ça Ðið Øre Þorn ÿ", "ANGSTROM AESIR CA DID ORE THORN Y"},
      {"Latin Extended-A", "Łódź Dvořák Świętość İı ĳ Œuvre ŉ ſ Ÿ", "LODZ DVORAK SWIETOSC II IJ OEUVRE 'N S Y"},
      {"dashes quotes ellipsis", "“Hi” ‘x’ a—b a–b a−b wait…", "\"HI\" 'X' A-B A-B A-B WAIT..."},
      {"Latin-1 signs", "© ® ™ ½ ¿ ¡ « » × ÷ · ²", "(C) (R) TM 1/2 ? ! << >> X / . 2"},
      {"invisible marks",
       "u\xCC\x88"
       "ber\xC2\xA0x\xE2\x80\x8B"
       "\xEF\xBB\xBF"
       "y",
       "UBER XY"},
      {"no sensible fold", "€♪漢", "   "},
      {"4-byte emoji",
       "a\xF0\x9F\x8E\xB5"
       "b",
       "A B"},
      {"ASCII without glyph", "{a}~`\x01", " A    "},
      {"cut lead byte", "\xC3(\xC3", " ( "},
      {"stray continuations",
       "\x80\xBF"
       "A",
       "  A"},
      {"overlong and surrogate", "\xC0\xAF\xED\xA0\x80", "     "},
      {"cut 3-byte sequence", "\xE2\x80Z", "  Z"},
      {"past U+10FFFF", "\xF4\x90\x80\x80\xF5", "     "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(foldForLed(c.in), c.shown) << c.name;
    // Drawing folds the same way, one cell per font character.
    LedFrame f = background();
    const int cells = ledDrawText(f, c.in.c_str(), 1, 1, 145);
    const std::string drawn = c.shown.substr(0, 18);
    EXPECT_EQ(cells, static_cast<int>(drawn.size())) << c.name;
    EXPECT_TRUE(rowShows(f, 1, drawn)) << c.name;
  }

  // The title line: 18 cells of characters, not of bytes, and a fold that
  // takes two cells is cut like any other text.
  LedFrame f = background();
  ledOverlay(f, OverlayInputs{"ÄÖÜäöüÄÖÜäöüÄÖÜäöüXYZ", 2, 0, 0, 0, 0, 0});
  EXPECT_TRUE(rowShows(f, 1, "AOUAOUAOUAOUAOUAOU"));
  for (int y = 0; y < kLedHeight; ++y)
    EXPECT_TRUE(ledPixel(f, 144, y) == kLedBackground && ledPixel(f, 145, y) == kLedBackground);
  f = background();
  std::string sharp;
  for (int i = 0; i < 17; ++i) sharp += "é";
  sharp += "ß";
  EXPECT_EQ(ledDrawText(f, sharp.c_str(), 1, 1, 145), 18);
  EXPECT_TRUE(rowShows(f, 1, "EEEEEEEEEEEEEEEEES"));

  // Whatever a character folds to, the font can draw it.
  for (uint32_t cp = 1; cp < 0x10000; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    const std::string folded = foldForLed(utf8Of(cp));
    ASSERT_LE(folded.size(), 3u) << std::hex << cp;
    for (char ch : folded) ASSERT_TRUE(ch >= 0x20 && ch < 0x60) << std::hex << cp;
  }
}

TEST(LedOscilloscope, EverySeventhSampleOfEachChannelInItsHalf) {
  VisFrame v = silence();
  std::memset(v.waveformLeft, 100, 576);  // samples not taken would land on row 46
  std::memset(v.waveformRight, 100, 576);
  for (int c = 0; c < 72; ++c) v.waveformLeft[7 * c] = static_cast<int8_t>(5 * (c % 47 - 23));
  for (int c = 0; c < 73; ++c) v.waveformRight[7 * c] = static_cast<int8_t>(-5 * (c % 41 - 20));
  LedFrame f;
  ledOscilloscope(f, v);
  for (int c = 0; c < kLedWidth; ++c) {
    const int want = c < 72 ? 26 + c % 47 - 23 : (c < 145 ? 26 - ((c - 72) % 41 - 20) : -1);
    for (int y = 0; y < kLedHeight; ++y)
      ASSERT_EQ(ledPixel(f, c, y), y == want ? kLedScopeDot : kLedBackground) << c << "," << y;
  }
  EXPECT_EQ(f.pixels[kLedStride - 1], kLedBackground);

  v = silence();
  v.waveformLeft[0] = 127;    // 25 -> 23
  v.waveformLeft[7] = -128;   // -25 -> -23
  v.waveformLeft[14] = -9;    // -1: toward zero
  v.waveformRight[0] = 119;   // 23
  v.waveformRight[504] = -4;  // 0, column 144
  ledOscilloscope(f, v);
  EXPECT_EQ(ledPixel(f, 0, 49), kLedScopeDot);
  EXPECT_EQ(ledPixel(f, 1, 3), kLedScopeDot);
  EXPECT_EQ(ledPixel(f, 2, 25), kLedScopeDot);
  EXPECT_EQ(ledPixel(f, 72, 49), kLedScopeDot);
  EXPECT_EQ(ledPixel(f, 144, 26), kLedScopeDot);
}

TEST(LedStars, PlacedThreeNumbersAStarPlottedBySpeedMovedAndWrapped) {
  ShuffleRandom r{12345}, check{12345};
  Star stars[kStarCount];
  initStars(stars, r);
  EXPECT_TRUE(stars[0].x == check.next() % 146 && stars[0].y == check.next() % 52 &&
              stars[0].speed == check.next() % 3 + 1);
  for (const Star& s : stars) EXPECT_TRUE(s.x < 146 && s.y < 52 && s.speed >= 1 && s.speed <= 3);

  for (Star& s : stars) s = Star{0, 0, 1};
  stars[0] = Star{10, 5, 1};
  stars[1] = Star{20, 6, 2};
  stars[2] = Star{30, 7, 3};
  stars[3] = Star{146, 8, 1};   // drawn in the padding, then wraps
  stars[4] = Star{145, 9, 2};   // 147: wraps
  stars[5] = Star{144, 10, 2};  // 146: stays
  r.state = check.state = 7;
  LedFrame f;
  ledStars(f, stars, r);
  EXPECT_TRUE(ledPixel(f, 10, 5) == 64 && ledPixel(f, 20, 6) == 128 && ledPixel(f, 30, 7) == 255);
  EXPECT_EQ(f.pixels[8 * kLedStride + 146], 64);
  EXPECT_TRUE(stars[0].x == 11 && stars[1].x == 22 && stars[2].x == 33 && stars[2].y == 7);
  EXPECT_TRUE(stars[3].x == 0 && stars[3].y == check.next() % 52);
  EXPECT_TRUE(stars[4].x == 0 && stars[4].y == check.next() % 52);
  EXPECT_TRUE(stars[5].x == 146 && stars[5].y == 10);
  EXPECT_EQ(r.state, check.state);  // one number per wrap, none otherwise
}

TEST(LedStars, BrokenRecordsWriteNothingOutsideTheFrame) {
  struct {
    uint8_t before[256];
    LedFrame frame;
    uint8_t after[256];
  } g;
  std::memset(g.before, kMark, 256);
  std::memset(g.after, kMark, 256);
  Star stars[kStarCount];
  for (Star& s : stars) s = Star{0, 0, 1};
  stars[0] = Star{-300, 0, 1};
  stars[1] = Star{147, 51, 3};  // the frame's last byte: inside
  stars[2] = Star{148, 51, 3};
  stars[3] = Star{5, 52, 2};
  stars[4] = Star{5, -1, 2};
  stars[5] = Star{32767, 32767, 255};
  ShuffleRandom r{1};
  ledStars(g.frame, stars, r);
  EXPECT_TRUE(std::all_of(g.before, g.before + 256, [](uint8_t b) { return b == kMark; }));
  EXPECT_TRUE(std::all_of(g.after, g.after + 256, [](uint8_t b) { return b == kMark; }));
  EXPECT_EQ(g.frame.pixels[sizeof g.frame.pixels - 1], 255);
}

TEST(LedNoise, RandomLevelsUpTo128AndPaddingUntouched) {
  LedFrame f;
  markPadding(f);
  ShuffleRandom r{99}, check{99};
  ledNoise(f, r);
  EXPECT_TRUE(paddingMarked(f));
  int low = 255, high = 0;
  for (int y = 0; y < kLedHeight; ++y)
    for (int x = 0; x < kLedWidth; ++x)
      low = std::min<int>(low, ledPixel(f, x, y)), high = std::max<int>(high, ledPixel(f, x, y));
  EXPECT_TRUE(high <= 128 && high > 120 && low < 8);
  EXPECT_EQ(ledPixel(f, 0, 0), static_cast<int>(check.next() * (1.0 / 32767) * 128));
}

long visibleSum(const LedFrame& f) {
  long sum = 0;
  for (int y = 0; y < kLedHeight; ++y)
    for (int x = 0; x < kLedWidth; ++x) sum += ledPixel(f, x, y);
  return sum;
}

// A waveform whose mean absolute sample is `mean` (of 128, full scale).
VisFrame waveOf(int mean) {
  VisFrame v = silence();
  for (int i = 0; i < 576; ++i) v.waveformLeft[i] = v.waveformRight[i] = static_cast<int8_t>(i % 2 ? mean : -mean);
  return v;
}

// The plasma follows the music: louder is brighter and faster, silence is
// dim and slow, and a loud beat fades rather than drops.
TEST(LedPlasma, BrightnessAndSpeedFollowTheLevel) {
  const int means[] = {0, 4, 13, 64, 127};  // silence, -30, -20, -6 dB, full
  long lastSum = -1;
  uint32_t lastStep = 0;
  for (int mean : means) {
    PlasmaState st;
    initPlasma(st);
    LedFrame f;
    markPadding(f);
    const VisFrame v = waveOf(mean);
    ledPlasma(f, v, st);
    const uint32_t before = st.phase[0];
    ledPlasma(f, v, st);
    const uint32_t step = st.phase[0] - before;
    EXPECT_TRUE(paddingMarked(f));
    for (int y = 0; y < kLedHeight; ++y)
      for (int x = 0; x < kLedWidth; ++x) ASSERT_TRUE(ledPixel(f, x, y) >= 10 && ledPixel(f, x, y) <= 210) << mean;
    const long sum = visibleSum(f);
    if (lastSum >= 0) {
      EXPECT_GT(sum, lastSum) << mean;
      EXPECT_GT(step, lastStep) << mean;
    }
    if (mean == 13) {  // ordinary music is clearly brighter and faster than silence
      EXPECT_GT(sum / (kLedWidth * kLedHeight), 70);
      EXPECT_GT(step, 8 * 96u);
    }
    if (mean == 0) {
      EXPECT_LT(sum / (kLedWidth * kLedHeight), 45);
    }
    lastSum = sum;
    lastStep = step;
  }
  PlasmaState st;
  initPlasma(st);
  LedFrame f1, f2;
  ledPlasma(f1, silence(), st);
  ledPlasma(f2, silence(), st);
  EXPECT_FALSE(sameFrame(f1, f2));  // silence still drifts
  ledPlasma(f1, waveOf(127), st);
  ledPlasma(f1, silence(), st);
  EXPECT_TRUE(st.energy > 0 && st.energy < 255);
}

// The plasma is drawn from tables laid out along the rows; each pixel is
// still the sum of the four waves at its place, scaled by the level.
TEST(LedPlasma, EveryPixelIsTheSumOfItsFourWaves) {
  auto wave = [](uint32_t i) {
    return static_cast<int32_t>(std::lround(127.0 * std::sin(2.0 * M_PI * (i & 255u) / 256.0)));
  };
  const int means[] = {0, 13, 127};
  for (int mean : means) {
    PlasmaState st;
    initPlasma(st);
    const VisFrame v = waveOf(mean);
    LedFrame f;
    for (int round = 0; round < 40; ++round) {
      ledPlasma(f, v, st);
      if (round % 13 != 0) continue;
      const uint32_t p0 = st.phase[0] >> 8, p1 = st.phase[1] >> 8, p2 = st.phase[2] >> 8, p3 = st.phase[3] >> 8;
      const int32_t centre = 40 + st.energy * 80 / 255, amplitude = 30 + st.energy * 60 / 255;
      for (uint32_t y = 0; y < kLedHeight; ++y)
        for (uint32_t x = 0; x < kLedWidth; ++x) {
          const int32_t sum =
              wave(x * 5 + p0) + wave(y * 7 + p1) + wave((x + y) * 3 + p2) + wave(x * 2 + (255 - y) * 4 + p3);
          ASSERT_EQ(ledPixel(f, static_cast<int>(x), static_cast<int>(y)),
                    static_cast<uint8_t>(centre + sum * amplitude / 508))
              << "level " << mean << ", round " << round << ", pixel " << x << "," << y;
        }
    }
  }
}

// A music-like spectrum: every time slot of both channels, falling by about
// 9 dB an octave from subband 0, with the fraction of a step spread over the
// slots as real signals have it.
VisFrame fallingSpectrum(double top, double slope) {
  VisFrame v = silence();
  for (int s = 0; s < 32; ++s) {
    const double level = std::min(255.0, top / std::pow(s + 0.5, slope));
    for (int t = 0; t < 18; ++t) {
      const uint8_t b = static_cast<uint8_t>(std::min(255.0, level * (0.5 + t / 17.0)));
      v.spectrumLeft[18 * s + t] = v.spectrumRight[18 * s + t] = b;
    }
  }
  return v;
}

TEST(LedSpectrum, BandsAreLogSpacedAndMusicFillsThePanel) {
  // Edges strictly increasing, each bar at least one line, a near-constant
  // ratio between neighbours, from inside subband 0 to about 16 kHz.
  EXPECT_LT(spectrumBandEdge(0), 18);
  EXPECT_TRUE(spectrumBandEdge(kSpectrumBars) >= 380 && spectrumBandEdge(kSpectrumBars) <= 576);
  const double ratio = std::pow(double(spectrumBandEdge(kSpectrumBars)) / spectrumBandEdge(0), 1.0 / kSpectrumBars);
  for (int b = 0; b < kSpectrumBars; ++b) {
    EXPECT_GE(spectrumBandEdge(b + 1), spectrumBandEdge(b) + 1) << b;
    const double r = double(spectrumBandEdge(b + 1)) / spectrumBandEdge(b);
    EXPECT_NEAR(r, ratio, 0.08) << b;
  }
  // Music lights most bars, not one or two at the left; louder music
  // lights them higher.
  const struct {
    double top, slope;
    int minLit;  // bars at least 12 of 40 pixels high
  } table[] = {{100, 1.5, 15}, {40, 1.5, 13}, {255, 1.0, 18}};
  for (const auto& row : table) {
    const VisFrame v = fallingSpectrum(row.top, row.slope);
    int lit = 0;
    for (int b = 0; b < kSpectrumBars; ++b) lit += spectrumBarHeight(v, b) >= 12;
    EXPECT_GE(lit, row.minLit) << row.top << " " << row.slope;
  }
  // A tone in subband 8 (lines 144..161) lights the bars around it only.
  VisFrame tone = silence();
  std::memset(tone.spectrumLeft + 18 * 8, 60, 18);
  int loudest = 0;
  for (int b = 0; b < kSpectrumBars; ++b)
    if (spectrumBarHeight(tone, b) > spectrumBarHeight(tone, loudest)) loudest = b;
  EXPECT_TRUE(spectrumBandEdge(loudest) <= 161 && spectrumBandEdge(loudest + 1) >= 144) << loudest;
  for (int b = 0; b < kSpectrumBars; ++b) {
    if (b < loudest - 2 || b > loudest + 2) {
      EXPECT_EQ(spectrumBarHeight(tone, b), 0) << b;
    }
  }
}

TEST(LedSpectrum, BarsSinkPeaksHoldThenFall) {
  SpectrumState s;
  initSpectrum(s);
  LedFrame f;
  markPadding(f);
  ledSpectrum(f, silence(), s);
  EXPECT_TRUE(paddingMarked(f) && rowsAreBackground(f, 0, kLedHeight - 1));

  VisFrame v = silence();
  std::memset(v.spectrumLeft, 255, 36);  // subbands 0 and 1 full: the first bar full height
  std::memset(v.spectrumRight, 255, 36);
  ledSpectrum(f, v, s);
  EXPECT_TRUE(paddingMarked(f));
  EXPECT_TRUE(s.height[0] == 40 && ledPixel(f, 1, 10) == kLedSpectrumPeak);
  for (int y = 11; y <= 50; ++y) ASSERT_EQ(ledPixel(f, 4, y), kLedSpectrumBar) << y;
  for (int y = 0; y < kLedHeight; ++y)
    ASSERT_TRUE(ledPixel(f, 0, y) == kLedBackground && ledPixel(f, 8, y) == kLedBackground);
  for (int round = 1; round <= 12; ++round) {
    ledSpectrum(f, silence(), s);
    EXPECT_EQ(s.height[0], std::max(0, 40 - 3 * round)) << round;
    EXPECT_EQ(s.peak[0], round <= kSpectrumPeakHold ? 40 : 40 - (round - kSpectrumPeakHold)) << round;
  }
  for (int y = 0; y < kLedHeight; ++y)  // bar 4 rows high, peak at 36
    ASSERT_EQ(ledPixel(f, 4, y), y >= 47 && y <= 50 ? kLedSpectrumBar : (y == 14 ? kLedSpectrumPeak : kLedBackground));
  for (int round = 13; round <= 60; ++round) ledSpectrum(f, silence(), s);
  EXPECT_TRUE(rowsAreBackground(f, 0, kLedHeight - 1));
}

// Rounds run synchronously against sources the test controls.
class LedRoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.LEDVisual = 0;
    settings.LEDOverlay = 1;
    settings.TimeMode = 0;
    initDisplayState(state_, 1);
    src_.playbackState = [this] { return playback_; };
    src_.positionMs = [] { return 61000u; };
    src_.playbackInfo = [] { return PlaybackInfo{1, 44100, 3, 128, 1, 2}; };
    src_.currentEntry = [this](PlaylistEntry& e) {
      e.path = "/music/Track One.mp3";
      e.lengthMs = length_;
      return haveEntry_;
    };
    src_.visPluginRunning = [this] { return plugin_; };
    src_.windowMinimised = [this] { return minimised_; };
    src_.newestVisFrame = [this](VisFrame& out) {
      if (haveVis_)
        out = vis_;
      else
        std::memset(&out, 0x55, sizeof out);  // a careless source: must not reach the picture
      return haveVis_;
    };
    src_.present = [this](const LedFrame& f) { shown_ = f, ++presents_; };
  }

  test::SavedSettings saved_;
  DisplayState state_;
  DisplaySources src_;
  int32_t playback_ = 2, length_ = 180000;
  bool haveEntry_ = true, plugin_ = false, minimised_ = false, haveVis_ = false;
  VisFrame vis_ = silence();
  LedFrame shown_{};
  int presents_ = 0;
};

TEST_F(LedRoundTest, TestTitleFirstThenNewTracksWithTheirLength) {
  EXPECT_EQ(renderDisplayRound(state_, src_), DisplayRound::Drawn);
  EXPECT_TRUE(rowShows(shown_, 1, "0123456789ABCDE"));
  takeNewTrack(state_, src_);
  renderDisplayRound(state_, src_);
  EXPECT_TRUE(rowShows(shown_, 1, "TRACK ONE.MP3"));
  EXPECT_EQ(state_.trackLengthMs, 180000u);

  state_.title[0] = 'X';
  haveEntry_ = false;  // no current entry: title and length stay
  length_ = 5;
  takeNewTrack(state_, src_);
  EXPECT_TRUE(state_.title[0] == 'X' && state_.trackLengthMs == 180000u);

  haveEntry_ = true;
  length_ = kUnknownLength;  // counts as 0: nothing remains
  takeNewTrack(state_, src_);
  playback_ = 0;
  settings.TimeMode = 1;
  renderDisplayRound(state_, src_);
  EXPECT_TRUE(rowShows(shown_, 10, "00:00:00"));
  EXPECT_TRUE(rowShows(shown_, 44, "128kb/s    44.1Khz"));
  settings.TimeMode = 0;
  renderDisplayRound(state_, src_);
  EXPECT_TRUE(rowShows(shown_, 10, "00:01:01"));
}

TEST_F(LedRoundTest, VisualBySettingOldRecordKeptMinimisedAndPlugin) {
  settings.LEDVisual = 2;
  settings.LEDOverlay = 0;
  playback_ = 0;
  haveVis_ = true;
  vis_.waveformLeft[0] = 127;
  renderDisplayRound(state_, src_);
  haveVis_ = false;
  renderDisplayRound(state_, src_);
  EXPECT_TRUE(ledPixel(shown_, 0, 49) == kLedScopeDot && ledPixel(shown_, 1, 26) == kLedScopeDot);
  for (int32_t visual : {0, 6, -1}) {
    settings.LEDVisual = visual;
    renderDisplayRound(state_, src_);
    EXPECT_TRUE(rowsAreBackground(shown_, 0, kLedHeight - 1)) << visual;
  }

  const int before = presents_;
  minimised_ = true;
  EXPECT_EQ(renderDisplayRound(state_, src_), DisplayRound::Minimised);
  EXPECT_EQ(presents_, before);
  minimised_ = false;
  playback_ = 2;
  plugin_ = true;
  settings.LEDVisual = 5;
  settings.LEDOverlay = 1;
  EXPECT_EQ(renderDisplayRound(state_, src_), DisplayRound::VisPlugin);
  EXPECT_TRUE(rowShows(shown_, 1, "0123456789ABCDE") && rowsAreBackground(shown_, 8, kLedHeight - 1));
}

// After Stop or the end of the list every visualisation returns to its idle
// picture, even while the queue still hands out the last snapshot; a new
// track starts from silence too. Paused keeps the frozen picture.
TEST_F(LedRoundTest, StoppedShowsTheIdlePictureNotTheLastSnapshot) {
  settings.LEDOverlay = 0;
  haveVis_ = true;
  for (int i = 0; i < 576; ++i) {
    vis_.waveformLeft[i] = vis_.waveformRight[i] = static_cast<int8_t>(i % 2 ? 100 : -100);
    vis_.spectrumLeft[i] = vis_.spectrumRight[i] = 90;
  }
  auto flatTrace = [this] {
    for (int x = 0; x < kLedWidth - 1; ++x)
      if (ledPixel(shown_, x, 26) != kLedScopeDot) return false;
    return true;
  };
  const struct {
    int32_t visual;
    int32_t playback;
    bool idle;
  } table[] = {{2, 0, false}, {2, 1, false}, {2, 2, true}, {3, 0, false}, {3, 2, true}, {1, 2, true}};
  for (const auto& row : table) {
    settings.LEDVisual = row.visual;
    initDisplayState(state_, 1);
    playback_ = 0;
    for (int i = 0; i < 5; ++i) renderDisplayRound(state_, src_);
    playback_ = row.playback;
    const LedFrame playing = shown_;
    for (int i = 0; i < 60; ++i) renderDisplayRound(state_, src_);
    if (row.visual == 2) {
      EXPECT_EQ(flatTrace(), row.idle) << row.playback;
      EXPECT_EQ(sameFrame(shown_, playing), !row.idle) << row.playback;
    } else if (row.visual == 3) {
      EXPECT_EQ(rowsAreBackground(shown_, 0, kLedHeight - 1), row.idle) << row.playback;
    } else {
      EXPECT_EQ(state_.plasma.energy, 0);  // calmed down as if it had never heard a sound
    }
  }
  settings.LEDVisual = 2;
  playback_ = 0;
  haveVis_ = false;  // a Layer II track sends no snapshots of its own
  takeNewTrack(state_, src_);
  renderDisplayRound(state_, src_);
  EXPECT_TRUE(flatTrace());
}

// A round that changes nothing hands nothing over; the wait rule then
// says which pictures sleep and which keep moving.
TEST_F(LedRoundTest, UnchangedRoundsPresentNothingAndSettleIntoAStillWait) {
  haveVis_ = true;
  for (int i = 0; i < 576; ++i) vis_.spectrumLeft[i] = vis_.spectrumRight[i] = 90;
  const struct {
    int32_t visual;
    int32_t playback;
    int32_t overlay;
    DisplayWait endsIn;  // within 60 rounds; NextRound: never settles
  } table[] = {
      {0, 2, 1, DisplayWait::Still},     {0, 1, 1, DisplayWait::Still},      {2, 2, 1, DisplayWait::Still},
      {2, 1, 0, DisplayWait::Still},     {3, 2, 0, DisplayWait::Still},      {3, 1, 1, DisplayWait::Still},
      {0, 0, 0, DisplayWait::Still},     {1, 2, 0, DisplayWait::NextRound},  {4, 2, 1, DisplayWait::NextRound},
      {5, 2, 0, DisplayWait::NextRound}, {4, 1, 0, DisplayWait::NextRound},  {2, 0, 0, DisplayWait::NextRound},
      {3, 0, 1, DisplayWait::NextRound}, {0, 0, 1, DisplayWait::TextChange},
  };
  for (const auto& row : table) {
    settings.LEDVisual = row.visual;
    settings.LEDOverlay = row.overlay;
    initDisplayState(state_, 1);
    playback_ = 0;
    for (int i = 0; i < 3; ++i) renderDisplayRound(state_, src_);  // bars up while playing
    playback_ = row.playback;
    DisplayWait wait = DisplayWait::NextRound;
    int rounds = 0;
    for (; rounds < 60 && wait == DisplayWait::NextRound; ++rounds) {
      const int before = presents_;
      renderDisplayRound(state_, src_);
      EXPECT_EQ(presents_ - before, state_.changed ? 1 : 0);
      wait = displayWait({false, false, playback_, row.visual, row.overlay != 0, state_.changed});
    }
    EXPECT_EQ(wait, row.endsIn) << "LEDVisual " << row.visual << " playback " << row.playback << " overlay "
                                << row.overlay;
    if (row.endsIn != DisplayWait::NextRound) {
      const int before = presents_;
      renderDisplayRound(state_, src_);
      EXPECT_EQ(presents_, before) << "a settled picture was handed over again";
    }
  }
}

// Playing with only the overlay moving, the display sleeps until the time
// text changes: never past a change, and not before one.
TEST(LedDisplayWait, TheOverlayWakesWhenItsTimeTextChanges) {
  const struct {
    uint32_t positionMs, lengthMs;
    int32_t timeMode;
    uint32_t ms;
  } table[] = {
      {0, 0, 0, 1000},         {1500, 0, 0, 500},        {999, 5000, 0, 1},        {3600999, 0, 0, 1},
      {0, 10000, 1, 1},        {300, 10000, 1, 701},     {9999, 10000, 1, 1000},   {10000, 10000, 1, 1000},
      {12000, 10000, 1, 1000}, {1, 4294967295u, 1, 295}, {0, 4294967295u, 1, 296}, {9001, 10000, 1, 1000},
  };
  for (const auto& row : table) {
    const uint32_t ms = ledMsUntilTimeTextChanges(row.positionMs, row.lengthMs, row.timeMode);
    EXPECT_EQ(ms, row.ms) << row.positionMs << " of " << row.lengthMs << " mode " << row.timeMode;
    if (row.timeMode == 1 && (row.positionMs >= row.lengthMs || row.lengthMs - row.positionMs < 1000))
      continue;  // stays at zero
    char now[kLedTimeTextBytes], before[kLedTimeTextBytes], after[kLedTimeTextBytes];
    ledTimeText(now, row.positionMs, row.lengthMs, row.timeMode);
    ledTimeText(before, row.positionMs + ms - 1, row.lengthMs, row.timeMode);
    ledTimeText(after, row.positionMs + ms, row.lengthMs, row.timeMode);
    EXPECT_STREQ(before, now) << row.positionMs;
    // From 100 hours on the cut text changes less often: a wake comes early.
    if (std::max(row.positionMs, row.lengthMs) < 360000000u) {
      EXPECT_STRNE(after, now) << row.positionMs;
    }
  }
}

TEST(LedDisplayWait, MinimisedSleepsPluginSlowsAndRecordsOnlyWhenShown) {
  for (int32_t visual = 0; visual <= 5; ++visual)
    for (int32_t playback = 0; playback <= 2; ++playback) {
      EXPECT_EQ(displayWait({true, false, playback, visual, true, true}), DisplayWait::Asleep);
      EXPECT_EQ(displayWait({false, true, playback, visual, true, false}), DisplayWait::PluginRound);
    }
  const struct {
    bool running, minimised, plugin;
    int32_t visual;
    bool wanted;
  } table[] = {
      {true, false, false, 0, false},  {true, false, false, 1, true},  {true, false, false, 2, true},
      {true, false, false, 3, true},   {true, false, false, 4, false}, {true, false, false, 5, false},
      {true, false, true, 0, true},    {true, true, false, 3, false},  {true, true, true, 2, false},
      {false, false, false, 2, false},
  };
  for (const auto& row : table)
    EXPECT_EQ(displayWantsVisualisation(row.running, row.minimised, row.plugin, row.visual), row.wanted)
        << row.running << row.minimised << row.plugin << " " << row.visual;
}

// The real thread; `present` and `windowMinimised` run on it.
struct PresentLog {
  std::mutex lock;
  LedFrame last{};
  int presents = 0, minimisedAsked = 0;
};

DisplaySources threadSources(PresentLog& log, bool minimised) {
  DisplaySources s;
  s.playbackState = [] { return int32_t{2}; };
  s.currentEntry = [](PlaylistEntry& e) { return e.path = "/tmp/New Track.mp3", true; };
  s.windowMinimised = [&log, minimised] {
    std::lock_guard<std::mutex> hold(log.lock);
    return ++log.minimisedAsked, minimised;
  };
  s.present = [&log](const LedFrame& f) {
    std::lock_guard<std::mutex> hold(log.lock);
    log.last = f, ++log.presents;
  };
  return s;
}

// Polls until `done` holds under the log's lock; false after 10 s.
template <typename Pred>
bool waitFor(PresentLog& log, Pred done) {
  for (int i = 0; i < 1000; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
    std::lock_guard<std::mutex> hold(log.lock);
    if (done()) return true;
  }
  return false;
}

class LedThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.LEDVisual = 0;
    settings.LEDOverlay = 1;
  }
  void TearDown() override { stopDisplay(); }
  test::SavedSettings saved_;
};

TEST_F(LedThreadTest, NewTrackTitleIsPresentedStopEndsItAndItStartsAgain) {
  signalNewTrack();  // never started: must not wait for a queue
  PresentLog log;
  ASSERT_TRUE(startDisplay(threadSources(log, false), kLedLeft, kLedTop, kLedWidth, kLedHeight));
  EXPECT_FALSE(startDisplay(threadSources(log, false), 0, 0, 1, 1));
  LedFrame first = background(), renamed = background();
  ledDrawText(first, "0123456789ABCDE", 1, 1, 145);
  ledDrawText(renamed, "NEW TRACK.MP3", 1, 1, 145);
  EXPECT_TRUE(waitFor(log, [&] { return sameFrame(log.last, first); }));
  signalNewTrack();
  EXPECT_TRUE(waitFor(log, [&] { return sameFrame(log.last, renamed); }));
  stopDisplay();
  EXPECT_FALSE(displayRunning());
  signalNewTrack();  // ended: returns at once
  stopDisplay();

  ASSERT_TRUE(startDisplay(threadSources(log, false), kLedLeft, kLedTop, kLedWidth, kLedHeight));
  EXPECT_TRUE(waitFor(log, [&] { return sameFrame(log.last, first); }));
}

// Minimised, the thread draws one round, finds the window gone and sleeps
// until a wake: each wake is one more look and no frame.
TEST_F(LedThreadTest, MinimisedWindowSleepsUntilWokenAndGetsNoFrames) {
  PresentLog log;
  ASSERT_TRUE(startDisplay(threadSources(log, true), kLedLeft, kLedTop, kLedWidth, kLedHeight));
  for (int wake = 1; wake <= 3; ++wake) {
    ASSERT_TRUE(waitFor(log, [&] { return log.minimisedAsked >= wake && displayCurrentWait() == DisplayWait::Asleep; }))
        << "wake " << wake;
    EXPECT_EQ(log.minimisedAsked, wake);
    wakeDisplay();
  }
  stopDisplay();
  std::lock_guard<std::mutex> hold(log.lock);
  EXPECT_LE(log.minimisedAsked, 4);
  EXPECT_EQ(log.presents, 0);
}

// Stopped with a still picture the thread waits for a wake; a setting that
// animates takes effect on the wake, and the engine is told when records
// are wanted.
TEST_F(LedThreadTest, AStillPictureWaitsAndAWakeStartsTheAnimation) {
  PresentLog log;
  std::vector<bool> told;
  DisplaySources sources = threadSources(log, false);
  sources.visualisationWanted = [&log, &told](bool wanted) {
    std::lock_guard<std::mutex> hold(log.lock);
    told.push_back(wanted);
  };
  ASSERT_TRUE(startDisplay(sources, kLedLeft, kLedTop, kLedWidth, kLedHeight));
  ASSERT_TRUE(waitFor(log, [&] { return log.presents >= 1 && displayCurrentWait() == DisplayWait::Still; }));
  EXPECT_EQ(told, std::vector<bool>{false});
  const int still = log.presents;
  {
    std::lock_guard<std::mutex> hold(log.lock);
    settings.LEDVisual = 4;  // stars fly even when stopped
  }
  wakeDisplay();
  EXPECT_TRUE(
      waitFor(log, [&] { return log.presents >= still + 5 && displayCurrentWait() == DisplayWait::NextRound; }));
  {
    std::lock_guard<std::mutex> hold(log.lock);
    settings.LEDVisual = 3;  // the spectrum shows the signal
  }
  EXPECT_TRUE(waitFor(log, [&] { return told.size() == 2; }));
  stopDisplay();
  std::lock_guard<std::mutex> hold(log.lock);
  EXPECT_EQ(told, (std::vector<bool>{false, true, false}));
}

}  // namespace
}  // namespace kuv
