// Draws every bitmap of KUV's skin and writes them as PNG files:
//   kuv_make_skin OUT_DIR
// The artwork lives here as code, so changing the look means editing this
// file and running tools/make_skin.sh. Output is deterministic: the brushed
// metal comes from a fixed-seed generator and fonts get explicit pixel sizes.
//
// Coordinates are pixels of the 256 x 116 main window unless said otherwise.
// Button looks are painted once into their own images and then copied both
// into the background and into the look sheets, so a button drawn by the
// program over the background never shifts a single pixel.

#include <QColor>
#include <QConicalGradient>
#include <QDir>
#include <QFont>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <numbers>
#include <string>
#include <vector>

#include "ui/skin_layout.h"

namespace {

using Shape = std::function<bool(int x, int y)>;

// ---------------------------------------------------------------- palette

const QColor kMetalTop(74, 80, 86);
const QColor kMetalBottom(43, 47, 52);
const QColor kOutline(10, 11, 12);
const QColor kWell(15, 18, 19);       // recessed trays and the dial's tick ring
const QColor kGlass(7, 17, 11);       // the LED display: near-black green
const QColor kLed(60, 255, 122);      // lit things
const QColor kInk(206, 213, 218);     // symbols on the buttons
const QColor kDimInk(122, 132, 138);  // unlit symbols, small print
const QColor kAlarm(255, 96, 74);     // the close symbol while pressed
const QColor kNeutral(40, 44, 48);    // unused parts of the look sheets

QColor mix(const QColor& a, const QColor& b, double t) {
  auto m = [t](int u, int v) { return std::clamp(int(std::lround(u + (v - u) * t)), 0, 255); };
  return QColor(m(a.red(), b.red()), m(a.green(), b.green()), m(a.blue(), b.blue()));
}

QColor withAlpha(QColor c, int alpha) {
  c.setAlpha(alpha);
  return c;
}

void tint(QImage& img, int x, int y, const QColor& to, double t) {
  if (img.rect().contains(x, y)) img.setPixelColor(x, y, mix(img.pixelColor(x, y), to, t));
}

Shape rectShape(int left, int top, int right, int bottom) {  // inclusive edges
  return [=](int x, int y) { return x >= left && x <= right && y >= top && y <= bottom; };
}

// A small linear congruential generator: the same grain on every run.
class Grain {
 public:
  explicit Grain(uint32_t seed) : state_(seed) {}
  double next() {  // in [-1, 1)
    state_ = state_ * 1664525u + 1013904223u;
    return double(state_ >> 8) / double(1u << 23) - 1.0;
  }

 private:
  uint32_t state_;
};

// ---------------------------------------------------------------- shapes

// The normal window. The top edge has a notch above the left end of the title
// strip and, under the bridge it leaves, a slot cut through the plate; the
// column of window buttons stands out at the lower left.
bool insideMain(int x, int y) {
  if (x < 0 || y < 0 || y >= 113) return false;
  int left = 0, right = 254;
  if (y == 0) {
    left = 3;
    right = 251;
  } else if (y <= 2) {
    left = 1;
    right = 253;
  }
  if (y >= 68) {
    static const int chamfer[] = {4, 8, 12, 16};
    left = y < 72 ? chamfer[y - 68] : 20;
  }
  if (y == 112) {
    left = 23;
    right = 251;
  } else if (y >= 110) {
    left = 21;
    right = 253;
  }
  if (x < left || x > right) return false;
  if (y <= 6 && x >= (y == 0 ? 35 : 36) && x <= (y == 0 ? 96 : 95)) return false;  // notch
  if (y >= 13 && y <= 18 && x >= 37 && x <= 94) return false;                      // slot
  return true;
}

bool insideShade(int x, int y) {
  if (y < 0 || y >= 17) return false;
  const int inset = (y == 0 || y == 16) ? 3 : (y <= 2 || y >= 14) ? 1 : 0;
  return x >= inset && x <= 245 - inset;
}

QImage maskImage(int w, int h, const Shape& inside) {
  QImage img(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.setPixel(x, y, inside(x, y) ? 0xffffffffu : 0xff000000u);
  return img;
}

// ---------------------------------------------------------------- surfaces

// Brushed metal over the pixels of `inside`: a top-to-bottom fall-off plus
// grain stretched along the rows.
void brush(QImage& img, const Shape& inside, const QColor& top, const QColor& bottom, uint32_t seed,
           double strength = 4.0) {
  const int w = img.width(), h = img.height();
  Grain grain(seed);
  std::vector<double> raw(size_t(w) * size_t(h));
  std::vector<double> row(static_cast<size_t>(h));
  for (double& v : raw) v = grain.next();
  for (double& v : row) v = grain.next();
  constexpr int kStreak = 7;
  for (int y = 0; y < h; ++y) {
    const QColor base = mix(top, bottom, h > 1 ? double(y) / (h - 1) : 0.0);
    for (int x = 0; x < w; ++x) {
      if (!inside(x, y)) continue;
      double s = 0;
      for (int k = -kStreak; k <= kStreak; ++k) s += raw[size_t(y) * size_t(w) + size_t((x + k + w) % w)];
      s /= 2 * kStreak + 1;
      const int d = int(std::lround(strength * (s * 3.0 + row[size_t(y)] * 0.6)));
      img.setPixelColor(x, y,
                        QColor(std::clamp(base.red() + d, 0, 255), std::clamp(base.green() + d, 0, 255),
                               std::clamp(base.blue() + d, 0, 255)));
    }
  }
}

// The raised edge of a plate: a dark outline on every border pixel, then two
// rings lit on the top and left and shaded on the bottom and right (the other
// way round for a pressed button).
void bevel(QImage& img, const Shape& inside, double light, double shade, bool sunken = false) {
  const int w = img.width(), h = img.height();
  const QColor white(255, 255, 255), black(0, 0, 0);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      if (!inside(x, y)) continue;
      bool border = false;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) border = border || !inside(x + dx, y + dy);
      if (border) {
        img.setPixelColor(x, y, kOutline);
        continue;
      }
      int lit = 0, dark = 0;
      for (int k = 2; k <= 3; ++k) {
        if (!lit && (!inside(x - k, y) || !inside(x, y - k) || !inside(x - k, y - k))) lit = k;
        if (!dark && (!inside(x + k, y) || !inside(x, y + k) || !inside(x + k, y + k))) dark = k;
      }
      if (sunken) std::swap(lit, dark);
      const double weak = 0.4;
      if (lit && (!dark || lit < dark))
        tint(img, x, y, white, lit == 2 ? light : light * weak);
      else if (dark && (!lit || dark < lit))
        tint(img, x, y, black, dark == 2 ? shade : shade * weak);
    }
  }
}

