// The LED display in the main window's sunken panel: a 146 x 52 field of
// green intensities drawn by its own thread about 50 times a second while
// the picture moves, and not at all while it cannot change. The
// drawing is plain functions over a frame record so it can be tested without
// a window; the window only turns intensities into pixels and paints them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "engine/decoder_thread.h"
#include "engine/vis_queue.h"
#include "playlist/playlist.h"
#include "ui/skin_layout.h"

namespace kuv {

constexpr int kLedWidth = 146, kLedHeight = 52, kLedStride = 148;
// Where the panel sits in the main window.
constexpr int kLedLeft = kLedPanel.left, kLedTop = kLedPanel.top;
static_assert(kLedPanel.right - kLedPanel.left == kLedWidth && kLedPanel.bottom - kLedPanel.top == kLedHeight);

// Intensities; the colour of intensity i is RGB(0, i, 0).
constexpr uint8_t kLedBackground = 26;
constexpr uint8_t kLedScopeDot = 148;
constexpr uint8_t kLedLettering = 255;

// One byte per pixel, top row first. The two bytes past each row's 146
// pixels are padding and never shown.
struct LedFrame {
  uint8_t pixels[kLedStride * kLedHeight];
};

inline uint8_t& ledPixel(LedFrame& frame, int x, int y) { return frame.pixels[y * kLedStride + x]; }
inline uint8_t ledPixel(const LedFrame& frame, int x, int y) { return frame.pixels[y * kLedStride + x]; }

// Glyphs for 0x20 (space) .. 0x5F ('_'): 7 rows of 7 dots, 1 lit.
extern const uint8_t LedFont[64][7][7];
constexpr int kLedGlyphSize = 7;
constexpr int kLedCellWidth = 8;

// --- Visualisations -------------------------------------------------------

// Every byte, padding included, becomes the background.
void ledBackground(LedFrame& frame);

// Left channel in columns 0..71, right channel in 72..144, every 7th sample,
// 26 +- sample / 5 (at most 23 either way).
void ledOscilloscope(LedFrame& frame, const VisFrame& vis);

constexpr int kStarCount = 100;
struct Star {
  int16_t x, y;
  uint8_t speed;  // 1 .. 3
};
// Random places and speeds, three numbers per star in x, y, speed order.
void initStars(Star (&stars)[kStarCount], ShuffleRandom& random);
// Plots each star (brighter the faster) and moves it right; one that passes
// the right edge starts again at the left on a new row.
void ledStars(LedFrame& frame, Star (&stars)[kStarCount], ShuffleRandom& random);

// Snow: each visible pixel a random intensity 0..128; padding untouched.
void ledNoise(LedFrame& frame, ShuffleRandom& random);

// A sine-sum plasma whose brightness, contrast and speed follow the
// loudness of the waveform: dim and slow (10..70) in silence, bright and fast
// (up to 30..210) when loud. Fills every visible pixel; padding untouched.
struct PlasmaState {
  uint32_t phase[4];  // 8.8 fixed-point offsets into the sine table
  int32_t energy;     // smoothed spectrum level 0..255
};
void initPlasma(PlasmaState& state);
void ledPlasma(LedFrame& frame, const VisFrame& vis, PlasmaState& state);

// 18 bars, 7 pixels wide with 1-pixel gaps, spaced logarithmically in
// frequency, with a gain rising with frequency so music fills the panel,
// log-scaled up to 40 pixels, with peak dots that hold and then fall.
// Padding untouched.
constexpr int kSpectrumBars = 18;
constexpr int kSpectrumBarHeight = 40;
constexpr int kSpectrumPeakHold = 8;  // rounds a peak waits before falling
constexpr uint8_t kLedSpectrumBar = 120;
constexpr uint8_t kLedSpectrumPeak = 200;
struct SpectrumState {
  uint8_t height[kSpectrumBars];
  uint8_t peak[kSpectrumBars];
  uint8_t hold[kSpectrumBars];
};
void initSpectrum(SpectrumState& state);
// Edge 0..18 of the bars in spectrum lines (1/576 of the sample rate's half,
// about 38 Hz at 44.1 kHz); bar b covers [edge b, edge b + 1).
int32_t spectrumBandEdge(int32_t edge);
// The fresh height 0..40 of bar b for a snapshot, before sinking and peaks.
int32_t spectrumBarHeight(const VisFrame& vis, int32_t bar);
void ledSpectrum(LedFrame& frame, const VisFrame& vis, SpectrumState& state);

// --- Overlay ----------------------------------------------------------------

struct OverlayInputs {
  const char* title;  // UTF-8, zero-terminated
  int32_t playbackState;
  uint32_t positionMs;
  uint32_t trackLengthMs;
  int32_t timeMode;  // 1: time remaining
  int32_t bitRate;   // kbit/s
  int32_t sampleRate;
};

constexpr int kLedTimeTextBytes = 16, kLedRatesTextBytes = 48;

// The time and rates texts of the last round, made again only when what
// they show changes (formatting them cost more than drawing them).
struct OverlayTexts {
  bool timeValid = false, ratesValid = false;
  uint32_t seconds = 0;
  int32_t bitRate = 0, sampleRate = 0;
  char time[kLedTimeTextBytes];
  char rates[kLedRatesTextBytes];
};

// Title on rows 1..7; when playing also the time on rows 10..16 and the
// rates on rows 44..50. texts: kept from round to round, or nullptr.
void ledOverlay(LedFrame& frame, const OverlayInputs& in, OverlayTexts* texts = nullptr);

// Draws UTF-8 text folded for the font (foldForLed) in 8-pixel cells from
// x = left while a cell starts left of `limitX`, with lit dots at 255.
// Returns the number of cells used.
int ledDrawText(LedFrame& frame, const char* text, int left, int firstRow, int limitX);

// Names are UTF-8; the font has only 0x20..0x5F. Each character becomes the
// font characters that read as it: lower case as capitals, accented letters
// as their base letter (u umlaut -> U, sharp s -> SS), typographic dashes,
// quotes and ellipsis as plain ones. A character with no sensible fold, and
// each byte that is not part of valid UTF-8, is one blank (a space).
std::string foldForLed(std::string_view utf8);
// The pieces foldForLed is made of, for drawing without building a string.
// decodeUtf8: the length of the character at p (0 at the end, -1 for an
// invalid byte). foldCharForLed: its fold, zero-terminated; `one` holds
// single-character results.
int decodeUtf8(const unsigned char* p, const unsigned char* end, uint32_t& codePoint);
const char* foldCharForLed(uint32_t codePoint, char (&one)[2]);

// "HH:MM:SS" of the position, or of the time left when timeMode is 1 (00:00:00
// past the end); cut to 8 characters.
void ledTimeText(char (&out)[kLedTimeTextBytes], uint32_t positionMs, uint32_t trackLengthMs, int32_t timeMode);
// The whole seconds that text shows.
uint32_t ledTimeSeconds(uint32_t positionMs, uint32_t trackLengthMs, int32_t timeMode);
// "128kb/s    44.1Khz".
void ledRatesText(char (&out)[kLedRatesTextBytes], int32_t bitRate, int32_t sampleRate);

// The last path component, cut to 255 bytes at a character boundary.
constexpr int kLedTitleBytes = 256;
void ledTitleFromPath(char (&title)[kLedTitleBytes], std::string_view path);
// The title line of an entry: a stream's title once known, else the path's
// last component.
void ledTitleOf(char (&title)[kLedTitleBytes], const PlaylistEntry& entry);

// --- The display thread -----------------------------------------------------

// What the thread reads each round; tests fake it. An empty function reads
// as stopped / 0 / nothing.
struct DisplaySources {
  std::function<int32_t()> playbackState;  // 0 Playing, 1 Paused, 2 Stopped
  std::function<uint32_t()> positionMs;    // the output's position
  std::function<PlaybackInfo()> playbackInfo;
  std::function<bool(PlaylistEntry&)> currentEntry;  // copyCurrentEntry
  std::function<bool()> visPluginRunning;
  std::function<bool()> windowMinimised;
  std::function<bool(VisFrame&)> newestVisFrame;  // false when none: the old copy stays
  std::function<void(const LedFrame&)> present;   // hands the finished frame over, only when it changed
  // Told (from the display thread) whenever it changes whether anything
  // shows the signal, so the engine need not make records nobody reads.
  std::function<void(bool)> visualisationWanted;
};

// Everything one display keeps between rounds; allocated once.
struct DisplayState {
  LedFrame frame;
  VisFrame vis;       // the newest record seen
  VisFrame incoming;  // what the source hands over, taken only on success
  Star stars[kStarCount];
  ShuffleRandom random;
  PlasmaState plasma;
  SpectrumState spectrum;
  char title[kLedTitleBytes];
  uint32_t trackLengthMs;
  PlaylistEntry entry;  // reused for each new track
  int32_t x, y, width, height;
  OverlayTexts texts;
  LedFrame shown;   // the frame last presented
  bool shownValid;  // false until the first present
  bool changed;     // the last round presented a new picture
};

// Zeroed picture, stars placed from `seed`, title "0123456789ABCDE".
void initDisplayState(DisplayState& state, uint32_t seed);

// Takes the current entry's title and length (kept as they were when there
// is none); the picture starts again from silence.
void takeNewTrack(DisplayState& state, const DisplaySources& sources);

enum class DisplayRound { Minimised, VisPlugin, Drawn };
// The drawing part of one round: nothing when minimised; the background
// while a vis plug-in runs; else the visualisation LEDVisual names, drawn
// from silence while Stopped. Then the overlay when LEDOverlay is set, and
// the frame is presented when it differs from the one presented last
// (state.changed tells which).
DisplayRound renderDisplayRound(DisplayState& state, const DisplaySources& sources);

// How the thread waits after a round.
enum class DisplayWait {
  NextRound,    // the picture moves: the next round in kDisplayRoundMs
  PluginRound,  // a vis plug-in has the signal: every kDisplayPluginRoundMs
  TextChange,   // only the overlay moves while playing: until its time text
                // changes or a wake (new rates), kDisplayRoundMs at least
  Still,        // nothing can change but by a wake; kDisplayStillMs at most
  Asleep,       // minimised or hidden: only a wake ends it
};
constexpr int kDisplayRoundMs = 20, kDisplayPluginRoundMs = 70, kDisplayStillMs = 1000;
struct DisplayWakeInputs {
  bool minimised;  // or hidden
  bool visPlugin;
  int32_t playbackState;  // 0 Playing, 1 Paused, 2 Stopped
  int32_t ledVisual;
  bool overlay;
  bool changed;  // the round just drawn presented a new picture
};
// How long the overlay's time text stays as it is from positionMs on, at
// most (a remaining time under a second stays at zero: kDisplayStillMs).
uint32_t ledMsUntilTimeTextChanges(uint32_t positionMs, uint32_t trackLengthMs, int32_t timeMode);
// Stars, noise and plasma move by themselves, even when stopped; while
// playing, the signal's pictures move, and the overlay's time and rates
// change now and then;
// otherwise a picture settles (bars that sink, a trace gone flat) and then
// stays as it is until a wake.
DisplayWait displayWait(const DisplayWakeInputs& in);
// Whether the display wants visualisation records: it runs, is seen, and
// shows the signal (plasma, oscilloscope, spectrum) or a plug-in does.
bool displayWantsVisualisation(bool running, bool minimised, bool visPlugin, int32_t ledVisual);

// Records the panel's rectangle and starts the thread; false when it could
// not be started or is running already.
bool startDisplay(const DisplaySources& sources, int x, int y, int width, int height);
void signalNewTrack();
// The current entry's title or length changed (a stream's title, a file's
// counted frames): the overlay follows without the picture starting anew.
void signalTitleChanged();
// Something the picture depends on changed (playback state, settings, the
// window shown or minimised): a waiting thread draws a round now.
void wakeDisplay();
// Asks the thread to end and waits for it.
void stopDisplay();
bool displayRunning();
// How the thread waits now, or waited last when it is drawing (for tests).
DisplayWait displayCurrentWait();
// Rounds drawn since the start (for tests and measurements).
uint64_t displayRounds();

}  // namespace kuv
