#include "ui/led_display.h"

#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "config/settings.h"
#include "platform/paths.h"
#include "playlist/file_info.h"

namespace kuv {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Tables computed once on first use, so no round calls libm.
struct SineTable {
  int16_t value[256];  // 127 * sin(2 pi i / 256)
  SineTable() {
    for (int i = 0; i < 256; ++i) value[i] = static_cast<int16_t>(std::lround(127.0 * std::sin(2.0 * kPi * i / 256.0)));
  }
};

const SineTable& sineTable() {
  static const SineTable table;
  return table;
}

// Each bar's frequencies as a mix of subbands. A snapshot holds 32
// subbands of 18 lines each (18 * s + t), so a bar narrower than a subband
// reads the level between the two nearest subband centres, and a wider one
// the mean of the subbands it covers, weighted by overlap. A gain rising
// with frequency levels out the fall of energy that music has, so the
// upper bars move as much as the lower ones.
struct SpectrumTables {
  float weight[kSpectrumBars][32];
  // Bar height for a weighted level v (0..255 bytes) in quarter steps:
  // 5 pixels per doubling, full at 255.
  uint8_t height[1024];
  SpectrumTables() {
    for (int b = 0; b < kSpectrumBars; ++b) {
      for (float& w : weight[b]) w = 0.0f;
      const double lo = spectrumBandEdge(b) / 18.0, hi = spectrumBandEdge(b + 1) / 18.0;  // in subbands
      const double centre = std::sqrt(static_cast<double>(spectrumBandEdge(b)) * spectrumBandEdge(b + 1));
      const double gain = std::pow(centre / std::sqrt(spectrumBandEdge(0) * spectrumBandEdge(1) * 1.0), 0.75);
      if (hi - lo <= 1.0) {
        const double x = std::clamp(centre / 18.0 - 0.5, 0.0, 31.0);
        const int s0 = std::min(static_cast<int>(x), 30);
        const double f = x - s0;
        weight[b][s0] = static_cast<float>(gain * (1.0 - f));
        weight[b][s0 + 1] = static_cast<float>(gain * f);
      } else {
        for (int s = static_cast<int>(lo); s < 32 && s < hi; ++s) {
          const double overlap = std::min(hi, s + 1.0) - std::max(lo, static_cast<double>(s));
          weight[b][s] = static_cast<float>(gain * overlap / (hi - lo));
        }
      }
    }
    for (int q = 0; q < 1024; ++q)
      height[q] = static_cast<uint8_t>(
          std::min<long>(kSpectrumBarHeight, std::lround(kSpectrumBarHeight * std::log2(1.0 + q / 4.0) / 8.0)));
  }
};

const SpectrumTables& spectrumTables() {
  static const SpectrumTables tables;
  return tables;
}

// Loudness 0..255 of a snapshot's waveform by its mean absolute sample,
// on a 40 dB scale (full scale 255, -40 dB and below 0), in eighths of a
// step of the mean.
struct LoudnessTable {
  uint8_t value[1025];
  LoudnessTable() {
    for (int i = 0; i <= 1024; ++i) {
      const double mean = i / 8.0;
      const double db = mean <= 0.0 ? -100.0 : 20.0 * std::log10(mean / 128.0);
      value[i] = static_cast<uint8_t>(std::clamp(std::lround((db + 40.0) / 40.0 * 255.0), 0L, 255L));
    }
  }
};

const LoudnessTable& loudnessTable() {
  static const LoudnessTable table;
  return table;
}

// The visible pixels only, row by row; for effects that must leave padding alone.
void fillVisible(LedFrame& frame, uint8_t value) {
  for (int y = 0; y < kLedHeight; ++y) std::memset(&frame.pixels[y * kLedStride], value, kLedWidth);
}

// Loudness of both waveform rows, 0..255.
int32_t waveformLoudness(const VisFrame& vis) {
  uint32_t sum = 0;
  for (int i = 0; i < 576; ++i)
    sum += static_cast<uint32_t>(std::abs(vis.waveformLeft[i]) + std::abs(vis.waveformRight[i]));
  return loudnessTable().value[std::min<uint32_t>(sum * 8u / 1152u, 1024u)];
}

void drawGlyph(LedFrame& frame, int glyph, int left, int top) {
  for (int r = 0; r < kLedGlyphSize; ++r) {
    const int y = top + r;
    if (y < 0 || y >= kLedHeight) continue;
    for (int k = 0; k < kLedGlyphSize; ++k) {
      const int x = left + k;
      if (LedFont[glyph][r][k] && x >= 0 && x < kLedWidth) ledPixel(frame, x, y) = kLedLettering;
    }
  }
}

}  // namespace