// The walls around a recessed area `hole` of a plate `within`: the wall above
// and left of it lies in shadow, the one below and right catches the light.
// dark[k-1] and light[k-1] are the strengths k pixels away from the hole.
void recess(QImage& img, const Shape& within, const Shape& hole, const QRect& area, const std::vector<double>& dark,
            const std::vector<double>& light) {
  const QColor white(255, 255, 255), black(0, 0, 0);
  const int n = int(std::max(dark.size(), light.size()));
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if (hole(x, y) || !within(x, y)) continue;
      for (int k = 1; k <= n; ++k) {
        const double d = k <= int(dark.size()) ? dark[size_t(k - 1)] : 0.0;
        const double l = k <= int(light.size()) ? light[size_t(k - 1)] : 0.0;
        if (hole(x + k, y) || hole(x, y + k) || hole(x + k, y + k)) {
          tint(img, x, y, black, d);
          break;
        }
        if (hole(x - k, y) || hole(x, y - k) || hole(x - k, y - k)) {
          tint(img, x, y, white, l);
          break;
        }
        if (hole(x - k, y + k) || hole(x + k, y - k)) {
          tint(img, x, y, black, d * 0.4);
          break;
        }
      }
    }
  }
}

void fillShape(QImage& img, const Shape& s, const QRect& area, const QColor& top, const QColor& bottom) {
  for (int y = area.top(); y <= area.bottom(); ++y) {
    const QColor c = mix(top, bottom, area.height() > 1 ? double(y - area.top()) / (area.height() - 1) : 0.0);
    for (int x = area.left(); x <= area.right(); ++x)
      if (s(x, y)) img.setPixelColor(x, y, c);
  }
}

// ---------------------------------------------------------------- lettering

// Tiny pixel fonts for print too small for outline fonts to stay crisp.
// Lower case: rows 0-1 ascenders, 2-5 x-height, 6-7 descenders.
const std::map<char, std::vector<std::string>>& smallLetters() {
  static const std::map<char, std::vector<std::string>> font = {
      {'a', {"...", "...", ".##", "#.#", "#.#", ".##", "...", "..."}},
      {'e', {"...", "...", ".#.", "###", "#..", ".##", "...", "..."}},
      {'f', {".##", ".#.", "###", ".#.", ".#.", ".#.", "...", "..."}},
      {'h', {"#..", "#..", "##.", "#.#", "#.#", "#.#", "...", "..."}},
      {'l', {"#", "#", "#", "#", "#", "#", ".", "."}},
      {'p', {"...", "...", "##.", "#.#", "#.#", "##.", "#..", "#.."}},
      {'r', {"..", "..", "#.#", "##.", "#..", "#..", "...", "..."}},
      {'s', {"...", "...", ".##", "#..", "..#", "##.", "...", "..."}},
      {'t', {"...", ".#.", "###", ".#.", ".#.", "..#", "...", "..."}},
      {'u', {"...", "...", "#.#", "#.#", "#.#", ".##", "...", "..."}},
  };
  return font;
}

// Capitals and digits, five rows.
const std::map<char, std::vector<std::string>>& smallCapitals() {
  static const std::map<char, std::vector<std::string>> font = {
      {'1', {".#.", "##.", ".#.", ".#.", "###"}},      {'A', {".#.", "#.#", "###", "#.#", "#.#"}},
      {'D', {"##.", "#.#", "#.#", "#.#", "##."}},      {'E', {"###", "#..", "##.", "#..", "###"}},
      {'G', {".##", "#..", "#.#", "#.#", ".##"}},      {'I', {"#", "#", "#", "#", "#"}},
      {'L', {"#..", "#..", "#..", "#..", "###"}},      {'M', {"#...#", "##.##", "#.#.#", "#...#", "#...#"}},
      {'O', {".##.", "#..#", "#..#", "#..#", ".##."}}, {'P', {"##.", "#.#", "##.", "#..", "#.."}},
      {'R', {"##.", "#.#", "##.", "#.#", "#.#"}},      {'U', {"#.#", "#.#", "#.#", "#.#", "###"}},
      {'Y', {"#.#", "#.#", ".#.", ".#.", ".#."}},
  };
  return font;
}

int pixelTextWidth(const std::map<char, std::vector<std::string>>& font, const std::string& text, int gap = 1) {
  int w = 0;
  for (char c : text) {
    auto it = font.find(c);
    w += (it == font.end() ? 2 : int(it->second[0].size())) + gap;
  }
  return text.empty() ? 0 : w - gap;
}

// Draws `text` with its top-left at (x, y). A glow colour (alpha > 0) is laid
// under each pixel first, spread one pixel around it.
void drawPixelText(QPainter& p, const std::map<char, std::vector<std::string>>& font, int x, int y,
                   const std::string& text, const QColor& ink, const QColor& glow = QColor(0, 0, 0, 0), int gap = 1) {
  for (int pass = glow.alpha() > 0 ? 0 : 1; pass < 2; ++pass) {
    int cx = x;
    for (char c : text) {
      auto it = font.find(c);
      if (it == font.end()) {
        cx += 2 + gap;
        continue;
      }
      const auto& rows = it->second;
      for (size_t r = 0; r < rows.size(); ++r)
        for (size_t col = 0; col < rows[r].size(); ++col)
          if (rows[r][col] == '#') {
            if (pass == 0)
              p.fillRect(cx + int(col) - 1, y + int(r) - 1, 3, 3, glow);
            else
              p.fillRect(cx + int(col), y + int(r), 1, 1, ink);
          }
      cx += int(rows[0].size()) + gap;
    }
  }
}

QFont makeFont(const char* family, int pixelSize, bool bold = false, double spacing = 0) {
  QFont f(QString::fromLatin1(family));
  f.setPixelSize(pixelSize);
  f.setBold(bold);
  f.setHintingPreference(QFont::PreferFullHinting);
  f.setStyleStrategy(QFont::PreferAntialias);
  if (spacing != 0) f.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
  if (QFontInfo(f).family() != f.family())
    std::fprintf(stderr, "kuv_make_skin: font %s not found, using %s\n", family,
                 QFontInfo(f).family().toLocal8Bit().constData());
  return f;
}

// ---------------------------------------------------------------- buttons

enum class Symbol { Open, Play, Pause, Stop, Previous, Next, Repeat, RepeatTrack, Shuffle, Minimise, Close, Pin };

