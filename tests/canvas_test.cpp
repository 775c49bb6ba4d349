// Deferred drawing must give exactly the pixels of drawing at once: every sequence below is
// drawn both ways and compared, including looks at the pixels between operations, a fill that
// covers the whole canvas (it stands in for a clear), and more operations than may wait.
#include "host/gui/canvas.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
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

void draw(Surface& s, const PsfFont& font, const Step& step) {
  switch (step.kind) {
    case Step::Clear:
      fill_surface(s, step.pixel);
      break;
    case Step::Fill:
      fill_rect(s, step.x, step.y, step.w, step.h, step.pixel);
      break;
    case Step::Outline:
      outline_rect(s, step.x, step.y, step.w, step.h, step.pixel);
      break;
    case Step::Text:
      draw_text(s, font, step.x, step.y, step.pixel, step.text);
      break;
    case Step::Look:
      break;
  }
}

void draw(Canvas& c, const PsfFont& font, const Step& step) {
  switch (step.kind) {
    case Step::Clear:
      c.clear(step.pixel);
      break;
    case Step::Fill:
      c.fill_rect(step.x, step.y, step.w, step.h, step.pixel);
      break;
    case Step::Outline:
      c.outline_rect(step.x, step.y, step.w, step.h, step.pixel);
      break;
    case Step::Text:
      c.draw_text(font, step.x, step.y, step.pixel, step.text);
      break;
    case Step::Look:
      (void)c.pixels();
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
  };
  const PsfFont font = small_font();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Surface direct(kW, kH);
    Canvas deferred(kW, kH);
    for (const Step& step : c.steps) {
      draw(direct, font, step);
      draw(deferred, font, step);
      ASSERT_LE(deferred.pending(), Canvas::kMaxPending);
    }
    EXPECT_EQ(deferred.pixels().pixels, direct.pixels);
    EXPECT_EQ(deferred.pending(), 0u);
  }
}

TEST(Canvas, ASwapKeepsEachBuffersWaitingDrawing) {
  const PsfFont font = small_font();
  Canvas back(kW, kH), front(kW, kH);
  back.clear(1);
  back.draw_text(font, 0, 0, 2, "hi");
  std::swap(back, front);
  back.fill_rect(0, 0, 1, 1, 3);
  Surface expected(kW, kH, 1);
  draw_text(expected, font, 0, 0, 2, "hi");
  EXPECT_EQ(front.pixels().pixels, expected.pixels);
  EXPECT_EQ(back.pixels().at(0, 0), 3u);
  EXPECT_EQ(back.pixels().at(1, 0), 0u);
}

TEST(Canvas, TextInTwoFontsKeepsEachOnesGlyphs) {
  const PsfFont first = small_font();
  PsfFont second = small_font();
  for (auto& byte : second.glyphs) byte = static_cast<uint8_t>(~byte);
  Surface direct(kW, kH);
  Canvas deferred(kW, kH);
  draw_text(direct, first, 0, 0, 1, "ab");
  draw_text(direct, second, 0, 4, 2, "ab");
  deferred.draw_text(first, 0, 0, 1, "ab");
  deferred.draw_text(second, 0, 4, 2, "ab");
  EXPECT_EQ(deferred.pixels().pixels, direct.pixels);
}

}  // namespace
}  // namespace nuv