// --- Visualisations -----------------------------------------------------------

void ledBackground(LedFrame& frame) { std::memset(frame.pixels, kLedBackground, sizeof frame.pixels); }

void ledOscilloscope(LedFrame& frame, const VisFrame& vis) {
  ledBackground(frame);
  // Each channel gets half the width: 567 samples over 73 columns, every
  // 7th sample.
  constexpr int step = static_cast<int>(567 / (kLedWidth * 0.5));
  constexpr int half = kLedHeight / 2;
  constexpr int limit = 23;
  static_assert(step == 7 && half == 26);
  for (int c = 0; c < kLedWidth / 2 - 1; ++c) {
    int v = vis.waveformLeft[step * c] / 5;
    v = v > limit ? limit : (v < -limit ? -limit : v);
    ledPixel(frame, c, half + v) = kLedScopeDot;
  }
  for (int c = kLedWidth / 2 - 1; c < kLedWidth - 1; ++c) {
    int v = vis.waveformRight[step * (c - (kLedWidth / 2 - 1))] / 5;
    v = v > limit ? limit : (v < -limit ? -limit : v);
    ledPixel(frame, c, half + v) = kLedScopeDot;
  }
}

void initStars(Star (&stars)[kStarCount], ShuffleRandom& random) {
  for (Star& s : stars) {
    s.x = static_cast<int16_t>(random.next() % kLedWidth);
    s.y = static_cast<int16_t>(random.next() % kLedHeight);
    s.speed = static_cast<uint8_t>(random.next() % 3 + 1);
  }
}

void ledStars(LedFrame& frame, Star (&stars)[kStarCount], ShuffleRandom& random) {
  ledBackground(frame);
  for (Star& s : stars) {
    // x == 146 lands in the row's padding, unseen; that is how a star leaves.
    // Anything else outside the rows would be a broken record: skip it.
    if (s.x >= 0 && s.x < kLedStride && s.y >= 0 && s.y < kLedHeight)
      ledPixel(frame, s.x, s.y) = s.speed == 1 ? 64 : (s.speed == 2 ? 128 : 255);
    s.x = static_cast<int16_t>(s.x + s.speed);
    if (s.x > kLedWidth) {
      s.y = static_cast<int16_t>(random.next() % kLedHeight);
      s.x = 0;
    }
  }
}

void ledNoise(LedFrame& frame, ShuffleRandom& random) {
  for (int y = 0; y < kLedHeight; ++y)
    for (int x = 0; x < kLedWidth; ++x)
      ledPixel(frame, x, y) = static_cast<uint8_t>(static_cast<int>(random.next() * (1.0 / 32767) * 128));
}

void initPlasma(PlasmaState& state) {
  state.phase[0] = 0;
  state.phase[1] = 64u << 8;
  state.phase[2] = 128u << 8;
  state.phase[3] = 192u << 8;
  state.energy = 0;
}