void symbolPath(QPainter& p, Symbol s, const QColor& c) {
  QPainterPath path;
  auto tri = [&path](QPointF a, QPointF b, QPointF t) {
    path.moveTo(a);
    path.lineTo(b);
    path.lineTo(t);
    path.closeSubpath();
  };
  switch (s) {
    case Symbol::Open:
      tri({5, 11}, {14, 11}, {9.5, 6.5});
      path.addRect(5, 12, 9, 2);
      break;
    case Symbol::Play:
      tri({7, 6}, {7, 15}, {13.5, 10.5});
      break;
    case Symbol::Pause:
      path.addRect(5, 6, 3, 9);
      path.addRect(11, 6, 3, 9);
      break;
    case Symbol::Stop:
      path.addRect(6, 7, 7, 7);
      break;
    case Symbol::Previous:
      path.addRect(4, 7, 2, 7);
      tri({10, 7}, {10, 14}, {6, 10.5});
      tri({14, 7}, {14, 14}, {10, 10.5});
      break;
    case Symbol::Next:
      tri({5, 7}, {5, 14}, {9, 10.5});
      tri({9, 7}, {9, 14}, {13, 10.5});
      path.addRect(13, 7, 2, 7);
      break;
    case Symbol::Minimise:
      path.addRect(4, 8, 8, 2);
      break;
    default:
      break;
  }
  path.setFillRule(Qt::WindingFill);
  p.fillPath(path, c);
}

// The close cross: two strokes through `centre`.
void drawCross(QPainter& p, QPointF centre, double half, const QColor& c, double width) {
  p.setPen(QPen(c, width, Qt::SolidLine, Qt::FlatCap));
  p.drawLine(centre + QPointF(-half, -half), centre + QPointF(half, half));
  p.drawLine(centre + QPointF(half, -half), centre + QPointF(-half, half));
  p.setPen(Qt::NoPen);
}

// A push-pin leaning to the right, its needle at the lower left.
void drawPin(QPainter& p, const QColor& c) {
  p.save();
  p.translate(7.4, 7.9);
  p.scale(0.8, 0.8);
  p.rotate(45);
  QPainterPath pin;
  pin.addRoundedRect(QRectF(-2.6, -6.2, 5.2, 2.2), 0.8, 0.8);  // head
  pin.addRect(QRectF(-1.4, -4.2, 2.8, 3.6));                   // body
  pin.addRoundedRect(QRectF(-3.6, -0.8, 7.2, 1.8), 0.6, 0.6);  // collar
  pin.setFillRule(Qt::WindingFill);
  p.fillPath(pin, c);
  p.setPen(QPen(mix(c, kOutline, 0.25), 1.0, Qt::SolidLine, Qt::FlatCap));
  p.drawLine(QPointF(0, 1.0), QPointF(0, 5.6));  // needle
  p.restore();
}

void drawSymbol(QPainter& p, Symbol s, bool pressed, bool lit) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  if (pressed) p.translate(1, 1);
  const QColor glow = withAlpha(s == Symbol::Close ? kAlarm : kLed, 70);
  const QColor ink = pressed ? (s == Symbol::Close ? kAlarm : kLed) : kInk;
  const QColor shadow(0, 0, 0, 150);
  switch (s) {
    case Symbol::Repeat:
    case Symbol::RepeatTrack:
    case Symbol::Shuffle: {
      // On (lit): the word glows green, pressed or not. Repeating the track
      // adds a "1" after the word.
      const bool repeat = s != Symbol::Shuffle;
      const bool one = s == Symbol::RepeatTrack;
      const std::string word = repeat ? "repeat" : "shuffle";
      const int oneWidth = one ? pixelTextWidth(smallCapitals(), "1") + 2 : 0;
      const int x = (30 - pixelTextWidth(smallLetters(), word) - oneWidth) / 2;
      const int y = repeat ? 2 : 1;  // x-height on rows 4-7 of "repeat", 3-6 of "shuffle"
      const QColor wordInk = lit ? kLed : ink;
      const QColor halo = lit ? withAlpha(kLed, pressed ? 90 : 70) : pressed ? withAlpha(kLed, 38) : QColor(0, 0, 0, 0);
      if (!pressed) drawPixelText(p, smallLetters(), x + 1, y + 1, word, shadow);
      drawPixelText(p, smallLetters(), x, y, word, wordInk, halo);
      if (one) {
        const int ox = x + pixelTextWidth(smallLetters(), word) + 2;
        if (!pressed) drawPixelText(p, smallCapitals(), ox + 1, 4, "1", shadow);
        drawPixelText(p, smallCapitals(), ox, 3, "1", QColor(255, 255, 255), halo);
      }
      break;
    }
    case Symbol::Close: {
      const QPointF centre(9, 9);
      if (pressed) {
        drawCross(p, centre, 3.5, glow, 3.4);
      } else {
        drawCross(p, centre + QPointF(0.8, 0.8), 3.5, shadow, 1.8);
      }
      drawCross(p, centre, 3.5, ink, 1.8);
      break;
    }
    case Symbol::Pin: {
      // Unlit it is plain metal; lit it glows.
      if (lit) {
        for (const QPointF& o : {QPointF(-1, 0), QPointF(1, 0), QPointF(0, -1), QPointF(0, 1)}) {
          p.translate(o);
          drawPin(p, withAlpha(kLed, 50));
          p.translate(-o);
        }
      } else if (!pressed) {
        p.translate(0.8, 0.8);
        drawPin(p, shadow);
        p.translate(-0.8, -0.8);
      }
      drawPin(p, lit ? kLed : pressed ? kDimInk : kInk);
      break;
    }
    default:
      if (pressed) {
        for (const QPointF& o : {QPointF(-1, 0), QPointF(1, 0), QPointF(0, -1), QPointF(0, 1)}) {
          p.translate(o);
          symbolPath(p, s, withAlpha(kLed, 45));
          p.translate(-o);
        }
      } else {
        p.translate(1, 1);
        symbolPath(p, s, shadow);
        p.translate(-1, -1);
      }
      symbolPath(p, s, ink);
      break;
  }
  p.restore();
}

// One look of a button: `under` is what lies beneath its box (it shows where
// the button's shape does not cover the box), `shape` is in box coordinates.
QImage buttonLook(const QImage& under, const Shape& shape, Symbol symbol, bool pressed, bool lit, uint32_t seed) {
  QImage img = under.convertToFormat(QImage::Format_RGB32);
  if (pressed)
    brush(img, shape, QColor(30, 34, 37), QColor(44, 48, 52), seed, 2.5);
  else
    brush(img, shape, QColor(96, 103, 109), QColor(56, 61, 66), seed, 3.5);
  if (pressed)
    bevel(img, shape, 0.10, 0.50, true);
  else
    bevel(img, shape, 0.32, 0.40);
  QPainter p(&img);
  drawSymbol(p, symbol, pressed, lit);
  return img;
}

// ---------------------------------------------------------------- the main window

struct Looks {
  QImage closeN, closeP, minN, minP, aotOffN, aotOffP, aotOnN, aotOnP;
  struct Transport {
    int x, y, w, h;  // box in the window
    int sheetY;      // row of the normal look in transport.png
    Symbol symbol;
    QImage normal, pressed;
  };
  std::vector<Transport> transport;
  // Repeat and Shuffle while on: normal and pressed.
  QImage repeatListN, repeatListP, repeatTrackN, repeatTrackP, shuffleOnN, shuffleOnP;
};

