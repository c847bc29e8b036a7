// The shipped skin: bitmap sizes the drawing code relies on, and the window
// shapes its masks give.
#include <QImage>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/skin_buttons.h"
#include "ui/skin_region.h"

namespace kuv {
namespace {

QImage skinImage(const char* name) { return QImage(QString(KUV_SOURCE_DIR "/resources/skin/") + name); }

MaskImage maskOf(const QImage& image) {
  const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
  MaskImage m;
  m.width = rgb.width();
  m.height = rgb.height();
  for (int y = 0; y < m.height; ++y)
    for (int x = 0; x < m.width; ++x) m.pixels.push_back(rgb.pixel(x, y) & 0xFFFFFFu);
  return m;
}

TEST(SkinBitmaps, HaveTheSizesTheCodeDrawsFrom) {
  const struct {
    const char* name;
    int width, height;
  } sizes[] = {{"background.png", 256, 113}, {"winshade.png", 246, 17},     {"window_buttons.png", 60, 60},
               {"transport.png", 226, 104},  {"mask_normal.png", 256, 113}, {"mask_winshade.png", 246, 17},
               {"splash.png", 144, 291},     {"icon-256.png", 256, 256}};
  for (const auto& s : sizes) {
    const QImage image = skinImage(s.name);
    ASSERT_FALSE(image.isNull()) << s.name;
    EXPECT_EQ(image.width(), s.width) << s.name;
    EXPECT_EQ(image.height(), s.height) << s.name;
  }
}

TEST(SkinMasks, NormalShapeHasItsNotchHoleAndButtonColumn) {
  const SkinRegion r = buildRegion(maskOf(skinImage("mask_normal.png")), 10, 10);
  ASSERT_FALSE(r.rects.empty());
  EXPECT_LT(r.rects.size(), 2048u);
  EXPECT_EQ(r.bounds.top, 0);
  EXPECT_EQ(r.bounds.left, 0);
  EXPECT_LE(r.bounds.bottom, 113);
  EXPECT_GE(r.bounds.right, 255);
  EXPECT_TRUE(r.contains(10, 10));
  EXPECT_FALSE(r.contains(60, 3));   // the notch in the top edge
  EXPECT_FALSE(r.contains(60, 15));  // the closed slot
  EXPECT_TRUE(r.contains(60, 10));   // between them
  EXPECT_TRUE(r.contains(60, 25));
  EXPECT_TRUE(r.contains(150, 3));   // the title strip
  EXPECT_FALSE(r.contains(2, 100));  // the stepped lower-left corner
  EXPECT_TRUE(r.contains(10, 60));   // the window-button column
  EXPECT_FALSE(r.contains(0, 0));    // a rounded corner
  // Every button lies inside the shape.
  MouseState m;
  initSkinButtons(m);
  for (const SkinButton& b : m.buttons) {
    const SkinRect box = b.bounds();
    EXPECT_TRUE(r.contains(box.left, box.top) && r.contains(box.right - 1, box.bottom - 1));
  }
  // Equal rows merged: far fewer rectangles than rows with runs.
  EXPECT_LT(r.rects.size(), 60u);
}

TEST(SkinMasks, ShadeShapeIsARoundedBar) {
  const SkinRegion r = buildRegion(maskOf(skinImage("mask_winshade.png")), 10, 10);
  EXPECT_EQ(r.bounds, (SkinRect{0, 0, 246, 17}));
  EXPECT_EQ(r.rects, (std::vector<SkinRect>{
                         {3, 0, 243, 1}, {1, 1, 245, 3}, {0, 3, 246, 14}, {1, 14, 245, 16}, {3, 16, 243, 17}}));
  // Keyed on an outside pixel the shape turns inside out.
  const SkinRegion inverse = buildRegion(maskOf(skinImage("mask_winshade.png")), 0, 0);
  EXPECT_TRUE(inverse.contains(0, 0));
  EXPECT_FALSE(inverse.contains(10, 10));
}

// The shaded bar: the program paints the Close button over its corner, so
// the bar's own lamp and lettering must lie clear of it, or they come out
// half covered ("[X]UV").
TEST(SkinArt, ShadedBarKeepsItsLampAndNameClearOfTheCloseButton) {
  const QImage bar = skinImage("winshade.png").convertToFormat(QImage::Format_RGB32);
  MouseState m;
  initSkinButtons(m);
  const SkinButton& close = m.buttons[kButtonClose];
  int lettering = 0, lamp = 0, covered = 0;
  for (int y = 0; y < bar.height(); ++y)
    for (int x = 0; x < bar.width(); ++x) {
      const QRgb c = bar.pixel(x, y);
      const bool light = qRed(c) > 180 && qGreen(c) > 180 && qBlue(c) > 180;  // the name
      const bool green = qGreen(c) > 150 && qRed(c) < 120;                    // the lamp
      if (!light && !green) continue;
      lettering += light, lamp += green;
      covered += close.contains(x, y);
    }
  EXPECT_GT(lettering, 20);
  EXPECT_GT(lamp, 0);
  EXPECT_EQ(covered, 0);
}

// Repeat (off, list, track) and Shuffle (off, on) each look different,
// pressed or not, where the program takes the looks from.
TEST(SkinArt, RepeatAndShuffleLooksDifferByMode) {
  const QImage sheet = skinImage("transport.png").convertToFormat(QImage::Format_RGB32);
  MouseState m;
  initSkinButtons(m);
  for (bool pressed : {false, true}) {
    for (SkinButtonId id : {kButtonRepeat, kButtonShuffle}) {
      SkinButton b = m.buttons[id];
      b.pressed = pressed;
      const SkinRect box = b.bounds();
      std::vector<QImage> looks;
      for (int32_t repeat : {0, 1, 2})
        for (bool shuffle : {false, true}) {
          if ((id == kButtonRepeat && shuffle) || (id == kButtonShuffle && repeat != 0)) continue;
          const LookSource at = buttonLook(b, id, false, repeat, shuffle);
          looks.push_back(sheet.copy(at.x, at.y, box.right - box.left, box.bottom - box.top));
        }
      for (size_t i = 0; i < looks.size(); ++i)
        for (size_t j = i + 1; j < looks.size(); ++j)
          EXPECT_NE(looks[i], looks[j]) << id << " " << pressed << " " << i << j;
    }
  }
}

}  // namespace
}  // namespace kuv