void ledPlasma(LedFrame& frame, const VisFrame& vis, PlasmaState& state) {
  const int16_t* sine = sineTable().value;
  // Loudness jumps up at once and sinks slowly, so beats flash and the
  // picture calms down between them.
  const int32_t level = waveformLoudness(vis);
  if (level >= state.energy)
    state.energy = level;
  else
    state.energy -= (state.energy - level + 7) / 8;
  const int32_t e = state.energy;

  // A quarter of a table step a round in silence, up to eight when loud;
  // the four waves drift at different rates and directions.
  const uint32_t base = 64u + static_cast<uint32_t>(e) * 8u;
  state.phase[0] += base * 3u / 2u;
  state.phase[1] -= base;
  state.phase[2] += base * 2u;
  state.phase[3] -= base / 2u;

  // Silence: dim, low contrast (10..70). Loud: bright, full contrast (30..210).
  const int32_t centre = 40 + e * 80 / 255;
  const int32_t amplitude = 30 + e * 60 / 255;

  const uint32_t p0 = state.phase[0] >> 8, p1 = state.phase[1] >> 8;
  const uint32_t p2 = state.phase[2] >> 8, p3 = state.phase[3] >> 8;
  // The four waves, each laid out so a row reads it straight along x:
  // column[x]; diagonal[x + y] (the (x + y) * 3 wave); and the 2x - 4y wave,
  // which repeats every 128 columns, as slant[x + 2 * (255 - y) mod 128].
  // The intensity of each sum comes from a table made once a round, so no
  // pixel divides.
  int16_t column[kLedWidth];
  int16_t diagonal[kLedWidth + kLedHeight - 1];
  int16_t slant[128 + kLedWidth];
  uint8_t shade[2 * 508 + 1];
  for (int x = 0; x < kLedWidth; ++x) column[x] = sine[(static_cast<uint32_t>(x) * 5u + p0) & 255u];
  for (int k = 0; k < kLedWidth + kLedHeight - 1; ++k) diagonal[k] = sine[(static_cast<uint32_t>(k) * 3u + p2) & 255u];
  for (int j = 0; j < 128 + kLedWidth; ++j) slant[j] = sine[(static_cast<uint32_t>(j) * 2u + p3) & 255u];
  for (int32_t sum = -508; sum <= 508; ++sum) shade[sum + 508] = static_cast<uint8_t>(centre + sum * amplitude / 508);
  for (int y = 0; y < kLedHeight; ++y) {
    const int32_t row = sine[(static_cast<uint32_t>(y) * 7u + p1) & 255u] + 508;
    const int16_t* d = &diagonal[y];
    const int16_t* t = &slant[(2 * (255 - y)) & 127];
    uint8_t* out = &frame.pixels[y * kLedStride];
    for (int x = 0; x < kLedWidth; ++x) out[x] = shade[column[x] + row + d[x] + t[x]];  // each term -127..127
  }
}

void initSpectrum(SpectrumState& state) { std::memset(&state, 0, sizeof state); }

int32_t spectrumBandEdge(int32_t edge) {
  // 9 lines (the middle of subband 0, below which a snapshot has no detail)
  // to 420 lines (16 kHz at 44.1 kHz, where most encoders stop), a ratio
  // of about 1.24 a bar.
  static const int16_t kEdges[kSpectrumBars + 1] = {9,  11, 14,  17,  21,  26,  33,  40,  50, 62,
                                                    76, 95, 117, 145, 179, 222, 275, 340, 420};
  return kEdges[std::clamp(edge, 0, kSpectrumBars)];
}

int32_t spectrumBarHeight(const VisFrame& vis, int32_t bar) {
  const SpectrumTables& t = spectrumTables();
  float v = 0.0f;
  for (int s = 0; s < 32; ++s) {
    const float w = t.weight[bar][s];
    if (w == 0.0f) continue;
    // All 18 time slots of both channels.
    uint32_t sum = 0;
    for (int k = 0; k < 18; ++k)
      sum += static_cast<uint32_t>(vis.spectrumLeft[18 * s + k]) + vis.spectrumRight[18 * s + k];
    v += w * static_cast<float>(sum) * (1.0f / 36.0f);
  }
  const int q = static_cast<int>(std::min(v * 4.0f, 1023.0f));
  return t.height[q];
}

void ledSpectrum(LedFrame& frame, const VisFrame& vis, SpectrumState& state) {
  fillVisible(frame, kLedBackground);
  constexpr int bottom = kLedHeight - 2;  // one dark row under the bars
  for (int b = 0; b < kSpectrumBars; ++b) {
    const int fresh = spectrumBarHeight(vis, b);
    // Bars sink 3 pixels a round rather than dropping, which reads as motion.
    const int sunk = state.height[b] > 3 ? state.height[b] - 3 : 0;
    const int h = fresh > sunk ? fresh : sunk;
    state.height[b] = static_cast<uint8_t>(h);
    if (h >= state.peak[b]) {
      state.peak[b] = static_cast<uint8_t>(h);
      state.hold[b] = kSpectrumPeakHold;
    } else if (state.hold[b] > 0) {
      --state.hold[b];
    } else {
      --state.peak[b];
    }

    const int left = 1 + b * 8;
    for (int y = bottom - h + 1; y <= bottom; ++y)
      std::memset(&frame.pixels[y * kLedStride + left], kLedSpectrumBar, 7);
    if (state.peak[b] > 0)
      std::memset(&frame.pixels[(bottom - state.peak[b]) * kLedStride + left], kLedSpectrumPeak, 7);
  }
}

