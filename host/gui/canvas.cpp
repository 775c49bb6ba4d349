#include "host/gui/canvas.h"

#include "host/gui/raster.h"

namespace nuv {

void Canvas::clear(uint32_t pixel) {
  // Whatever was drawn before is covered: forget it.
  ops_.clear();
  text_.clear();
  clear_ = pixel;
}

void Canvas::fill_rect(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t pixel) {
  if (x <= 0 && y <= 0 && int64_t{x} + w >= width() && int64_t{y} + h >= height() && w > 0 &&
      h > 0) {
    clear(pixel);
    return;
  }
  add(Op{Op::Kind::Fill, x, y, w, h, pixel});
}

void Canvas::outline_rect(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t pixel) {
  add(Op{Op::Kind::Outline, x, y, w, h, pixel});
}

void Canvas::draw_text(const PsfFont& font, int32_t x, int32_t y, uint32_t pixel,
                       std::string_view text) {
  // Text waiting to be drawn is all in one font (a window's font never changes).
  if (font_ != nullptr && font_ != &font) flush();
  font_ = &font;
  auto at = static_cast<int32_t>(text_.size());
  text_.append(text);
  add(Op{Op::Kind::Text, x, y, at, static_cast<int32_t>(text.size()), pixel});
}

void Canvas::flush() const {
  if (clear_) fill_surface(surface_, *clear_);
  clear_.reset();
  for (const Op& op : ops_) {
    switch (op.kind) {
      case Op::Kind::Fill:
        nuv::fill_rect(surface_, op.x, op.y, op.w, op.h, op.pixel);
        break;
      case Op::Kind::Outline:
        nuv::outline_rect(surface_, op.x, op.y, op.w, op.h, op.pixel);
        break;
      case Op::Kind::Text:
        nuv::draw_text(
            surface_, *font_, op.x, op.y, op.pixel,
            std::string_view(text_).substr(static_cast<size_t>(op.w), static_cast<size_t>(op.h)));
        break;
    }
  }
  ops_.clear();
  text_.clear();
}

const Surface& Canvas::pixels() const {
  if (clear_ || !ops_.empty()) flush();
  return surface_;
}

}  // namespace nuv
