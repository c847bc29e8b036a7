// A window shape from a two-colour mask: rows of runs of the key colour,
// vertically merged where a run repeats the previous rectangle's edges.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kuv {

struct SkinRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
  bool contains(int32_t x, int32_t y) const { return x >= left && x < right && y >= top && y < bottom; }
  bool operator==(const SkinRect&) const = default;
};

// Pixels top row first, one colour value per pixel.
struct MaskImage {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;
  uint32_t at(int32_t x, int32_t y) const {
    return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
  }
};

struct SkinRegion {
  std::vector<SkinRect> rects;
  SkinRect bounds;  // union of the rectangles
  bool contains(int32_t x, int32_t y) const;
};

// The runs of the colour found at (keyX, keyY); a rectangle with the same
// left and right edges as the one stored last extends it down instead of
// being stored. An empty mask or a key point outside it gives no region.
SkinRegion buildRegion(const MaskImage& mask, int32_t keyX, int32_t keyY);

}  // namespace kuv