// --- Overlay --------------------------------------------------------------------

int ledDrawText(LedFrame& frame, const char* text, int left, int firstRow, int limitX) {
  int cells = 0;
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* end = p + std::strlen(text);
  int x = left;
  while (p < end && x < limitX) {
    uint32_t cp = 0;
    const int n = decodeUtf8(p, end, cp);
    char one[2] = {' ', 0};
    // A stray byte is one blank cell; the rest of the name still reads.
    const char* fold = n < 0 ? one : foldCharForLed(cp, one);
    p += n < 0 ? 1 : n;
    // A fold may take several cells (sharp s -> SS); the cut counts them all.
    for (; *fold != 0 && x < limitX; ++fold, x += kLedCellWidth, ++cells) {
      const int glyph = static_cast<unsigned char>(*fold) - 0x20;
      if (glyph >= 0 && glyph < 64) drawGlyph(frame, glyph, x, firstRow);
    }
  }
  return cells;
}

uint32_t ledTimeSeconds(uint32_t positionMs, uint32_t trackLengthMs, int32_t timeMode) {
  uint32_t t = positionMs;
  // Past an estimated length the remaining time would wrap round to 49 days.
  if (timeMode == 1) t = positionMs > trackLengthMs ? 0 : trackLengthMs - positionMs;
  return t / 1000;
}

void ledTimeText(char (&out)[kLedTimeTextBytes], uint32_t positionMs, uint32_t trackLengthMs, int32_t timeMode) {
  const uint32_t s = ledTimeSeconds(positionMs, trackLengthMs, timeMode);
  std::snprintf(out, sizeof out, "%02u:%02u:%02u", s / 3600, s % 3600 / 60, s % 60);
  out[8] = 0;  // the panel has room for 8 cells; 100 hours and more lose the seconds
}

void ledRatesText(char (&out)[kLedRatesTextBytes], int32_t bitRate, int32_t sampleRate) {
  std::snprintf(out, sizeof out, "%03dkb/s    %02.1fKhz", bitRate, sampleRate * 0.001);
}

namespace {

void ledTitleFromText(char (&title)[kLedTitleBytes], std::string_view name) {
  size_t n = name.size();
  if (n > kLedTitleBytes - 1) {
    n = kLedTitleBytes - 1;
    // Do not end on half a character.
    while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
  }
  std::memcpy(title, name.data(), n);
  title[n] = 0;
}

}  // namespace

void ledTitleFromPath(char (&title)[kLedTitleBytes], std::string_view path) {
  ledTitleFromText(title, platform::lastPathComponent(path));
}

void ledTitleOf(char (&title)[kLedTitleBytes], const PlaylistEntry& entry) {
  const std::string stream = streamTitleOf(entry);
  if (stream.empty())
    ledTitleFromPath(title, entry.path);
  else
    ledTitleFromText(title, stream);
}

void ledOverlay(LedFrame& frame, const OverlayInputs& in, OverlayTexts* texts) {
  ledDrawText(frame, in.title != nullptr ? in.title : "", 1, 1, kLedWidth - 1);
  if (in.playbackState != 0) return;
  OverlayTexts once;
  OverlayTexts& t = texts != nullptr ? *texts : once;
  const uint32_t seconds = ledTimeSeconds(in.positionMs, in.trackLengthMs, in.timeMode);
  if (!t.timeValid || seconds != t.seconds) {
    ledTimeText(t.time, in.positionMs, in.trackLengthMs, in.timeMode);
    t.seconds = seconds;
    t.timeValid = true;
  }
  ledDrawText(frame, t.time, 1, 10, 65);
  if (!t.ratesValid || in.bitRate != t.bitRate || in.sampleRate != t.sampleRate) {
    ledRatesText(t.rates, in.bitRate, in.sampleRate);
    t.bitRate = in.bitRate;
    t.sampleRate = in.sampleRate;
    t.ratesValid = true;
  }
  ledDrawText(frame, t.rates, 1, 44, kLedWidth - 1);
}

// --- Rounds -----------------------------------------------------------------------

