// The compositor through the GUI services, called by the runtime's own gui_* wrappers in the
// guest: clipping, text and its font, refusals, windows, frames, the event queue, host
// failures, scenarios and key codes; and the canvas that defers the drawing.
#include "host/gui/compositor.h"

#include <SDL2/SDL_keycode.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "host/base/guest_errors.h"
#include "host/gui/canvas.h"
#include "host/gui/psf_font.h"
#include "host/gui/raster.h"
#include "host/gui/scenario.h"
#include "host/gui/sdl_display.h"
#include "tests/harness/guest.h"

namespace nuv::test {
namespace {

constexpr int32_t kW = 64;
constexpr int32_t kH = 48;
constexpr uint32_t kWhite = rgb(255, 255, 255);

using Pixels = std::vector<std::pair<int32_t, int32_t>>;

uint32_t u(int32_t v) { return static_cast<uint32_t>(v); }
// A colour as programs store it: red, green, blue and a zero byte.
int32_t word(uint32_t pixel) {
  return int32_t(red_of(pixel) | green_of(pixel) << 8 | blue_of(pixel) << 16);
}

// The GUI services as a program calls them, through the runtime's wrappers.
struct Gui {
  Guest g;
  int32_t h;
  explicit Gui(GuiConfig config = {.width = kW, .height = kH})
      : g("whole_runtime", GuestOptions{.gui = std::move(config)}), h(create()) {}

  Compositor& compositor() { return g.kernel().compositor(); }
  int32_t create(const char* title = "Title", const char* subtitle = "second") {
    return g.calli("gui_create", {g.str(title), g.str(subtitle)});
  }
  int32_t attach(const char* title, const char* subtitle) {
    return g.calli("gui_attach", {g.str(title), g.str(subtitle)});
  }
  int32_t fill(int32_t x, int32_t y, int32_t w, int32_t hh, uint32_t pixel, int32_t on = 1) {
    int32_t rect[5] = {x, y, w, hh, word(pixel)};
    return g.calli("gui_fill_rect", {u(on), g.put(rect, sizeof rect)});
  }
  int32_t clear(uint32_t pixel) {
    int32_t colour = word(pixel);
    return g.calli("gui_clear", {u(h), g.put(&colour, 4)});
  }
  int32_t text(int32_t x, int32_t y, std::string_view line) {
    int32_t record[4] = {x, y, word(kWhite), int32_t(g.str(line))};
    return g.calli("gui_draw_text", {u(h), g.put(record, sizeof record)});
  }
  int32_t present(int32_t on) { return g.calli("gui_present", {u(on)}); }
  const Surface& shown() { return *compositor().presented(h); }
  // The white pixels after one drawing on a black frame, as offsets from (ox, oy).
  Pixels painted(std::function<void()> draw, int32_t ox = 0, int32_t oy = 0) {
    clear(0);
    draw();
    present(h);
    Pixels out;
    for (int32_t y = 0; y < kH; ++y) {
      for (int32_t x = 0; x < kW; ++x) {
        if (shown().at(x, y) == kWhite) out.emplace_back(x - ox, y - oy);
      }
    }
    return out;
  }
};

// INT_MIN + INT_MAX reaches x = -1; no sum of two 32-bit numbers may wrap.
TEST(Compositor, FillRectPaintsExactlyTheClippedRectangleForAnyNumbers) {
  struct Case {
    int32_t x, y, w, h;
  } cases[] = {
      {0, 0, kW, kH},  {10, 5, 7, 3},        {-10, -10, 20, 20},        {60, 40, 100, 100},
      {10, 10, -5, 5}, {10, 10, 5, INT_MIN}, {INT_MIN, 0, INT_MAX, 10}, {0, 47, INT_MAX, INT_MAX},
  };
  Gui gui;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << "," << c.y << " " << c.w << "x" << c.h);
    Pixels want;
    for (int32_t y = 0; y < kH; ++y) {
      for (int32_t x = 0; x < kW; ++x) {
        if (c.x <= x && x < int64_t{c.x} + c.w && c.y <= y && y < int64_t{c.y} + c.h)
          want.emplace_back(x, y);
      }
    }
    EXPECT_EQ(gui.painted([&] { EXPECT_EQ(gui.fill(c.x, c.y, c.w, c.h, kWhite), 0); }), want);
  }
  int32_t outline[5] = {2, 3, 5, 4, word(kWhite)};
  Pixels border = gui.painted([&] {
    gui.g.call("gui_outline_rect", {u(gui.h), gui.g.put(outline, sizeof outline)});
  });
  EXPECT_EQ(border.size(), 2u * 5 + 2u * 2);
  EXPECT_EQ(border.front(), (std::pair{2, 3}));
  EXPECT_EQ(border.back(), (std::pair{6, 6}));
}

