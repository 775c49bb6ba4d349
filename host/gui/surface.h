// A picture the compositor draws into: 32-bit pixels 0x00RRGGBB, row by row, no padding.
#pragma once

#include <cstdint>
#include <vector>

namespace nuv {

struct Surface {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;

  Surface() = default;
  Surface(int32_t w, int32_t h, uint32_t fill = 0)
      : width(w), height(h), pixels(static_cast<size_t>(w) * static_cast<size_t>(h), fill) {}

  uint32_t at(int32_t x, int32_t y) const {
    return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
  }
  uint32_t* row(int32_t y) { return pixels.data() + static_cast<size_t>(y) * width; }
  const uint32_t* row(int32_t y) const { return pixels.data() + static_cast<size_t>(y) * width; }
};

constexpr uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) { return (r << 16) | (g << 8) | b; }
constexpr uint32_t red_of(uint32_t p) { return (p >> 16) & 0xFF; }
constexpr uint32_t green_of(uint32_t p) { return (p >> 8) & 0xFF; }
constexpr uint32_t blue_of(uint32_t p) { return p & 0xFF; }

}  // namespace nuv