void initDisplayState(DisplayState& state, uint32_t seed) {
  ledBackground(state.frame);
  std::memset(&state.vis, 0, sizeof state.vis);
  std::memset(&state.incoming, 0, sizeof state.incoming);
  state.random.state = seed;
  initStars(state.stars, state.random);
  initPlasma(state.plasma);
  initSpectrum(state.spectrum);
  std::memcpy(state.title, "0123456789ABCDE", sizeof "0123456789ABCDE");
  state.trackLengthMs = 0;
  state.entry = PlaylistEntry{};
  state.x = state.y = state.width = state.height = 0;
  std::memset(state.shown.pixels, 0, sizeof state.shown.pixels);
  state.texts = OverlayTexts{};
  state.shownValid = false;
  state.changed = false;
}

void takeNewTrack(DisplayState& state, const DisplaySources& sources) {
  // A new track's picture starts from silence, not from the last one's
  // final snapshot (Layer I and II streams send none of their own).
  std::memset(&state.vis, 0, sizeof state.vis);
  if (!sources.currentEntry || !sources.currentEntry(state.entry)) return;
  state.trackLengthMs = state.entry.lengthMs < 0 ? 0u : static_cast<uint32_t>(state.entry.lengthMs);
  ledTitleOf(state.title, state.entry);
}

DisplayRound renderDisplayRound(DisplayState& state, const DisplaySources& sources) {
  state.changed = false;
  if (sources.windowMinimised && sources.windowMinimised()) return DisplayRound::Minimised;
  DisplayRound round = DisplayRound::Drawn;
  const int32_t playback = sources.playbackState ? sources.playbackState() : 2;
  if (sources.visPluginRunning && sources.visPluginRunning()) {
    // The plug-in has the signal; the panel only keeps its lettering.
    ledBackground(state.frame);
    round = DisplayRound::VisPlugin;
  } else {
    if (playback == 2) {
      // Stopped: the picture of silence (a flat trace, sinking bars, a calm
      // plasma), not the last snapshot, which the queue may still hold.
      std::memset(&state.vis, 0, sizeof state.vis);
    } else if (sources.newestVisFrame && sources.newestVisFrame(state.incoming)) {
      // Through a second record so a source that fails cannot spoil the copy.
      state.vis = state.incoming;
    }
    switch (sharedSetting(settings.LEDVisual)) {
      case 1:
        ledPlasma(state.frame, state.vis, state.plasma);
        break;
      case 2:
        ledOscilloscope(state.frame, state.vis);
        break;
      case 3:
        ledSpectrum(state.frame, state.vis, state.spectrum);
        break;
      case 4:
        ledStars(state.frame, state.stars, state.random);
        break;
      case 5:
        ledNoise(state.frame, state.random);
        break;
      default:
        ledBackground(state.frame);
        break;
    }
  }
  if (sharedSetting(settings.LEDOverlay)) {
    OverlayInputs in{};
    in.title = state.title;
    in.playbackState = playback;
    in.trackLengthMs = state.trackLengthMs;
    in.timeMode = sharedSetting(settings.TimeMode);
    // Time and rates are only drawn while playing; spare the calls otherwise.
    if (in.playbackState == 0) {
      in.positionMs = sources.positionMs ? sources.positionMs() : 0;
      if (sources.playbackInfo) {
        const PlaybackInfo info = sources.playbackInfo();
        in.bitRate = info.bitRate;
        in.sampleRate = info.sampleRate;
      }
    }
    ledOverlay(state.frame, in, &state.texts);
  }
  // A still picture costs no hand-over and no repaint.
  if (state.shownValid && std::memcmp(state.shown.pixels, state.frame.pixels, sizeof state.frame.pixels) == 0)
    return round;
  state.shown = state.frame;
  state.shownValid = true;
  state.changed = true;
  if (sources.present) sources.present(state.frame);
  return round;
}

DisplayWait displayWait(const DisplayWakeInputs& in) {
  if (in.minimised) return DisplayWait::Asleep;
  if (in.visPlugin) return DisplayWait::PluginRound;
  // Plasma drifts, stars fly and snow falls whatever plays.
  if (in.ledVisual == 1 || in.ledVisual == 4 || in.ledVisual == 5) return DisplayWait::NextRound;
  if (in.playbackState == 0 && (in.ledVisual == 2 || in.ledVisual == 3)) return DisplayWait::NextRound;
  if (in.playbackState == 0 && in.overlay) return DisplayWait::TextChange;
  // Paused or stopped (or playing a bare background): spectrum bars still
  // sink to rest, so go on while the picture changes.
  return in.changed ? DisplayWait::NextRound : DisplayWait::Still;
}