const Shape kCloseShape = [](int x, int y) {  // in its 25 x 25 box
  return x >= 0 && y >= 0 && ((x < 16 && y < 25) || (x < 25 && y < 16));
};

std::vector<Looks::Transport> transportButtons() {
  return {
      {28, 84, 19, 21, 0, Symbol::Open, {}, {}},      {48, 84, 19, 21, 0, Symbol::Play, {}, {}},
      {72, 84, 19, 21, 0, Symbol::Pause, {}, {}},     {95, 84, 19, 21, 0, Symbol::Stop, {}, {}},
      {118, 84, 19, 21, 0, Symbol::Previous, {}, {}}, {138, 84, 19, 21, 0, Symbol::Next, {}, {}},
      {158, 84, 30, 12, 0, Symbol::Repeat, {}, {}},   {158, 96, 30, 9, 14, Symbol::Shuffle, {}, {}},
  };
}

void drawTitlePlate(QImage& img) {
  const Shape plate = rectShape(106, 6, 250, 18);
  fillShape(img, plate, QRect(106, 6, 145, 13), QColor(27, 31, 34), QColor(17, 20, 22));
  recess(img, insideMain, plate, QRect(104, 4, 149, 17), {0.55}, {0.22});
  QPainter p(&img);
  p.setRenderHint(QPainter::TextAntialiasing);
  const QFont f = makeFont("DejaVu Sans", 12, true, 1.5);
  p.setFont(f);
  const QFontMetrics fm(f);
  const int baseline = 6 + (13 + fm.capHeight()) / 2;
  p.setPen(QColor(0, 0, 0, 160));
  p.drawText(112, baseline + 1, QStringLiteral("KUV"));
  p.setPen(QColor(226, 232, 235));
  p.drawText(111, baseline, QStringLiteral("KUV"));
  const int afterName = 111 + fm.horizontalAdvance(QStringLiteral("KUV")) + 4;
  // A lit divider, then the tagline in small print.
  p.fillRect(afterName, 9, 1, 7, withAlpha(kLed, 60));
  p.fillRect(afterName, 10, 1, 5, kLed);
  drawPixelText(p, smallCapitals(), afterName + 6, 10, "MPEG AUDIO PLAYER", kDimInk, QColor(0, 0, 0, 0), 2);
  // Power lamp at the far end.
  p.fillRect(241, 10, 5, 5, withAlpha(kLed, 40));
  p.fillRect(242, 11, 3, 3, kLed);
  p.fillRect(242, 11, 1, 1, QColor(200, 255, 220));
}

void drawDisplayWell(QImage& img) {
  // Rim (one near-black pixel) around the glass, then two rings of wall.
  const Shape rim = rectShape(27, 27, 174, 80);
  fillShape(img, rim, QRect(27, 27, 148, 54), QColor(3, 5, 4), QColor(3, 5, 4));
  fillShape(img,
            rectShape(kuv::kLedPanel.left, kuv::kLedPanel.top, kuv::kLedPanel.right - 1, kuv::kLedPanel.bottom - 1),
            QRect(kuv::kLedPanel.left, kuv::kLedPanel.top, kuv::kLedPanel.right - kuv::kLedPanel.left,
                  kuv::kLedPanel.bottom - kuv::kLedPanel.top),
            kGlass, kGlass);
  recess(img, insideMain, rim, QRect(24, 24, 154, 60), {0.62, 0.30}, {0.30, 0.12});
}

void drawTray(QImage& img) {
  // The transport buttons sit in a shallow tray that shows in the gaps.
  const Shape tray = rectShape(28, 84, 187, 104);
  fillShape(img, tray, QRect(28, 84, 160, 21), QColor(20, 23, 25), QColor(14, 16, 18));
  recess(img, insideMain, tray, QRect(26, 82, 164, 25), {0.45}, {0.22});
}

void drawDial(QImage& img) {
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  const QPointF c(kuv::kDialCentreX, kuv::kDialCentreY);

  // Drop shadow of the bezel on the plate.
  p.setBrush(QColor(0, 0, 0, 70));
  p.drawEllipse(c + QPointF(0.8, 1.0), 32.2, 32.2);
  // Bezel: outline, then a ring of turned metal lit from the top left.
  p.setBrush(kOutline);
  p.drawEllipse(c, 31.6, 31.6);
  QConicalGradient bezel(c, 135);
  bezel.setColorAt(0.0, QColor(168, 176, 182));
  bezel.setColorAt(0.2, QColor(104, 111, 117));
  bezel.setColorAt(0.5, QColor(34, 37, 40));
  bezel.setColorAt(0.8, QColor(104, 111, 117));
  bezel.setColorAt(1.0, QColor(168, 176, 182));
  p.setBrush(bezel);
  p.drawEllipse(c, 30.6, 30.6);
  // Concentric turning marks on the bezel.
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(255, 255, 255, 18), 0.6));
  p.drawEllipse(c, 29.6, 29.6);
  p.setPen(QPen(QColor(0, 0, 0, 30), 0.6));
  p.drawEllipse(c, 28.7, 28.7);
  p.setPen(Qt::NoPen);
  // The tick ring's well, its lip in shadow at the top left.
  QConicalGradient lip(c, 135);
  lip.setColorAt(0.0, QColor(6, 7, 8));
  lip.setColorAt(0.5, QColor(70, 76, 81));
  lip.setColorAt(1.0, QColor(6, 7, 8));
  p.setBrush(lip);
  p.drawEllipse(c, 27.6, 27.6);
  p.setBrush(kWell);
  p.drawEllipse(c, 26.8, 26.8);

  // Sixty ticks, every fifth one long and brighter.
  for (int i = 0; i < 60; ++i) {
    const double a = (90.0 - i * 6.0) * std::numbers::pi / 180.0;
    const bool major = i % 5 == 0;
    const double r0 = major ? 18.6 : 21.4, r1 = 25.6;
    const QPointF dir(std::cos(a), -std::sin(a));
    p.setPen(QPen(major ? QColor(150, 159, 165) : QColor(82, 90, 96), major ? 1.35 : 1.0, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(c + dir * r0, c + dir * r1);
  }
  p.setPen(Qt::NoPen);

  // The centre disc: a dark cap, slightly domed.
  p.setBrush(QColor(5, 6, 7));
  p.drawEllipse(c, 16.0, 16.0);
  QRadialGradient cap(c + QPointF(-4.5, -5.5), 20);
  cap.setColorAt(0.0, QColor(54, 59, 64));
  cap.setColorAt(0.55, QColor(28, 31, 34));
  cap.setColorAt(1.0, QColor(15, 17, 19));
  p.setBrush(cap);
  p.drawEllipse(c, 15.0, 15.0);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(255, 255, 255, 34), 0.8));
  p.drawArc(QRectF(c.x() - 14.2, c.y() - 14.2, 28.4, 28.4), 70 * 16, 110 * 16);
}