// Text is anchored at its top-left corner, one 8 x 14 glyph per byte, mapped through the
// font's Latin-1 table, and clipped at the edges however far away it starts.
TEST(Compositor, TextUsesTheFontAndIsClipped) {
  Gui gui;
  auto glyph = [&](std::string_view text, int32_t x = 0, int32_t y = 0) {
    return gui.painted([&] { gui.text(x, y, text); }, x, y);
  };
  Pixels a = glyph("A");
  ASSERT_FALSE(a.empty());
  for (auto [x, y] : a) EXPECT_TRUE(x >= 0 && x < 8 && y >= 0 && y < 14) << x << "," << y;
  // Whole at the first two places (a line at height - 14 shows whole), clipped at the others.
  for (auto [x, y] : {std::pair{3, 5},
                      {kW - 8, kH - 14},
                      {-4, -7},
                      {kW - 3, kH - 5},
                      {INT_MIN, 0},
                      {INT_MAX, INT_MAX}}) {
    Pixels visible;
    for (auto [ax, ay] : a) {
      if (int64_t{x} + ax >= 0 && int64_t{x} + ax < kW && int64_t{y} + ay >= 0 &&
          int64_t{y} + ay < kH)
        visible.emplace_back(ax, ay);
    }
    EXPECT_EQ(glyph("A", x, y), visible) << "at " << x << "," << y;
  }
  EXPECT_TRUE(glyph(" ").empty());
  EXPECT_NE(glyph("\xE9"), glyph("?")) << "the font's own table maps Latin-1";
  Pixels second;
  for (auto [x, y] : glyph("AB")) {
    if (x >= 8) second.emplace_back(x - 8, y);
  }
  EXPECT_EQ(second, glyph("B")) << "one glyph per byte, 8 pixels apart";
  EXPECT_EQ(gui.painted([&] { gui.text(0, 0, "\nA"); }, 0, 14), a) << "a newline: 14 rows lower";
  int32_t metrics[2] = {0, 0};
  uint32_t m = gui.g.put(metrics, 8);
  EXPECT_EQ(gui.g.calli("gui_get_font_metrics", {u(gui.h), m}), 0);
  EXPECT_EQ(gui.g.u32(m), 8u);
  EXPECT_EQ(gui.g.u32(m + 4), 14u);
}

TEST(Compositor, WindowsTitlesAndFrames) {
  Gui gui;
  EXPECT_EQ(gui.compositor().window_title(gui.h), "Title \u2014 second");
  for (int32_t i = 2; i < Compositor::kMaxWindows; ++i) EXPECT_EQ(gui.create(), i);
  EXPECT_EQ(gui.create(), err::kEMFILE);
  EXPECT_EQ(gui.g.calli("gui_set_title", {3, gui.g.str("renamed")}), 0);
  EXPECT_EQ(gui.compositor().window_title(3), "renamed \u2014 second");
  // Attaching gives the display's own window, again and again; Latin-1 becomes UTF-8.
  EXPECT_EQ(gui.attach("Again", "x"), Compositor::kDisplayHandle);
  EXPECT_EQ(gui.attach("Caf\xE9", "\xB5s"), Compositor::kDisplayHandle);
  EXPECT_EQ(gui.compositor().window_title(0), "Caf\u00e9 \u2014 \u00b5s");
  EXPECT_EQ(gui.compositor().shown_handle(), Compositor::kDisplayHandle);
  // Drawing shows only after a present.
  EXPECT_EQ(gui.g.calli("gui_begin", {u(gui.h)}), 0);
  gui.clear(rgb(200, 0, 0));
  gui.present(gui.h);
  gui.clear(rgb(0, 0, 200));
  EXPECT_EQ(gui.shown().at(5, 5), rgb(200, 0, 0));
  gui.present(gui.h);
  EXPECT_EQ(gui.shown().at(5, 5), rgb(0, 0, 200));
}

