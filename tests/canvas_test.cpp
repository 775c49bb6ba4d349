// Deferred drawing must give exactly the pixels of drawing at once: every sequence below is
// drawn both ways and compared, including looks at the pixels between operations, a fill that
// covers the whole canvas (it stands in for a clear), more operations than may wait, and text
// in two fonts.
#include "host/gui/canvas.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <string_view>
#include <vector>

#include "host/gui/raster.h"

namespace nuv {
namespace {

constexpr int32_t kW = 40;
constexpr int32_t kH = 24;

// A font of 4 x 3 glyphs whose bits differ from byte to byte.
PsfFont small_font() {
  PsfFont f;
  f.width = 4;
  f.height = 3;
  f.bytes_per_row = 1;
  f.bytes_per_glyph = 3;
  f.glyph_count = 256;
  for (uint32_t g = 0; g < 256; ++g) {
    f.glyphs.push_back(static_cast<uint8_t>(g));
    f.glyphs.push_back(static_cast<uint8_t>(g << 4));
    f.glyphs.push_back(static_cast<uint8_t>(~g));
    f.glyph_of_byte[g] = g;
  }
  return f;
}

struct Step {
  enum Kind { Clear, Fill, Outline, Text, Look } kind;
  int32_t x = 0, y = 0, w = 0, h = 0;
  uint32_t pixel = 0;
  std::string text = {};
  int font = 0;  // of two
};

struct Case {
  const char* name;
  std::vector<Step> steps;
};

std::vector<Step> many_fills(int count) {
  std::vector<Step> steps{{Step::Clear, 0, 0, 0, 0, 7}};
  for (int i = 0; i < count; ++i) {
    steps.push_back({Step::Fill, i % kW, (i / kW) % kH, 3, 2, static_cast<uint32_t>(i)});
  }
  return steps;
}

// Drawing at once, called as a Canvas is.
struct Direct {
  Surface s{kW, kH};
  void clear(uint32_t pixel) { fill_surface(s, pixel); }
  void fill_rect(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t pixel) {
    nuv::fill_rect(s, x, y, w, h, pixel);
  }
  void outline_rect(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t pixel) {
    nuv::outline_rect(s, x, y, w, h, pixel);
  }
  void draw_text(const PsfFont& font, int32_t x, int32_t y, uint32_t pixel, std::string_view t) {
    nuv::draw_text(s, font, x, y, pixel, t);
  }
  const Surface& pixels() const { return s; }
};

template <class Target>
void draw(Target& t, const PsfFont (&fonts)[2], const Step& step) {
  switch (step.kind) {
    case Step::Clear:
      t.clear(step.pixel);
      break;
    case Step::Fill:
      t.fill_rect(step.x, step.y, step.w, step.h, step.pixel);
      break;
    case Step::Outline:
      t.outline_rect(step.x, step.y, step.w, step.h, step.pixel);
      break;
    case Step::Text:
      t.draw_text(fonts[step.font], step.x, step.y, step.pixel, step.text);
      break;
    case Step::Look:
      (void)t.pixels();
      break;
  }
}

TEST(Canvas, DeferredDrawingGivesThePixelsOfDrawingAtOnce) {
  const Case cases[] = {
      {"nothing drawn", {}},
      {"clear, fills, outline, text",
       {{Step::Clear, 0, 0, 0, 0, 1},
        {Step::Fill, 2, 3, 10, 5, 2},
        {Step::Outline, 1, 1, 20, 12, 3},
        {Step::Text, 5, 4, 0, 0, 4, "Ab\nc\xe9"}}},
      {"drawing on what an earlier look left",
       {{Step::Fill, 0, 0, 8, 8, 5}, {Step::Look}, {Step::Fill, 4, 4, 8, 8, 6}}},
      {"a whole-canvas fill hides what came before, not what comes after",
       {{Step::Fill, 3, 3, 5, 5, 9},
        {Step::Fill, -5, -5, kW + 10, kH + 10, 8},
        {Step::Fill, 1, 1, 2, 2, 7}}},
      {"a fill to the far edges of the 32-bit range",
       {{Step::Fill, INT_MIN, INT_MIN, INT_MAX, INT_MAX, 3},
        {Step::Fill, 0, 0, INT_MAX, INT_MAX, 4}}},
      {"a whole-width fill of no height draws nothing",
       {{Step::Clear, 0, 0, 0, 0, 1}, {Step::Fill, 0, 0, kW, 0, 2}, {Step::Fill, 0, 0, 0, kH, 2}}},
      {"a clear after a look", {{Step::Fill, 0, 0, 4, 4, 3}, {Step::Look}, {Step::Clear}}},
      {"text past every edge",
       {{Step::Text, -2, -1, 0, 0, 5, "xyz"}, {Step::Text, kW - 3, kH - 1, 0, 0, 6, "pq\nrs"}}},
      {"more operations than may wait", many_fills(static_cast<int>(Canvas::kMaxPending) * 2 + 5)},
      {"text in two fonts keeps each one's glyphs",
       {{Step::Text, 0, 0, 0, 0, 1, "ab"}, {Step::Text, 0, 4, 0, 0, 2, "ab", 1}}},
  };
  PsfFont fonts[2] = {small_font(), small_font()};
  for (auto& byte : fonts[1].glyphs) byte = static_cast<uint8_t>(~byte);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Direct direct;
    Canvas deferred(kW, kH);
    for (const Step& step : c.steps) {
      draw(direct, fonts, step);
      draw(deferred, fonts, step);
      ASSERT_LE(deferred.pending(), Canvas::kMaxPending);
    }
    EXPECT_EQ(deferred.pixels().pixels, direct.s.pixels);
    EXPECT_EQ(deferred.pending(), 0u);
  }
}

}  // namespace
}  // namespace nuv