uint32_t ledMsUntilTimeTextChanges(uint32_t positionMs, uint32_t trackLengthMs, int32_t timeMode) {
  if (timeMode != 1) return 1000 - positionMs % 1000;
  // Under a second left (or past an estimated length) it shows zero for good.
  if (positionMs >= trackLengthMs || trackLengthMs - positionMs < 1000) return kDisplayStillMs;
  return (trackLengthMs - positionMs) % 1000 + 1;
}

bool displayWantsVisualisation(bool running, bool minimised, bool visPlugin, int32_t ledVisual) {
  if (!running || minimised) return false;
  return visPlugin || ledVisual == 1 || ledVisual == 2 || ledVisual == 3;
}

// --- The thread ---------------------------------------------------------------------

namespace {

struct DisplayThread {
  std::mutex control;  // start and stop
  std::thread thread;
  std::atomic<bool> running{false};
  // What wakes the thread; guarded by wakeLock.
  std::mutex wakeLock;
  std::condition_variable woken;
  bool quit = false, newTrack = false, poked = false, retitle = false;
  std::atomic<int> waiting{static_cast<int>(DisplayWait::NextRound)};
  std::atomic<uint64_t> rounds{0};
  // Written before the thread starts, then the thread's own until joined.
  DisplaySources sources;
  DisplayState state;
};

DisplayThread display;

using Clock = std::chrono::steady_clock;

void sleepUntil(Clock::time_point when) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
  timespec at{};
  at.tv_sec = static_cast<time_t>(ns / 1000000000);
  at.tv_nsec = static_cast<long>(ns % 1000000000);
  // steady_clock is CLOCK_MONOTONIC; a signal's interruption sleeps on.
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
  }
}

// Waits as `wait` says; false when asked to quit. Takes a new-track signal.
// textChangeMs: for TextChange, when the time text changes.
bool waitForRound(DisplayWait wait, Clock::time_point& nextRound, uint32_t textChangeMs) {
  std::unique_lock<std::mutex> hold(display.wakeLock);
  display.waiting.store(static_cast<int>(wait));
  auto wakeOrQuit = [] { return display.quit || display.newTrack || display.poked || display.retitle; };
  switch (wait) {
    case DisplayWait::NextRound:
    case DisplayWait::PluginRound: {
      // Steady rounds: a wake does not hurry the next one.
      const Clock::time_point now = Clock::now();
      if (nextRound < now) nextRound = now;
      nextRound += std::chrono::milliseconds(wait == DisplayWait::NextRound ? kDisplayRoundMs : kDisplayPluginRoundMs);
      // A plain sleep: a timed wait on the condition variable costs a
      // second system call each round to take its lock back, and a quit
      // need not be seen sooner than the round's end.
      if (!display.quit) {
        hold.unlock();
        sleepUntil(nextRound);
        hold.lock();
      }
      break;
    }
    case DisplayWait::TextChange: {
      // nextRound is still the last round's time: new rates announced by a
      // wake are drawn at the round rate at most.
      const Clock::time_point earliest = nextRound + std::chrono::milliseconds(kDisplayRoundMs);
      const Clock::time_point due = std::max(earliest, Clock::now() + std::chrono::milliseconds(textChangeMs));
      display.woken.wait_until(hold, due, wakeOrQuit);
      if (!display.quit && Clock::now() < earliest)
        display.woken.wait_until(hold, earliest, [] { return display.quit; });
      nextRound = Clock::now();
      break;
    }
    case DisplayWait::Still:
      // The time limit only guards against a change nobody announced.
      display.woken.wait_for(hold, std::chrono::milliseconds(kDisplayStillMs), wakeOrQuit);
      nextRound = Clock::now();
      break;
    case DisplayWait::Asleep:
      display.woken.wait(hold, wakeOrQuit);
      nextRound = Clock::now();
      break;
  }
  if (display.quit) return false;
  display.poked = false;
  if (display.newTrack) {
    display.newTrack = display.retitle = false;
    hold.unlock();
    takeNewTrack(display.state, display.sources);
  } else if (display.retitle) {
    display.retitle = false;
    hold.unlock();
    PlaylistEntry entry;
    if (display.sources.currentEntry && display.sources.currentEntry(entry)) {
      ledTitleOf(display.state.title, entry);
      display.state.trackLengthMs = entry.lengthMs < 0 ? 0u : static_cast<uint32_t>(entry.lengthMs);
    }
  }
  return true;
}