void drawVents(QImage& img) {
  // Three short slots under the dial, in the same spirit as the slot at the top.
  for (int i = 0; i < 3; ++i) {
    const int y = 94 + i * 5;
    const Shape slot = rectShape(202, y, 226, y + 1);
    fillShape(img, slot, QRect(202, y, 25, 2), QColor(6, 7, 8), QColor(12, 14, 15));
    recess(img, insideMain, slot, QRect(200, y - 2, 29, 6), {0.35}, {0.25});
  }
}

void drawScrew(QImage& img, QPointF c) {
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 110));
  p.drawEllipse(c + QPointF(0.4, 0.5), 2.6, 2.6);
  QRadialGradient head(c + QPointF(-0.8, -0.9), 3.2);
  head.setColorAt(0, QColor(150, 158, 164));
  head.setColorAt(1, QColor(52, 57, 62));
  p.setBrush(head);
  p.drawEllipse(c, 2.2, 2.2);
  p.setPen(QPen(QColor(14, 16, 18), 0.9));
  p.drawLine(c + QPointF(-1.5, 1.5), c + QPointF(1.5, -1.5));
}

// Background (with every button in its normal look) and all looks.
struct MainArtwork {
  QImage background;
  Looks looks;
};

MainArtwork paintMain() {
  QImage base(256, 113, QImage::Format_RGB32);
  base.fill(Qt::black);
  brush(base, insideMain, kMetalTop, kMetalBottom, 0x4b5556u, 4.0);
  bevel(base, insideMain, 0.30, 0.45);

  drawTitlePlate(base);
  drawDisplayWell(base);
  drawTray(base);
  // Seats of the window buttons.
  const Shape closeAt = [](int x, int y) { return kCloseShape(x - 4, y - 4); };
  recess(base, insideMain, closeAt, QRect(2, 2, 29, 29), {0.40}, {0.18});
  recess(base, insideMain, rectShape(4, 33, 19, 46), QRect(2, 31, 20, 18), {0.40}, {0.18});
  recess(base, insideMain, rectShape(4, 51, 19, 65), QRect(2, 49, 20, 19), {0.40}, {0.18});
  drawDial(base);
  drawVents(base);

  Looks L;
  const QImage closeUnder = base.copy(4, 4, 25, 25);
  L.closeN = buttonLook(closeUnder, kCloseShape, Symbol::Close, false, false, 11);
  L.closeP = buttonLook(closeUnder, kCloseShape, Symbol::Close, true, false, 12);
  const Shape minShape = rectShape(0, 0, 15, 13), aotShape = rectShape(0, 0, 15, 14);
  const QImage minUnder = base.copy(4, 33, 16, 14), aotUnder = base.copy(4, 51, 16, 15);
  L.minN = buttonLook(minUnder, minShape, Symbol::Minimise, false, false, 21);
  L.minP = buttonLook(minUnder, minShape, Symbol::Minimise, true, false, 22);
  L.aotOffN = buttonLook(aotUnder, aotShape, Symbol::Pin, false, false, 31);
  L.aotOffP = buttonLook(aotUnder, aotShape, Symbol::Pin, true, false, 32);
  L.aotOnN = buttonLook(aotUnder, aotShape, Symbol::Pin, false, true, 33);
  L.aotOnP = buttonLook(aotUnder, aotShape, Symbol::Pin, true, true, 34);

  L.transport = transportButtons();
  uint32_t seed = 100;
  for (auto& b : L.transport) {
    const QImage under = base.copy(b.x, b.y, b.w, b.h);
    const Shape shape = rectShape(0, 0, b.w - 1, b.h - 1);
    b.normal = buttonLook(under, shape, b.symbol, false, false, seed++);
    b.pressed = buttonLook(under, shape, b.symbol, true, false, seed++);
  }
  for (const auto& b : L.transport) {
    const QImage under = base.copy(b.x, b.y, b.w, b.h);
    const Shape shape = rectShape(0, 0, b.w - 1, b.h - 1);
    if (b.symbol == Symbol::Repeat) {
      L.repeatListN = buttonLook(under, shape, Symbol::Repeat, false, true, 140);
      L.repeatListP = buttonLook(under, shape, Symbol::Repeat, true, true, 141);
      L.repeatTrackN = buttonLook(under, shape, Symbol::RepeatTrack, false, true, 142);
      L.repeatTrackP = buttonLook(under, shape, Symbol::RepeatTrack, true, true, 143);
    } else if (b.symbol == Symbol::Shuffle) {
      L.shuffleOnN = buttonLook(under, shape, Symbol::Shuffle, false, true, 144);
      L.shuffleOnP = buttonLook(under, shape, Symbol::Shuffle, true, true, 145);
    }
  }

  QImage bg = base;
  {
    QPainter p(&bg);
    p.drawImage(4, 4, L.closeN);
    p.drawImage(4, 33, L.minN);
    p.drawImage(4, 51, L.aotOffN);
    for (const auto& b : L.transport) p.drawImage(b.x, b.y, b.normal);
  }
  // Outside the shape is cut away; keep it the mask's outside colour.
  for (int y = 0; y < bg.height(); ++y)
    for (int x = 0; x < bg.width(); ++x)
      if (!insideMain(x, y)) bg.setPixel(x, y, 0xff000000u);
  return {bg, L};
}

QImage windowButtonSheet(const Looks& L) {
  QImage sheet(60, 60, QImage::Format_RGB32);
  sheet.fill(kNeutral);
  QPainter p(&sheet);
  // Minimise first: its right column is shared with the left column of the
  // always-on-top looks, and both are plain outline.
  p.drawImage(0, 0, L.minN);
  p.drawImage(0, 15, L.minP);
  p.drawImage(15, 0, L.aotOffN);
  p.drawImage(15, 15, L.aotOffP);
  p.drawImage(15, 30, L.aotOnN);
  p.drawImage(15, 45, L.aotOnP);
  p.drawImage(30, 0, L.closeN);
  p.drawImage(30, 30, L.closeP);
  return sheet;
}

QImage transportSheet(const Looks& L) {
  QImage sheet(226, 104, QImage::Format_RGB32);
  sheet.fill(kNeutral);
  QPainter p(&sheet);
  for (const auto& b : L.transport) {
    p.drawImage(b.x - 25, b.sheetY, b.normal);
    p.drawImage(b.x - 25, b.sheetY + 26, b.pressed);
  }
  // The lit looks in the rows below (kLitLooksRow 52; repeat-track at x 168).
  p.drawImage(133, 52, L.repeatListN);
  p.drawImage(133, 78, L.repeatListP);
  p.drawImage(168, 52, L.repeatTrackN);
  p.drawImage(168, 78, L.repeatTrackP);
  p.drawImage(133, 66, L.shuffleOnN);
  p.drawImage(133, 92, L.shuffleOnP);
  return sheet;
}

// ---------------------------------------------------------------- shaded window