TEST(Compositor, PollingStoresNoMoreThanTheCallerAllowsAndLosesNothing) {
  GuiConfig config{.width = kW, .height = kH};
  config.scenario.events = {{0, pointer_event(11, 22, 1)}, {0, key_event('z')}};
  Gui gui(config);
  uint32_t record = gui.g.put(std::vector<uint8_t>(24, 0xAA).data(), 24);
  auto poll = [&](uint32_t addr, uint32_t room) {
    return gui.g.calli("nuvrelos_syscall", {SVC_gui_poll_event, u(gui.h), addr, room});
  };
  auto words = [&](int n) {
    std::vector<int32_t> w(n);
    std::memcpy(w.data(), gui.g.read(record, 4 * n).data(), 4 * n);
    return w;
  };
  EXPECT_EQ(poll(record, 0), err::kEINVAL);
  EXPECT_EQ(poll(0x10, 20), err::kEFAULT);
  // Neither refusal took the event: a room of 8 bytes gets its first two words only.
  EXPECT_EQ(poll(record, 8), 1);
  const int32_t kept = int32_t(0xAAAAAAAA);
  EXPECT_EQ(words(6), (std::vector<int32_t>{GUI_EVENT_POINTER, 11, kept, kept, kept, kept}));
  EXPECT_EQ(poll(record, 1000), 1);
  EXPECT_EQ(words(5), (std::vector<int32_t>{GUI_EVENT_KEY, 'z', 0, 0, 0}));
  EXPECT_EQ(gui.g.calli("gui_warp_mouse", {u(gui.h), 30, 40}), 0);  // queued headless
  EXPECT_EQ(poll(record, 20), 1);
  EXPECT_EQ(words(3), (std::vector<int32_t>{GUI_EVENT_POINTER, 30, 40}));
  EXPECT_EQ(poll(record, 20), 0);
  EXPECT_EQ(gui.g.calli("gui_wait_event", {u(gui.h), record}), 0) << "headless: nobody to wait for";
}

TEST(Compositor, AScreenshotThatCannotBeSavedEndsTheRunWithAMessage) {
  GuiConfig config{.width = kW, .height = kH, .screenshot_dir = "/nonexistent/shots"};
  config.scenario.screenshots = {0};
  Gui gui(config);
  RunResult r = gui.g.call_result("gui_present", {u(gui.h)});
  EXPECT_EQ(r.end, RunResult::End::Stopped);
  EXPECT_EQ(r.stop.cause, RunStop::Cause::HostFailure);
  EXPECT_NE(r.message.find("cannot save the screenshot of frame 0"), std::string::npos)
      << r.message;
}