void displayLoop() {
  pthread_setname_np(pthread_self(), "kuv-display");
  DisplayState& state = display.state;
  const DisplaySources& sources = display.sources;
  DisplayWait wait = DisplayWait::NextRound;
  Clock::time_point nextRound = Clock::now();
  int wanted = -1;  // not told yet
  uint32_t textChangeMs = kDisplayStillMs;
  while (waitForRound(wait, nextRound, textChangeMs)) {
    const DisplayRound round = renderDisplayRound(state, sources);
    display.rounds.fetch_add(1, std::memory_order_relaxed);
    DisplayWakeInputs in{};
    in.minimised = round == DisplayRound::Minimised;
    in.visPlugin = round == DisplayRound::VisPlugin;
    in.playbackState = sources.playbackState ? sources.playbackState() : 2;
    in.ledVisual = sharedSetting(settings.LEDVisual);
    in.overlay = sharedSetting(settings.LEDOverlay) != 0;
    in.changed = state.changed;
    wait = displayWait(in);
    if (wait == DisplayWait::TextChange) {
      textChangeMs = ledMsUntilTimeTextChanges(sources.positionMs ? sources.positionMs() : 0, state.trackLengthMs,
                                               sharedSetting(settings.TimeMode));
      nextRound = Clock::now();
    }
    const int want = displayWantsVisualisation(true, in.minimised, in.visPlugin, in.ledVisual) ? 1 : 0;
    if (want != wanted && sources.visualisationWanted) sources.visualisationWanted(want != 0);
    wanted = want;
  }
  if (wanted != 0 && sources.visualisationWanted) sources.visualisationWanted(false);
}

}  // namespace

bool startDisplay(const DisplaySources& sources, int x, int y, int width, int height) {
  std::lock_guard<std::mutex> hold(display.control);
  if (display.thread.joinable()) return false;
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
  initDisplayState(display.state, static_cast<uint32_t>(ms.count()));
  display.state.x = x;
  display.state.y = y;
  display.state.width = width;
  display.state.height = height;
  display.sources = sources;
  {
    std::lock_guard<std::mutex> wake(display.wakeLock);
    display.quit = display.newTrack = display.poked = display.retitle = false;
  }
  display.rounds.store(0);
  display.waiting.store(static_cast<int>(DisplayWait::NextRound));
  // Running before the thread does, so a new-track signal right after the
  // start is kept.
  display.running.store(true);
  try {
    display.thread = std::thread(displayLoop);
  } catch (const std::system_error&) {
    display.running.store(false);
    return false;
  }
  return true;
}

void signalNewTrack() {
  if (!display.running.load()) return;
  {
    std::lock_guard<std::mutex> hold(display.wakeLock);
    display.newTrack = true;
  }
  display.woken.notify_one();
}

void signalTitleChanged() {
  if (!display.running.load()) return;
  {
    std::lock_guard<std::mutex> hold(display.wakeLock);
    display.retitle = true;
  }
  display.woken.notify_one();
}

void wakeDisplay() {
  if (!display.running.load()) return;
  {
    std::lock_guard<std::mutex> hold(display.wakeLock);
    display.poked = true;
  }
  display.woken.notify_one();
}

void stopDisplay() {
  std::lock_guard<std::mutex> hold(display.control);
  if (!display.thread.joinable()) return;
  display.running.store(false);
  {
    std::lock_guard<std::mutex> wake(display.wakeLock);
    display.quit = true;
  }
  display.woken.notify_one();
  display.thread.join();
}

bool displayRunning() { return display.running.load(); }

DisplayWait displayCurrentWait() { return static_cast<DisplayWait>(display.waiting.load()); }

uint64_t displayRounds() { return display.rounds.load(std::memory_order_relaxed); }

}  // namespace kuv
