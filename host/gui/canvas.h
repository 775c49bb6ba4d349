// A window buffer that keeps its drawing as a list of operations and rasterizes them only when
// its pixels are looked at (a display showing it, a screenshot, a test). A headless run that
// nobody watches then pays for recording a frame, not for painting it: a full-window clear
// alone writes 900 KB, more than a whole emulated frame costs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/gui/psf_font.h"
#include "host/gui/surface.h"

namespace nuv {

class Canvas {
 public:
  Canvas() = default;
  Canvas(int32_t width, int32_t height) : surface_(width, height) {}

  int32_t width() const { return surface_.width; }
  int32_t height() const { return surface_.height; }

  // The same drawing as host/gui/raster.h; the font must outlive the canvas.
  void clear(uint32_t pixel);
  void fill_rect(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t pixel);
  void outline_rect(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t pixel);
  void draw_text(const PsfFont& font, int32_t x, int32_t y, uint32_t pixel, std::string_view text);

  // The picture with everything drawn so far.
  const Surface& pixels() const;

  // Operations waiting to be drawn (for tests).
  size_t pending() const { return ops_.size() + (clear_ ? 1 : 0); }

  // Past this many waiting operations (or bytes of text) they are drawn at once, so a program
  // that never clears cannot pile them up.
  static constexpr size_t kMaxPending = 8192;
  static constexpr size_t kMaxPendingText = 1 << 20;

 private:
  struct Op {
    enum class Kind : uint8_t { Fill, Outline, Text } kind;
    int32_t x, y, w, h;  // Text: w and h are the text's offset and length in text_
    uint32_t pixel;
  };
  // Called for every fill of every frame: inline, and the rare flush out of line.
  void add(const Op& op) {
    ops_.push_back(op);
    if (ops_.size() >= kMaxPending || text_.size() >= kMaxPendingText) [[unlikely]]
      flush();
  }
  void flush() const;

  mutable Surface surface_;
  const PsfFont* font_ = nullptr;          // of the text waiting to be drawn
  mutable std::optional<uint32_t> clear_;  // a clear that comes before every op
  mutable std::vector<Op> ops_;
  mutable std::string text_;
};

}  // namespace nuv