// A scenario by hand: events in frame order (within a frame, the file's), keys by name, letter
// or number, screenshots sorted once each. Its recording reads back as the same events, each
// key written in its plainest form.
TEST(Scenario, ParsesAndRecordsEventsInFrameOrderAndNamesMistakes) {
  auto s = parse_scenario(R"({"screenshots": [5, 1, 5],
    "events": [{"frame": 2, "key": "q"}, {"frame": 1, "key": "Escape"}, {"frame": 3, "key": "Space"},
               {"frame": 2, "pointer": {"x": -3, "y": 4, "buttons": 1}}, {"frame": 0, "key": 17},
               {"frame": 0, "key": "Q"}, {"frame": 1, "key": 233},
               {"frame": 3, "pointer": {"x": 1, "y": 2}}]})");
  EXPECT_EQ(s.screenshots, (std::vector<uint32_t>{1, 5}));
  auto words = [](const std::vector<ScenarioEvent>& events) {
    std::vector<int32_t> out;  // frame, type and words 1 to 3 of each
    for (const auto& e : events) {
      out.insert(out.end(),
                 {int32_t(e.frame), e.event.type, e.event.word1, e.event.word2, e.event.word3});
    }
    return out;
  };
  EXPECT_EQ(words(s.events), (std::vector<int32_t>{0, 1, 17,  0, 0, 0, 1, 'Q', 0, 0, 1, 1, 27, 0, 0,
                                                   1, 1, 233, 0, 0, 2, 1, 'q', 0, 0, 2, 2, -3, 4, 1,
                                                   3, 1, 32,  0, 0, 3, 2, 1,   2, 0}));
  nlohmann::json doc = recorded_scenario(s.events, 320, 200, 99);
  nlohmann::json written = nlohmann::json::array();
  for (const auto& e : doc["events"])
    written.push_back(e.contains("key") ? e["key"] : e["pointer"]);
  EXPECT_EQ(written.dump(), R"([17,"Q","Escape",233,"q",{"buttons":1,"x":-3,"y":4},"Space",)"
                            R"({"buttons":0,"x":1,"y":2}])");
  Scenario back = parse_scenario(doc.dump());
  EXPECT_EQ(words(back.events), words(s.events));
  EXPECT_EQ(back.width, 320);
  EXPECT_EQ(back.height, 200);
  EXPECT_EQ(back.frame_limit, 99u);
  EXPECT_FALSE(parse_scenario(recorded_scenario({}, 640, 360, 0).dump()).frame_limit.has_value());
  struct Case {
    const char *json, *message;
  } cases[] = {
      {R"({"sise": [1, 2]})", "unknown member \"sise\""},
      {R"({"size": [0, 10]})", "size[0]: must lie between 1 and 4096"},
      {R"({"events": [{"frame": -1, "key": "q"}]})", "events[0].frame"},
      {R"({"events": [{"frame": 1, "key": "Esc"}]})", "unknown key \"Esc\""},
      {R"({"events": [{"frame": 1, "pointer": {"x": 1, "y": 4294967296}}]})", "pointer.y"},
      {R"({"frame_limit": 0})", "frame_limit: must lie between 1"},
      {R"({"fail": ["gui_crate"]})", "unknown failure \"gui_crate\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    try {
      parse_scenario(c.json);
      ADD_FAILURE() << "accepted";
    } catch (const ScenarioError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

// A tiny PSF1 font: every row of glyph g is g, so the glyph a byte maps to can be read back.
// Its table maps 'A', '?' and é (at 200, and again at 201, which loses) and a sequence at 202.
std::vector<uint8_t> psf1_font(bool with_table) {
  std::vector<uint8_t> f = {0x36, 0x04, uint8_t(with_table ? 2 : 0), 2};
  for (int g = 0; g < 256; ++g) f.insert(f.end(), {uint8_t(g), uint8_t(g)});
  auto add = [&](uint16_t v) { f.insert(f.end(), {uint8_t(v), uint8_t(v >> 8)}); };
  for (int g = 0; with_table && g < 256; ++g) {
    if (g == 'A' || g == '?') add(g);
    if (g == 200 || g == 201) add(0xE9);
    if (g == 202) f.insert(f.end(), {0xFE, 0xFF, 'B', 0});  // only in a sequence
    add(0xFFFF);
  }
  return f;
}

// A PSF2 font of four 10 x 3 glyphs (two bytes a row) with a UTF-8 table.
std::vector<uint8_t> psf2_font() {
  std::vector<uint8_t> f = {0x72, 0xB5, 0x4A, 0x86};
  for (uint32_t v : {0u, 32u, 1u, 4u, 6u, 3u, 10u}) f.insert(f.end(), {uint8_t(v), 0, 0, 0});
  for (int g = 0; g < 4; ++g) f.insert(f.end(), 6, uint8_t(g));
  f.insert(f.end(), {'x', 0xFF, '?', 0xFF, 0xC3, 0xA9, 0xFF, 0xFE, 'y', 0xFF});
  return f;
}

TEST(PsfFont, GlyphsFollowTheUnicodeTable) {
  PsfFont f = parse_psf_font(psf1_font(true));
  for (auto [byte, glyph] :
       {std::pair<uint8_t, uint8_t>{'A', 'A'}, {0xE9, 200}, {'?', 63}, {'B', 63}, {0, 63}}) {
    EXPECT_EQ(f.glyph(byte)[0], glyph) << int{byte};
  }
  EXPECT_EQ(parse_psf_font(psf1_font(false)).glyph(0xE9)[1], 0xE9) << "no table: bytes index";
  PsfFont wide = parse_psf_font(psf2_font());
  EXPECT_EQ(wide.width, 10);
  EXPECT_EQ(wide.glyph('x')[0], 0);
  EXPECT_EQ(wide.glyph(0xE9)[0], 2);
  EXPECT_EQ(wide.glyph('y')[0], 1) << "a sequence maps nothing; '?' stands in";

  auto cut = psf1_font(true), bad_psf2 = psf2_font();
  cut.resize(100);
  bad_psf2[20] = 7;  // bytes per glyph disagree with the size
  for (const auto& bytes : {std::vector<uint8_t>{}, {1, 2, 3, 4, 5}, cut, bad_psf2}) {
    EXPECT_THROW(parse_psf_font(bytes), FontError);
  }
}

// Deferred drawing must give exactly the pixels of drawing at once: every sequence below is
// drawn both ways and compared, including looks at the pixels between operations, a fill that
// covers the whole canvas (it stands in for a clear), more operations than may wait, and text
// in two fonts.
struct Step {
  enum Kind { Clear, Fill, Outline, Text, Look } kind;
  int32_t x = 0, y = 0, w = 0, h = 0;
  uint32_t pixel = 0;
  std::string text = {};
  int font = 0;  // of two
};

std::vector<Step> many_fills(int count) {
  std::vector<Step> steps{{Step::Clear, 0, 0, 0, 0, 7}};
  for (int i = 0; i < count; ++i) {
    steps.push_back({Step::Fill, i % kW, (i / kW) % kH, 3, 2, static_cast<uint32_t>(i)});
  }
  return steps;
}

void draw(Surface& direct, Canvas& deferred, const PsfFont (&fonts)[2], const Step& s) {
  switch (s.kind) {
    case Step::Clear:
      fill_surface(direct, s.pixel);
      deferred.clear(s.pixel);
      break;
    case Step::Fill:
      fill_rect(direct, s.x, s.y, s.w, s.h, s.pixel);
      deferred.fill_rect(s.x, s.y, s.w, s.h, s.pixel);
      break;
    case Step::Outline:
      outline_rect(direct, s.x, s.y, s.w, s.h, s.pixel);
      deferred.outline_rect(s.x, s.y, s.w, s.h, s.pixel);
      break;
    case Step::Text:
      draw_text(direct, fonts[s.font], s.x, s.y, s.pixel, s.text);
      deferred.draw_text(fonts[s.font], s.x, s.y, s.pixel, s.text);
      break;
    case Step::Look:
      (void)deferred.pixels();
      break;
  }
}

TEST(Canvas, DeferredDrawingGivesThePixelsOfDrawingAtOnce) {
  struct Case {
    const char* name;
    std::vector<Step> steps;
  } cases[] = {
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
      {"a whole-width fill of no height draws nothing",
       {{Step::Clear, 0, 0, 0, 0, 1}, {Step::Fill, 0, 0, kW, 0, 2}, {Step::Fill, 0, 0, 0, kH, 2}}},
      {"a clear after a look", {{Step::Fill, 0, 0, 4, 4, 3}, {Step::Look}, {Step::Clear}}},
      {"text past every edge",
       {{Step::Text, -2, -1, 0, 0, 5, "xyz"}, {Step::Text, kW - 12, kH - 1, 0, 0, 6, "pq\nrs"}}},
      {"more operations than may wait", many_fills(static_cast<int>(Canvas::kMaxPending) * 2 + 5)},
      {"text in two fonts keeps each one's glyphs",
       {{Step::Text, 0, 0, 0, 0, 1, "ab"}, {Step::Text, 0, 4, 0, 0, 2, "ab", 1}}},
  };
  // Glyph g is the byte g in one font; the other maps most bytes to '?'.
  const PsfFont fonts[2] = {parse_psf_font(psf1_font(false)), parse_psf_font(psf1_font(true))};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Surface direct(kW, kH);
    Canvas deferred(kW, kH);
    for (const Step& step : c.steps) {
      draw(direct, deferred, fonts, step);
      ASSERT_LE(deferred.pending(), Canvas::kMaxPending);
    }
    EXPECT_EQ(deferred.pixels().pixels, direct.pixels);
    EXPECT_EQ(deferred.pending(), 0u);
  }
}

TEST(SdlDisplay, KeysBecomeTheCodesProgramsExpect) {
  const std::tuple<int32_t, uint32_t, int32_t> cases[] = {
      {SDLK_q, KMOD_NONE, 113},   {SDLK_q, KMOD_LSHIFT, 81},
      {SDLK_q, KMOD_CAPS, 81},    {SDLK_q, KMOD_RSHIFT | KMOD_CAPS, 113},
      {SDLK_q, KMOD_LCTRL, 17},   {SDLK_ESCAPE, KMOD_NONE, 27},
      {SDLK_LEFT, KMOD_NONE, -1},
  };
  for (auto [key, mod, code] : cases) EXPECT_EQ(gui_key_code(key, mod), code) << key << " " << mod;
}

}  // namespace
}  // namespace nuv::test