// The Close button keeps its place (4, 4) in the shaded bar and is drawn
// over it by the program: the bar leaves x 0..30 to its seat and puts the
// lamp and the name to its right.
QImage paintWinshade() {
  QImage img(246, 17, QImage::Format_RGB32);
  img.fill(Qt::black);
  brush(img, insideShade, QColor(78, 84, 90), QColor(46, 50, 55), 0x5ade5u, 4.0);
  bevel(img, insideShade, 0.30, 0.45);
  // The Close button's seat, as in the normal window.
  recess(img, insideShade, rectShape(4, 4, 28, 16), QRect(2, 2, 29, 15), {0.40}, {0.18});
  // A groove between the button and the rest of the bar.
  {
    QPainter p(&img);
    p.fillRect(32, 3, 1, 11, QColor(0, 0, 0, 110));
    p.fillRect(33, 3, 1, 11, QColor(255, 255, 255, 28));
  }
  // The small box: a recessed lamp window.
  const Shape box = rectShape(38, 5, 46, 11);
  fillShape(img, box, QRect(38, 5, 9, 7), kGlass, kGlass);
  recess(img, insideShade, box, QRect(36, 3, 13, 11), {0.55}, {0.22});
  QPainter p(&img);
  p.fillRect(41, 7, 3, 3, withAlpha(kLed, 70));
  p.fillRect(42, 8, 1, 1, kLed);
  p.setRenderHint(QPainter::TextAntialiasing);
  const QFont f = makeFont("DejaVu Sans", 10, true, 1.0);
  p.setFont(f);
  const int baseline = (17 + QFontMetrics(f).capHeight()) / 2;
  p.setPen(QColor(0, 0, 0, 160));
  p.drawText(54, baseline + 1, QStringLiteral("KUV"));
  p.setPen(QColor(222, 228, 232));
  p.drawText(53, baseline, QStringLiteral("KUV"));
  p.end();
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      if (!insideShade(x, y)) img.setPixel(x, y, 0xff000000u);
  return img;
}

// ---------------------------------------------------------------- emblem, splash, icons

