// Drawing into a surface. Every shape is clipped to the surface; positions and sizes are any
// 32-bit values, worked out in 64 bits so nothing wraps.
#pragma once

#include <cstdint>
#include <string_view>

#include "host/gui/psf_font.h"
#include "host/gui/surface.h"

namespace nuv {

void fill_surface(Surface& s, uint32_t pixel);
// A width or height of 0 or less draws nothing.
void fill_rect(Surface& s, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t pixel);
// The one-pixel border of the same rectangle.
void outline_rect(Surface& s, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t pixel);
// Text anchored at its top-left corner; set glyph bits take the colour, the rest stays.
// A newline starts the next line one glyph height lower at x.
void draw_text(Surface& s, const PsfFont& font, int32_t x, int32_t y, uint32_t pixel,
               std::string_view text);

}  // namespace nuv