// The program's emblem: a bezelled dial whose lit arc runs over a gauge of
// ticks, with a waveform on its cap. Detail drops with size.
void drawEmblem(QPainter& p, QPointF c, double R) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  const double px = std::max(1.0, R / 24.0);  // a "pixel" at this size
  const bool ticks = R >= 20, wave = R >= 11;

  p.setBrush(kOutline);
  p.drawEllipse(c, R, R);
  QConicalGradient bezel(c, 135);
  bezel.setColorAt(0.0, QColor(176, 184, 190));
  bezel.setColorAt(0.2, QColor(108, 115, 121));
  bezel.setColorAt(0.5, QColor(36, 39, 42));
  bezel.setColorAt(0.8, QColor(108, 115, 121));
  bezel.setColorAt(1.0, QColor(176, 184, 190));
  p.setBrush(bezel);
  p.drawEllipse(c, R - px, R - px);

  const double well = R * 0.80;
  QConicalGradient lip(c, 135);
  lip.setColorAt(0.0, QColor(6, 7, 8));
  lip.setColorAt(0.5, QColor(74, 80, 85));
  lip.setColorAt(1.0, QColor(6, 7, 8));
  p.setBrush(lip);
  p.drawEllipse(c, well, well);
  p.setBrush(kWell);
  p.drawEllipse(c, well - px * 0.9, well - px * 0.9);

  // The gauge: 270 degrees from the lower left, lit for its first 70 %.
  const double start = 225, sweep = 270, lit = 0.7;
  const double rArc = well * 0.80, arcWidth = well * 0.22;
  QRectF arcBox(c.x() - rArc, c.y() - rArc, 2 * rArc, 2 * rArc);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(withAlpha(kLed, 55), arcWidth * 1.9, Qt::SolidLine, Qt::FlatCap));
  p.drawArc(arcBox, int(start * 16), int(-sweep * lit * 16));
  if (ticks) {
    const int n = R >= 48 ? 37 : 19;
    for (int i = 0; i < n; ++i) {
      const double f = double(i) / (n - 1);
      const double a = (start - sweep * f) * std::numbers::pi / 180.0;
      const QPointF dir(std::cos(a), -std::sin(a));
      const bool major = i % (n == 37 ? 4 : 3) == 0;
      const bool on = f <= lit + 1e-9;
      const double r0 = rArc - arcWidth * (major ? 0.75 : 0.45), r1 = rArc + arcWidth * 0.5;
      const QColor col =
          on ? (major ? QColor(180, 255, 205) : kLed) : (major ? QColor(140, 149, 155) : QColor(78, 86, 92));
      p.setPen(QPen(col, px * (major ? 1.6 : 1.1), Qt::SolidLine, Qt::FlatCap));
      p.drawLine(c + dir * r0, c + dir * r1);
    }
  } else {
    p.setPen(QPen(QColor(60, 66, 71), arcWidth, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(arcBox, int((start - sweep * lit) * 16), int(-sweep * (1 - lit) * 16));
    p.setPen(QPen(kLed, arcWidth, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(arcBox, int(start * 16), int(-sweep * lit * 16));
  }
  p.setPen(Qt::NoPen);

  // The cap, with a waveform across it.
  const double capR = well * (ticks ? 0.56 : 0.52);
  p.setBrush(QColor(4, 5, 6));
  p.drawEllipse(c, capR, capR);
  QRadialGradient cap(c + QPointF(-capR * 0.3, -capR * 0.35), capR * 1.3);
  cap.setColorAt(0.0, QColor(58, 64, 69));
  cap.setColorAt(0.6, QColor(26, 29, 32));
  cap.setColorAt(1.0, QColor(12, 14, 16));
  p.setBrush(cap);
  p.drawEllipse(c, capR - px * 0.8, capR - px * 0.8);
  if (wave) {
    QPainterPath path;
    const double w = capR * 0.72, h = capR * 0.50;
    for (int i = 0; i <= 96; ++i) {
      const double t = double(i) / 96;
      const double env = std::sin(t * std::numbers::pi);
      const double y = -h * env * std::sin(t * 2 * std::numbers::pi * 2.5) * (0.55 + 0.45 * std::cos(t * 7.0));
      const QPointF pt(c.x() - w + 2 * w * t, c.y() + y);
      if (i == 0)
        path.moveTo(pt);
      else
        path.lineTo(pt);
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(withAlpha(kLed, 70), std::max(2.0, capR * 0.18), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(path);
    p.setPen(QPen(kLed, std::max(1.0, capR * 0.075), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(path);
  } else {
    p.setBrush(kLed);
    p.drawEllipse(c, capR * 0.35, capR * 0.35);
  }
  p.restore();
}

QImage paintSplash() {
  const int w = 144, h = 291;
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(Qt::black);
  const Shape all = rectShape(0, 0, w - 1, h - 1);
  brush(img, all, QColor(70, 76, 82), QColor(34, 37, 41), 0x5b1a5u, 4.0);
  bevel(img, all, 0.30, 0.45);

  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);

  // Name.
  const QFont name = makeFont("DejaVu Sans", 46, true, 3.0);
  p.setFont(name);
  const QFontMetrics nm(name);
  const QString kuv = QStringLiteral("KUV");
  const int nameW = nm.horizontalAdvance(kuv) - 3;
  const int nameX = (w - nameW) / 2, nameBase = 66;
  p.setPen(QColor(0, 0, 0, 150));
  p.drawText(nameX + 1, nameBase + 2, kuv);
  QLinearGradient metal(0, nameBase - nm.capHeight(), 0, nameBase);
  metal.setColorAt(0, QColor(240, 244, 246));
  metal.setColorAt(0.55, QColor(196, 204, 209));
  metal.setColorAt(1, QColor(150, 158, 164));
  p.setPen(QPen(QBrush(metal), 1));
  p.drawText(nameX, nameBase, kuv);
  // A lit rule under the name.
  p.setPen(Qt::NoPen);
  p.fillRect(QRect(30, 78, 84, 3), withAlpha(kLed, 45));
  p.fillRect(QRect(31, 79, 82, 1), kLed);

  // Emblem in a recessed round seat.
  const QPointF c(72, 148);
  p.setBrush(QColor(0, 0, 0, 80));
  p.drawEllipse(c + QPointF(1.2, 1.6), 53, 53);
  drawEmblem(p, c, 52);

  // Words.
  const QFont words = makeFont("DejaVu Sans", 12, false, 0.4);
  p.setFont(words);
  const QString line = QStringLiteral("MPEG Audio Player");
  const int lineW = QFontMetrics(words).horizontalAdvance(line);
  p.setPen(QColor(0, 0, 0, 140));
  p.drawText((w - lineW) / 2 + 1, 228, line);
  p.setPen(QColor(214, 220, 224));
  p.drawText((w - lineW) / 2, 227, line);

  // Version on a small LED plate.
  const QRect plate(42, 243, 60, 19);
  p.fillRect(plate.adjusted(-1, -1, 1, 1), QColor(10, 12, 13));
  p.fillRect(plate, kGlass);
  p.fillRect(QRect(plate.left() - 1, plate.bottom() + 2, plate.width() + 2, 1), QColor(255, 255, 255, 40));
  const QFont ver = makeFont("DejaVu Sans Mono", 12, true);
  p.setFont(ver);
  const QString version = QStringLiteral("0.94");
  const int verW = QFontMetrics(ver).horizontalAdvance(version);
  const int verBase = plate.top() + (plate.height() + QFontMetrics(ver).capHeight()) / 2;
  p.setPen(withAlpha(kLed, 60));
  for (const QPoint& o : {QPoint(-1, 0), QPoint(1, 0), QPoint(0, -1), QPoint(0, 1)})
    p.drawText(plate.left() + (plate.width() - verW) / 2 + o.x(), verBase + o.y(), version);
  p.setPen(kLed);
  p.drawText(plate.left() + (plate.width() - verW) / 2, verBase, version);
  p.end();

  drawScrew(img, QPointF(8.5, 8.5));
  drawScrew(img, QPointF(w - 8.5, 8.5));
  drawScrew(img, QPointF(8.5, h - 8.5));
  drawScrew(img, QPointF(w - 8.5, h - 8.5));
  return img;
}

QImage paintIcon(int size) {
  QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  const double margin = size <= 16 ? 0.5 : size / 32.0;
  const double R = size / 2.0 - margin;
  if (size >= 32) {  // a soft drop shadow
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    QRadialGradient shadow(QPointF(size / 2.0, size / 2.0 + size / 40.0), R + margin);
    shadow.setColorAt(0.85, QColor(0, 0, 0, 90));
    shadow.setColorAt(1.0, QColor(0, 0, 0, 0));
    p.setBrush(shadow);
    p.drawEllipse(QPointF(size / 2.0, size / 2.0 + size / 40.0), R + margin, R + margin);
  }
  drawEmblem(p, QPointF(size / 2.0, size / 2.0), R);
  return img;
}

// ---------------------------------------------------------------- file-type icons

enum class DocumentKind { Audio, Playlist };

// A pair of beamed notes filling `box`.
QPainterPath notePath(const QRectF& box) {
  QPainterPath path;
  path.setFillRule(Qt::WindingFill);
  const double w = box.width(), h = box.height();
  const double rx = w * 0.19, ry = rx * 0.74, stem = std::max(1.0, w * 0.085), beam = std::max(1.2, h * 0.16);
  const QPointF heads[2] = {QPointF(box.left() + rx, box.bottom() - ry - h * 0.04),
                            QPointF(box.right() - rx - stem * 0.3, box.bottom() - ry - h * 0.16)};
  const double beamTop[2] = {box.top() + h * 0.10, box.top()};
  for (int i = 0; i < 2; ++i) {
    QPainterPath head;
    head.addEllipse(QPointF(0, 0), rx, ry);
    path.addPath(QTransform().translate(heads[i].x(), heads[i].y()).rotate(-22).map(head));
    const double x = heads[i].x() + rx * 0.92 - stem;
    path.addRect(QRectF(x, beamTop[i], stem, heads[i].y() - beamTop[i]));
  }
  const double x0 = heads[0].x() + rx * 0.92 - stem, x1 = heads[1].x() + rx * 0.92;
  QPolygonF bar;
  bar << QPointF(x0, beamTop[0]) << QPointF(x1, beamTop[1]) << QPointF(x1, beamTop[1] + beam)
      << QPointF(x0, beamTop[0] + beam);
  path.addPolygon(bar);
  path.closeSubpath();
  return path;
}

// A page with its top right corner folded over, in the skin's dark greys,
// with the lit rule of the splash along its head and a green glyph: notes
// for an audio file, the lines of a list (the first one lit, as the playing
// entry) for a playlist. Large sizes carry the program's emblem as a badge.
QImage paintDocumentIcon(int size, DocumentKind kind) {
  QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  const double s = size;
  const double px = std::max(1.0, s / 32.0);  // a "pixel" at this size
  const double left = std::floor(s * 0.12) + 0.5 * px, right = std::ceil(s * 0.88) - 0.5 * px;
  const double top = 0.5 * px + (size >= 32 ? px : 0), bottom = s - 0.5 * px - (size >= 32 ? px : 0);
  const double fold = std::round((right - left) * 0.32);

  QPainterPath page;
  page.moveTo(left, top);
  page.lineTo(right - fold, top);
  page.lineTo(right, top + fold);
  page.lineTo(right, bottom);
  page.lineTo(left, bottom);
  page.closeSubpath();
  if (size >= 32) {  // a soft drop shadow
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 70));
    p.drawPath(page.translated(px * 0.8, px * 1.2));
  }
  QLinearGradient face(0, top, 0, bottom);
  face.setColorAt(0.0, QColor(72, 82, 77));
  face.setColorAt(1.0, QColor(31, 37, 34));
  p.setPen(QPen(kOutline, px, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  p.setBrush(face);
  p.drawPath(page);
  if (size >= 32) {  // light from the upper left, along the inside of the edge
    p.setPen(QPen(QColor(255, 255, 255, 38), px, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(left + px, bottom - px), QPointF(left + px, top + px));
    p.drawLine(QPointF(left + px, top + px), QPointF(right - fold - px * 0.5, top + px));
  }

  QPainterPath flap;
  flap.moveTo(right - fold, top);
  flap.lineTo(right - fold, top + fold);
  flap.lineTo(right, top + fold);
  flap.closeSubpath();
  if (size >= 32) {  // the flap's shadow on the page
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 60));
    p.drawPath(flap.translated(-px, px));
  }
  QLinearGradient flapShade(right - fold, top + fold, right - fold * 0.5, top + fold * 0.5);
  flapShade.setColorAt(0.0, QColor(138, 148, 144));
  flapShade.setColorAt(1.0, QColor(88, 97, 93));
  p.setPen(QPen(kOutline, px, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  p.setBrush(flapShade);
  p.drawPath(flap);

  // The lit rule: the program's green mark along the head of the page.
  const double inset = std::max(2.0 * px, (right - left) * 0.14);
  const double ruleY = top + std::max(2.0 * px, fold * 0.45);
  const QRectF rule(left + inset, ruleY, right - fold - inset - (left + inset) - px, std::max(1.0, px * 1.2));
  p.setPen(Qt::NoPen);
  if (size >= 32) p.fillRect(rule.adjusted(-px, -px, px, px), withAlpha(kLed, 50));
  p.fillRect(rule, kLed);

  const bool badge = size >= 64;
  const QRectF area(left + inset, top + fold + px * (size >= 32 ? 2.5 : 1.5), right - left - 2 * inset,
                    bottom - top - fold - px * (size >= 32 ? 2.5 : 1.5) - inset);
  if (kind == DocumentKind::Audio) {
    const double side = std::min(area.width(), area.height()) * (badge ? 0.78 : 0.92);
    const QRectF box(area.left() + (badge ? 0 : (area.width() - side) / 2), area.top() + (badge ? 0 : px), side,
                     side * 0.95);
    const QPainterPath notes = notePath(box);
    if (size >= 32)
      p.strokePath(notes, QPen(withAlpha(kLed, 60), px * 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.fillPath(notes, kLed);
  } else {
    const int rows = size >= 48 ? 5 : size >= 32 ? 4 : 3;
    const double pitch = (badge ? area.height() * 0.74 : area.height()) / rows;
    const double thick = std::max(1.0, std::round(pitch * 0.36));
    const double lengths[] = {1.0, 0.72, 0.88, 0.56, 0.80};
    for (int i = 0; i < rows; ++i) {
      const double y = std::round(area.top() + pitch * i + (pitch - thick) / 2);
      const QColor ink = i == 0 ? kLed : mix(kLed, QColor(31, 37, 34), 0.45);
      const double dot = size >= 32 ? thick : 0;
      if (dot > 0) p.fillRect(QRectF(area.left(), y, dot, thick), ink);
      const double x = area.left() + (dot > 0 ? dot + thick : 0);
      const double span = (badge && i >= rows - 2 ? area.width() * 0.55 : area.right() - x) * lengths[i];
      if (i == 0 && size >= 32) p.fillRect(QRectF(x - px, y - px, span + 2 * px, thick + 2 * px), withAlpha(kLed, 50));
      p.fillRect(QRectF(x, y, std::round(span), thick), ink);
    }
  }
  if (badge) {
    const double R = s * 0.20;
    const QPointF c(right - R * 0.92, bottom - R * 0.92);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 60));
    p.drawEllipse(c + QPointF(px * 0.4, px * 0.6), R + px * 0.3, R + px * 0.3);
    drawEmblem(p, c, R);
  }
  return img;
}

// ---------------------------------------------------------------- output

class Writer {
 public:
  explicit Writer(QDir dir) : dir_(std::move(dir)) {}
  void save(const QImage& img, const char* name, int w, int h, QImage::Format format) {
    if (img.width() != w || img.height() != h) {
      std::fprintf(stderr, "kuv_make_skin: %s is %dx%d, must be %dx%d\n", name, img.width(), img.height(), w, h);
      ok_ = false;
      return;
    }
    const QString path = dir_.filePath(QString::fromLatin1(name));
    if (!img.convertToFormat(format).save(path, "PNG")) {
      std::fprintf(stderr, "kuv_make_skin: cannot write %s\n", path.toLocal8Bit().constData());
      ok_ = false;
      return;
    }
    std::printf("%s %dx%d\n", name, w, h);
  }
  bool ok() const { return ok_; }

 private:
  QDir dir_;
  bool ok_ = true;
};

}  // namespace

int main(int argc, char** argv) {
  // Nothing is shown: the offscreen platform is enough and needs no display.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: kuv_make_skin OUT_DIR\n");
    return 2;
  }
  QDir dir(QString::fromLocal8Bit(argv[1]));
  if (!dir.mkpath(QStringLiteral("."))) {
    std::fprintf(stderr, "kuv_make_skin: cannot create %s\n", argv[1]);
    return 1;
  }
  Writer out(dir);
  const QImage::Format rgb = QImage::Format_RGB888, argb = QImage::Format_ARGB32;

  const MainArtwork main = paintMain();
  out.save(main.background, "background.png", 256, 113, rgb);
  out.save(windowButtonSheet(main.looks), "window_buttons.png", 60, 60, rgb);
  out.save(transportSheet(main.looks), "transport.png", 226, 104, rgb);
  out.save(maskImage(256, 113, insideMain), "mask_normal.png", 256, 113, rgb);
  out.save(paintWinshade(), "winshade.png", 246, 17, rgb);
  out.save(maskImage(246, 17, insideShade), "mask_winshade.png", 246, 17, rgb);
  out.save(paintSplash(), "splash.png", 144, 291, rgb);
  for (int size : {16, 32, 48, 64, 128, 256}) {
    const std::string name = "icon-" + std::to_string(size) + ".png";
    out.save(paintIcon(size), name.c_str(), size, size, argb);
    const std::string audio = "type-audio-" + std::to_string(size) + ".png";
    out.save(paintDocumentIcon(size, DocumentKind::Audio), audio.c_str(), size, size, argb);
    const std::string playlist = "type-playlist-" + std::to_string(size) + ".png";
    out.save(paintDocumentIcon(size, DocumentKind::Playlist), playlist.c_str(), size, size, argb);
  }
  return out.ok() ? 0 : 1;
}
