// The compositor through the GUI services, called by the runtime's own gui_* wrappers in the
// guest: windows, clipping, text, events, content size, frames, screenshots, scenarios, fonts.
#include "host/gui/compositor.h"

#include <SDL2/SDL_keycode.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "host/gui/png_file.h"
#include "host/gui/psf_font.h"
#include "host/gui/scenario.h"
#include "host/gui/sdl_display.h"
#include "host/kernel/errors.h"
#include "tests/harness/guest.h"

namespace nuv::test {
namespace {

constexpr int32_t kW = 64;
constexpr int32_t kH = 48;
constexpr uint32_t kBlack = 0;
constexpr uint32_t kWhite = rgb(255, 255, 255);

uint32_t u(int32_t v) { return static_cast<uint32_t>(v); }

GuiConfig small_config() {
  GuiConfig c;
  c.width = kW;
  c.height = kH;
  return c;
}

struct TempDir {
  std::filesystem::path path;
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "nuv-gui-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("no temp dir");
    path = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

// The GUI services as a program calls them, through the runtime's wrappers.
struct Gui {
  Guest g;
  explicit Gui(GuiConfig config = small_config())
      : g("whole_runtime", GuestOptions{.gui = std::move(config)}) {}

  Compositor& compositor() { return g.kernel().compositor(); }
  int32_t create(const char* title = "Title", const char* subtitle = "second") {
    return g.calli("gui_create", {g.str(title), g.str(subtitle)});
  }
  int32_t attach(const char* title = "Title", const char* subtitle = "second") {
    return g.calli("gui_attach", {g.str(title), g.str(subtitle)});
  }
  uint32_t rect(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t pixel) {
    int32_t words[5] = {x, y, w, h, 0};
    uint8_t color[4] = {static_cast<uint8_t>(red_of(pixel)), static_cast<uint8_t>(green_of(pixel)),
                        static_cast<uint8_t>(blue_of(pixel)), 0};
    std::memcpy(&words[4], color, 4);
    return g.put(words, sizeof words);
  }
  int32_t fill(int32_t h, int32_t x, int32_t y, int32_t w, int32_t hh, uint32_t pixel) {
    return g.calli("gui_fill_rect", {u(h), rect(x, y, w, hh, pixel)});
  }
  int32_t clear(int32_t h, uint32_t pixel) {
    uint8_t color[4] = {static_cast<uint8_t>(red_of(pixel)), static_cast<uint8_t>(green_of(pixel)),
                        static_cast<uint8_t>(blue_of(pixel)), 0};
    return g.calli("gui_clear", {u(h), g.put(color, 4)});
  }
  int32_t text(int32_t h, int32_t x, int32_t y, uint32_t pixel, std::string_view line) {
    struct {
      int32_t x, y;
      uint8_t color[4];
      uint32_t text;
    } record = {x,
                y,
                {static_cast<uint8_t>(red_of(pixel)), static_cast<uint8_t>(green_of(pixel)),
                 static_cast<uint8_t>(blue_of(pixel)), 0},
                g.str(line)};
    return g.calli("gui_draw_text", {u(h), g.put(&record, sizeof record)});
  }
  int32_t present(int32_t h) { return g.calli("gui_present", {u(h)}); }
  int32_t poll(int32_t h, uint32_t record) { return g.calli("gui_poll_event", {u(h), record}); }
  GuiEventRecord event_at(uint32_t record) {
    GuiEventRecord e;
    auto bytes = g.read(record, sizeof e);
    std::memcpy(&e, bytes.data(), sizeof e);
    return e;
  }
  const Surface& shown(int32_t h) { return *compositor().presented(h); }
  // Draws with one call and shows the result.
  const Surface& after(int32_t h, std::function<void()> draw) {
    clear(h, kBlack);
    draw();
    present(h);
    return shown(h);
  }
};

// Painted pixels (not kBlack) as offsets from an origin.
std::vector<std::pair<int32_t, int32_t>> painted(const Surface& s, int32_t ox = 0, int32_t oy = 0) {
  std::vector<std::pair<int32_t, int32_t>> out;
  for (int32_t y = 0; y < s.height; ++y) {
    for (int32_t x = 0; x < s.width; ++x) {
      if (s.at(x, y) != kBlack) out.emplace_back(x - ox, y - oy);
    }
  }
  return out;
}

TEST(Compositor, FillRectPaintsExactlyTheClippedRectangleForAnyNumbers) {
  struct Case {
    int32_t x, y, w, h;
  };
  const Case cases[] = {
      {0, 0, kW, kH},
      {10, 5, 7, 3},
      {-10, -10, 20, 20},
      {60, 40, 100, 100},
      {63, 47, 1, 1},
      {kW, 0, 1, 1},
      {0, kH, 5, 5},
      {10, 10, 0, 5},
      {10, 10, -5, 5},
      {10, 10, 5, INT32_MIN},
      {-5, -5, INT32_MAX, INT32_MAX},
      {INT32_MAX, 0, INT32_MAX, 10},
      {INT32_MIN, 0, INT32_MAX, 10},  // reaches x = -1
      {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX},
      {INT32_MIN, 3, -1, 4},
      {0, 47, INT32_MAX, INT32_MAX},
      {INT32_MAX - 1, INT32_MAX - 1, 2, 2},
  };
  Gui gui;
  int32_t h = gui.create();
  ASSERT_GE(h, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << "," << c.y << " " << c.w << "x" << c.h);
    EXPECT_EQ(gui.clear(h, kBlack), 0);
    EXPECT_EQ(gui.fill(h, c.x, c.y, c.w, c.h, kWhite), 0);
    ASSERT_EQ(gui.present(h), 0);
    const Surface& s = gui.shown(h);
    size_t wrong = 0;
    for (int32_t py = 0; py < kH; ++py) {
      for (int32_t px = 0; px < kW; ++px) {
        bool inside = c.x <= px && px < int64_t{c.x} + c.w && c.y <= py && py < int64_t{c.y} + c.h;
        wrong += (s.at(px, py) == kWhite) != inside;
      }
    }
    EXPECT_EQ(wrong, 0u);
  }
}

TEST(Compositor, OutlineRectDrawsTheBorderOnly) {
  Gui gui;
  int32_t h = gui.create();
  const Surface& s = gui.after(h, [&] {
    EXPECT_EQ(gui.g.calli("gui_outline_rect", {u(h), gui.rect(2, 3, 5, 4, kWhite)}), 0);
  });
  EXPECT_EQ(painted(s).size(), 2u * 5 + 2u * 2);
  EXPECT_EQ(s.at(2, 3), kWhite);
  EXPECT_EQ(s.at(6, 6), kWhite);
  EXPECT_EQ(s.at(4, 4), kBlack);
}

TEST(Compositor, TextIsAnchoredAtItsTopLeftCornerAndClipped) {
  Gui gui;
  int32_t h = gui.create();
  auto at_origin = painted(gui.after(h, [&] { gui.text(h, 0, 0, kWhite, "A"); }));
  ASSERT_FALSE(at_origin.empty());
  for (auto [x, y] : at_origin) {
    EXPECT_TRUE(x >= 0 && x < 8 && y >= 0 && y < 14) << x << "," << y;
  }
  struct Case {
    int32_t x, y;
  };
  // A glyph is 14 rows high: a line at height - 14 shows whole.
  const Case placed[] = {{3, 5}, {8, kH - 14}, {kW - 8, kH - 14}};
  for (const Case& c : placed) {
    SCOPED_TRACE(testing::Message() << "at " << c.x << "," << c.y);
    EXPECT_EQ(painted(gui.after(h, [&] { gui.text(h, c.x, c.y, kWhite, "A"); }), c.x, c.y),
              at_origin);
  }
  const Case clipped[] = {{-4, -7}, {kW - 3, kH - 5}, {INT32_MIN, 0}, {INT32_MAX, INT32_MAX}};
  for (const Case& c : clipped) {
    SCOPED_TRACE(testing::Message() << "clipped at " << c.x << "," << c.y);
    auto shown = painted(gui.after(h, [&] { gui.text(h, c.x, c.y, kWhite, "A"); }), c.x, c.y);
    std::vector<std::pair<int32_t, int32_t>> visible;
    for (auto [x, y] : at_origin) {
      if (int64_t{c.x} + x >= 0 && int64_t{c.x} + x < kW && int64_t{c.y} + y >= 0 &&
          int64_t{c.y} + y < kH) {
        visible.emplace_back(x, y);
      }
    }
    EXPECT_EQ(shown, visible);
  }
}

TEST(Compositor, TextBytesMapThroughTheFontsLatin1Table) {
  Gui gui;
  int32_t h = gui.create();
  auto glyph = [&](std::string_view text) {
    return painted(gui.after(h, [&] { gui.text(h, 0, 0, kWhite, text); }));
  };
  auto question = glyph("?");
  EXPECT_TRUE(glyph(" ").empty());
  EXPECT_EQ(glyph("\x01"), question);  // no glyph of its own
  auto e_acute = glyph("\xE9");
  EXPECT_NE(e_acute, question);
  EXPECT_NE(e_acute, glyph("e"));
  // One glyph per byte, 8 pixels apart; a newline starts the next line 14 rows lower.
  auto ab = glyph("AB");
  auto a = glyph("A");
  auto b = painted(gui.after(h, [&] { gui.text(h, 8, 0, kWhite, "B"); }));
  auto a_and_b = a;
  a_and_b.insert(a_and_b.end(), b.begin(), b.end());
  std::sort(a_and_b.begin(), a_and_b.end(), [](auto p, auto q) {
    return std::tie(p.second, p.first) < std::tie(q.second, q.first);
  });
  EXPECT_EQ(ab, a_and_b);
  auto lines = painted(gui.after(h, [&] { gui.text(h, 0, 0, kWhite, "\nA"); }), 0, 14);
  EXPECT_EQ(lines, a);
  // A line far longer than the content area is cut at the edge.
  EXPECT_FALSE(glyph(std::string(3000, 'W')).empty());
}

TEST(Compositor, GuestRecordsThatCannotBeReadAreRefused) {
  Gui gui;
  int32_t h = gui.create();
  EXPECT_EQ(gui.g.calli("gui_fill_rect", {u(h), 0x10}), err::kFault);
  EXPECT_EQ(gui.g.calli("gui_clear", {u(h), 0x10}), err::kFault);
  EXPECT_EQ(gui.g.calli("gui_draw_text", {u(h), 0x10}), err::kFault);
  uint32_t record[4] = {0, 0, 0, 0x10};
  EXPECT_EQ(gui.g.calli("gui_draw_text", {u(h), gui.g.put(record, sizeof record)}), err::kFault);
  EXPECT_EQ(gui.text(h, 0, 0, kWhite, std::string(5000, 'x')), err::kInvalid);
  EXPECT_EQ(gui.g.calli("gui_create", {0, gui.g.str("x")}), err::kFault);
  EXPECT_EQ(gui.g.calli("gui_get_content_size", {u(h), 0x10}), err::kFault);
}

TEST(Compositor, UnknownHandlesAreRefused) {
  Gui gui;
  int32_t h = gui.create();
  uint32_t event = gui.g.alloc(20);
  for (int32_t bad : {-1, 0, h + 1, Compositor::kMaxWindows, INT32_MIN}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(gui.g.calli("gui_begin", {u(bad)}), err::kBadFd);
    EXPECT_EQ(gui.fill(bad, 0, 0, 1, 1, kWhite), err::kBadFd);
    EXPECT_EQ(gui.present(bad), err::kBadFd);
    EXPECT_EQ(gui.poll(bad, event), err::kBadFd);
    EXPECT_EQ(gui.g.calli("gui_set_continuous_redraw", {u(bad), 1}), err::kBadFd);
  }
}

TEST(Compositor, CreateAndAttachGiveHandlesAndTitles) {
  struct Case {
    const char* name;
    bool fail_create, fail_attach;
    bool create_ok, attach_ok;
  };
  const Case cases[] = {
      {"both work", false, false, true, true},
      {"create fails", true, false, false, true},
      {"attach fails", false, true, true, false},
      {"both fail", true, true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GuiConfig config = small_config();
    config.scenario.fail_create = c.fail_create;
    config.scenario.fail_attach = c.fail_attach;
    Gui gui(config);
    int32_t created = gui.create("Stack Demo", "drag/click to stack");
    EXPECT_EQ(created >= 1, c.create_ok) << created;
    EXPECT_EQ(created < 0, !c.create_ok) << created;
    if (c.create_ok) {
      EXPECT_EQ(gui.compositor().window_title(created), "Stack Demo \u2014 drag/click to stack");
      EXPECT_EQ(gui.compositor().shown_handle(), created);
    }
    int32_t attached = gui.attach("Other", "");
    EXPECT_EQ(attached, c.attach_ok ? Compositor::kDisplayHandle : err::kIo);
    if (c.attach_ok) {
      EXPECT_EQ(gui.compositor().window_title(attached), "Other");
      EXPECT_EQ(gui.compositor().shown_handle(), Compositor::kDisplayHandle);
      EXPECT_EQ(gui.attach("Again", "x"), Compositor::kDisplayHandle);
      // Programs write Latin-1; the host's caption is UTF-8.
      EXPECT_EQ(gui.attach("Caf\xE9", "\xB5s"), Compositor::kDisplayHandle);
      EXPECT_EQ(gui.compositor().window_title(attached), "Caf\u00e9 \u2014 \u00b5s");
    }
  }
}

TEST(Compositor, WindowsRunOutAfterTheLastHandle) {
  Gui gui;
  for (int32_t i = 1; i < Compositor::kMaxWindows; ++i) EXPECT_EQ(gui.create(), i);
  EXPECT_EQ(gui.create(), err::kTooManyFiles);
  EXPECT_EQ(gui.g.calli("gui_set_title", {3, gui.g.str("renamed")}), 0);
  EXPECT_EQ(gui.compositor().window_title(3), "renamed \u2014 second");
}

TEST(Compositor, PresentShowsTheBackBufferAndSwapsIt) {
  Gui gui;
  int32_t h = gui.create();
  EXPECT_EQ(gui.g.calli("gui_begin", {u(h)}), 0);
  gui.clear(h, rgb(200, 0, 0));
  gui.present(h);
  EXPECT_EQ(gui.shown(h).at(5, 5), rgb(200, 0, 0));
  gui.clear(h, rgb(0, 0, 200));
  EXPECT_EQ(gui.shown(h).at(5, 5), rgb(200, 0, 0)) << "drawing shows only after a present";
  gui.present(h);
  EXPECT_EQ(gui.shown(h).at(5, 5), rgb(0, 0, 200));
  EXPECT_EQ(gui.compositor().frames_presented(), 2u);
}

TEST(Compositor, ContentSizeIsTheConfiguredOneUnlessTheScenarioSaysOtherwise) {
  struct Case {
    const char* name;
    int32_t width, height;
    std::optional<std::pair<int32_t, int32_t>> report;
    bool fail;
    int32_t result, got_w, got_h;
  };
  const Case cases[] = {
      {"default", 640, 360, {}, false, 0, 640, 360},
      {"configured", 800, 600, {}, false, 0, 800, 600},
      {"reported 0 x 0", 640, 360, std::pair{0, 0}, false, 0, 0, 0},
      {"reported 800 x 0", 800, 360, std::pair{800, 0}, false, 0, 800, 0},
      {"failing", 640, 360, {}, true, err::kIo, -7, -7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GuiConfig config;
    config.width = c.width;
    config.height = c.height;
    config.scenario.report_size = c.report;
    config.scenario.fail_content_size = c.fail;
    Gui gui(config);
    int32_t h = gui.create();
    int32_t prefill[2] = {-7, -7};
    uint32_t size = gui.g.put(prefill, sizeof prefill);
    EXPECT_EQ(gui.g.calli("gui_get_content_size", {u(h), size}), c.result);
    EXPECT_EQ(static_cast<int32_t>(gui.g.u32(size)), c.got_w);
    EXPECT_EQ(static_cast<int32_t>(gui.g.u32(size + 4)), c.got_h);
    EXPECT_EQ(gui.shown(h).width, c.width);
    EXPECT_EQ(gui.shown(h).height, c.height);
  }
}

TEST(Compositor, ContinuousRedrawSwitchesAndCanBeMadeToFail) {
  for (bool fail : {false, true}) {
    SCOPED_TRACE(fail ? "switch-off fails" : "plain");
    GuiConfig config = small_config();
    config.scenario.fail_redraw_off = fail;
    Gui gui(config);
    int32_t h = gui.create();
    EXPECT_EQ(gui.g.calli("gui_set_continuous_redraw", {u(h), 1}), 0);
    EXPECT_TRUE(gui.compositor().continuous_redraw(h));
    EXPECT_EQ(gui.g.calli("gui_set_continuous_redraw", {u(h), 0}), fail ? err::kIo : 0);
    EXPECT_EQ(gui.compositor().continuous_redraw(h), fail);
  }
}

TEST(Compositor, ScenarioEventsArrivePerFrameInOrder) {
  GuiConfig config = small_config();
  config.scenario.events = {{0, key_event('a')},
                            {0, pointer_event(5, -6, 1)},
                            {1, key_event('b')},
                            {3, key_event('c')},
                            {3, pointer_event(INT32_MIN, INT32_MAX, 0x7)}};
  Gui gui(config);
  int32_t h = gui.create();
  uint32_t record = gui.g.alloc(20);
  // What each frame's drain gets: frame N is after the N-th present.
  const std::vector<std::vector<GuiEventRecord>> frames = {
      {key_event('a'), pointer_event(5, -6, 1)},
      {key_event('b')},
      {},
      {key_event('c'), pointer_event(INT32_MIN, INT32_MAX, 0x7)},
      {}};
  for (size_t f = 0; f < frames.size(); ++f) {
    SCOPED_TRACE(testing::Message() << "frame " << f);
    for (const GuiEventRecord& want : frames[f]) {
      ASSERT_EQ(gui.poll(h, record), 1);
      GuiEventRecord got = gui.event_at(record);
      EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0)
          << got.type << " " << got.word1 << " " << got.word2 << " " << got.word3;
    }
    EXPECT_EQ(gui.poll(h, record), 0);
    EXPECT_EQ(gui.g.calli("gui_wait_event", {u(h), record}), 0) << "headless: nobody to wait for";
    gui.present(h);
  }
}

TEST(Compositor, PollingStoresNoMoreThanTheCallerAllowsAndLosesNothing) {
  GuiConfig config = small_config();
  config.scenario.events = {{0, pointer_event(11, 22, 1)}, {0, key_event('z')}};
  Gui gui(config);
  int32_t h = gui.create();
  std::vector<uint8_t> fill(24, 0xAA);
  uint32_t record = gui.g.put(fill.data(), 24);
  auto poll_raw = [&](uint32_t addr, uint32_t room) {
    return gui.g.calli("nuvrelos_syscall", {SVC_gui_poll_event, u(h), addr, room});
  };
  EXPECT_EQ(poll_raw(record, 0), err::kInvalid);
  EXPECT_EQ(poll_raw(0x10, 20), err::kFault);
  // Neither refusal took the event: a room of 8 bytes gets its first two words only.
  EXPECT_EQ(poll_raw(record, 8), 1);
  auto bytes = gui.g.read(record, 24);
  int32_t words[2];
  std::memcpy(words, bytes.data(), 8);
  EXPECT_EQ(words[0], kEventPointer);
  EXPECT_EQ(words[1], 11);
  EXPECT_TRUE(std::all_of(bytes.begin() + 8, bytes.end(), [](uint8_t b) { return b == 0xAA; }));
  EXPECT_EQ(poll_raw(record, 1000), 1);
  EXPECT_EQ(gui.event_at(record).word1, 'z');
  EXPECT_EQ(poll_raw(record, 20), 0);
}

TEST(Compositor, WarpingThePointerHeadlessQueuesAPointerEvent) {
  Gui gui;
  int32_t h = gui.create();
  uint32_t record = gui.g.alloc(20);
  EXPECT_EQ(gui.g.calli("gui_warp_mouse", {u(h), 30, 40}), 0);
  ASSERT_EQ(gui.poll(h, record), 1);
  EXPECT_EQ(gui.event_at(record).word2, 40);
  int32_t metrics[2] = {0, 0};
  uint32_t m = gui.g.put(metrics, 8);
  EXPECT_EQ(gui.g.calli("gui_get_font_metrics", {u(h), m}), 0);
  EXPECT_EQ(gui.g.u32(m), 8u);
  EXPECT_EQ(gui.g.u32(m + 4), 14u);
  EXPECT_EQ(gui.g.calli("gui_draw_line", {u(h), m}), err::kNotImplemented);
}

TEST(Compositor, PresentingPastTheFrameLimitEndsTheRun) {
  GuiConfig config = small_config();
  config.frame_limit = 2;
  Gui gui(config);
  int32_t h = gui.create();
  EXPECT_EQ(gui.present(h), 0);
  EXPECT_EQ(gui.present(h), 0);
  RunResult r = gui.g.call_result("gui_present", {u(h)});
  EXPECT_EQ(r.end, RunResult::End::Stopped);
  EXPECT_EQ(r.status, kFrameLimitStatus);
  EXPECT_NE(r.message.find("frame limit of 2 frames"), std::string::npos) << r.message;
}

TEST(Compositor, ScreenshotsAreThePresentedFramesAsPngFiles) {
  TempDir dir;
  GuiConfig config = small_config();
  config.scenario.screenshots = {1, 3};
  config.screenshot_dir = dir.path;
  Gui gui(config);
  int32_t h = gui.create();
  const uint32_t colours[] = {rgb(1, 2, 3), rgb(40, 50, 60), rgb(7, 8, 9), rgb(250, 128, 0)};
  for (uint32_t c : colours) {
    gui.clear(h, c);
    gui.fill(h, 0, 0, 1, 1, kWhite);
    gui.present(h);
  }
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(dir.path)) {
    files.push_back(e.path().filename().string());
  }
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"frame-00001.png", "frame-00003.png"}));
  for (uint32_t frame : {1u, 3u}) {
    SCOPED_TRACE(frame);
    char name[32];
    std::snprintf(name, sizeof name, "frame-%05u.png", frame);
    std::string error;
    auto picture = read_png(dir.path / name, &error);
    ASSERT_TRUE(picture) << error;
    EXPECT_EQ(picture->width, kW);
    EXPECT_EQ(picture->height, kH);
    EXPECT_EQ(picture->at(0, 0), kWhite);
    EXPECT_EQ(picture->at(kW - 1, kH - 1), colours[frame]);
  }
}

TEST(Compositor, HostFailuresEndTheRunWithAMessage) {
  struct Case {
    const char* name;
    std::filesystem::path font;
    std::filesystem::path shots;
    const char* service;
    const char* message;
  };
  const Case cases[] = {
      {"missing font", "/nonexistent/Lat15-Fixed14.psf.gz", "", "gui_create",
       "console-setup-linux"},
      {"not a font", NUV_SOURCE_DIR "/scenarios/readme.json", "", "gui_attach",
       "not a PC Screen Font"},
      {"unwritable screenshots", kDefaultFontPath, "/nonexistent/shots", "gui_present",
       "cannot save the screenshot of frame 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GuiConfig config = small_config();
    config.font_path = c.font;
    config.screenshot_dir = c.shots;
    config.scenario.screenshots = {0};
    Gui gui(config);
    RunResult r;
    if (std::string(c.service) == "gui_present") {
      int32_t h = gui.create();
      r = gui.g.call_result("gui_present", {u(h)});
    } else {
      r = gui.g.call_result(c.service, {gui.g.str("T"), gui.g.str("S")});
    }
    EXPECT_EQ(r.end, RunResult::End::Stopped);
    EXPECT_EQ(r.status, kHostGuiFailureStatus);
    EXPECT_NE(r.message.find(c.message), std::string::npos) << r.message;
  }
}

TEST(Scenario, ParsesEventsKeysAndSettings) {
  auto s = parse_scenario(nlohmann::json::parse(R"({
    "description": "x", "size": [800, 600], "fail": ["gui_create", "redraw_off"],
    "report_size": [800, 0], "frame_limit": 9, "screenshots": [5, 1, 5],
    "events": [{"frame": 2, "key": "q"}, {"frame": 1, "key": "Escape"},
               {"frame": 2, "pointer": {"x": -3, "y": 4, "buttons": 1}},
               {"frame": 0, "key": 17}, {"frame": 0, "key": "Q"},
               {"frame": 3, "pointer": {"x": 1, "y": 2}}]})"));
  EXPECT_EQ(s.width, 800);
  EXPECT_EQ(s.height, 600);
  EXPECT_TRUE(s.fail_create && s.fail_redraw_off && !s.fail_attach && !s.fail_content_size);
  EXPECT_EQ(s.report_size, (std::pair<int32_t, int32_t>{800, 0}));
  EXPECT_EQ(s.frame_limit, 9u);
  EXPECT_EQ(s.screenshots, (std::vector<uint32_t>{1, 5}));
  struct Want {
    uint32_t frame;
    int32_t type, word1, word3;
  };
  const Want want[] = {{0, 1, 17, 0},  {0, 1, 'Q', 0}, {1, 1, 27, 0},
                       {2, 1, 'q', 0}, {2, 2, -3, 1},  {3, 2, 1, 0}};
  ASSERT_EQ(s.events.size(), std::size(want));
  for (size_t i = 0; i < s.events.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(s.events[i].frame, want[i].frame);
    EXPECT_EQ(s.events[i].event.type, want[i].type);
    EXPECT_EQ(s.events[i].event.word1, want[i].word1);
    EXPECT_EQ(s.events[i].event.word3, want[i].word3);
  }
  GuiConfig c = with_scenario(GuiConfig{}, s);
  EXPECT_EQ(c.width, 800);
  EXPECT_EQ(c.frame_limit, 9u);
}

TEST(Scenario, MistakesAreNamed) {
  struct Case {
    const char* json;
    const char* message;
  };
  const Case cases[] = {
      {R"([1, 2])", "must be a JSON object"},
      {R"({"sise": [1, 2]})", "unknown member \"sise\""},
      {R"({"size": [0, 10]})", "size[0]: must lie between 1 and 4096"},
      {R"({"size": [10]})", "size: must be [width, height]"},
      {R"({"fail": ["gui_crate"]})", "unknown failure \"gui_crate\""},
      {R"({"events": [{"frame": -1, "key": "q"}]})", "events[0].frame"},
      {R"({"events": [{"frame": 1}]})", "needs either a \"pointer\" or a \"key\""},
      {R"({"events": [{"frame": 1, "key": "q", "pointer": {"x": 1, "y": 1}}]})", "needs either"},
      {R"({"events": [{"frame": 1, "key": "Esc"}]})", "unknown key \"Esc\""},
      {R"({"events": [{"frame": 1, "pointer": {"x": 1}}]})", "needs \"x\" and \"y\""},
      {R"({"events": [{"frame": 1, "pointer": {"x": 1, "y": 2, "z": 3}}]})",
       "unknown member \"z\""},
      {R"({"events": [{"frame": 1, "pointer": {"x": 1, "y": 4294967296}}]})", "pointer.y"},
      {R"({"frame_limit": 0})", "frame_limit: must lie between 1"},
      {R"({"screenshots": [1, "two"]})", "screenshots[1]: must be an integer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    try {
      parse_scenario(nlohmann::json::parse(c.json));
      ADD_FAILURE() << "accepted";
    } catch (const ScenarioError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

// A tiny font: glyph g has all rows equal to g, so the glyph a byte maps to can be read back.
std::vector<uint8_t> psf1_font(bool with_table) {
  std::vector<uint8_t> f = {0x36, 0x04, static_cast<uint8_t>(with_table ? 0x02 : 0x00), 2};
  for (int g = 0; g < 256; ++g)
    f.insert(f.end(), {static_cast<uint8_t>(g), static_cast<uint8_t>(g)});
  if (with_table) {
    for (int g = 0; g < 256; ++g) {
      auto add = [&](uint16_t v) {
        f.insert(f.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
      };
      if (g == 'A') add('A');
      if (g == 200) add(0xE9);  // é lives elsewhere
      if (g == 201) add(0xE9);  // a second mapping loses to the first
      if (g == 63) add('?');
      if (g == 202) {
        add(0xFFFE);
        add('B');
      }  // only in a sequence: no mapping
      add(0xFFFF);
    }
  }
  return f;
}

std::vector<uint8_t> psf2_font() {
  std::vector<uint8_t> f(32, 0);
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&f[at], &v, 4); };
  const uint8_t magic[4] = {0x72, 0xB5, 0x4A, 0x86};
  std::memcpy(f.data(), magic, 4);
  put32(8, 32);  // header size
  put32(12, 1);  // has a table
  put32(16, 4);  // glyphs
  put32(20, 6);  // bytes per glyph: 10 pixels wide, 3 rows
  put32(24, 3);
  put32(28, 10);
  for (int g = 0; g < 4; ++g) {
    for (int b = 0; b < 6; ++b) f.push_back(static_cast<uint8_t>(g));
  }
  const uint8_t table[] = {'x', 0xFF, '?', 0xFF, 0xC3, 0xA9, 0xFF, 0xFE, 'y', 0xFF};
  f.insert(f.end(), std::begin(table), std::end(table));
  return f;
}

TEST(PsfFont, GlyphsFollowTheUnicodeTable) {
  PsfFont f = parse_psf_font(psf1_font(true));
  EXPECT_EQ(f.width, 8);
  EXPECT_EQ(f.height, 2);
  struct Case {
    uint8_t byte;
    uint8_t glyph;
  };
  const Case cases[] = {{'A', 'A'}, {0xE9, 200}, {'?', 63}, {'B', 63}, {0, 63}, {0xFF, 63}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int{c.byte});
    EXPECT_EQ(f.glyph(c.byte)[0], c.glyph);
  }
  PsfFont plain = parse_psf_font(psf1_font(false));
  EXPECT_EQ(plain.glyph(0xE9)[1], 0xE9) << "without a table bytes index glyphs directly";

  PsfFont wide = parse_psf_font(psf2_font());
  EXPECT_EQ(wide.width, 10);
  EXPECT_EQ(wide.bytes_per_row, 2u);
  EXPECT_EQ(wide.glyph('x')[0], 0);
  EXPECT_EQ(wide.glyph(0xE9)[0], 2);
  EXPECT_EQ(wide.glyph('y')[0], 1) << "a sequence maps nothing; '?' stands in";
}

TEST(PsfFont, BrokenFilesAreRefused) {
  auto cut = psf1_font(true);
  cut.resize(100);
  auto bad_psf2 = psf2_font();
  bad_psf2[20] = 7;  // bytes per glyph disagree with the size
  const std::vector<uint8_t> cases[] = {{}, {1, 2, 3, 4, 5}, cut, bad_psf2};
  for (const auto& bytes : cases) {
    EXPECT_THROW(parse_psf_font(bytes), FontError);
  }
  EXPECT_THROW(load_psf_font("/nonexistent.psf.gz"), FontError);
  PsfFont real = load_psf_font(kDefaultFontPath);
  EXPECT_EQ(real.width, 8);
  EXPECT_EQ(real.height, 14);
}

TEST(SdlDisplay, KeysBecomeTheCodesProgramsExpect) {
  struct Case {
    int32_t key;
    uint32_t mod;
    int32_t code;
  };
  const Case cases[] = {
      {SDLK_q, KMOD_NONE, 113},     {SDLK_q, KMOD_LSHIFT, 81},
      {SDLK_q, KMOD_CAPS, 81},      {SDLK_q, KMOD_RSHIFT | KMOD_CAPS, 113},
      {SDLK_q, KMOD_LCTRL, 17},     {SDLK_ESCAPE, KMOD_NONE, 27},
      {SDLK_1, KMOD_NONE, 49},      {SDLK_RETURN, KMOD_NONE, 13},
      {SDLK_LEFT, KMOD_NONE, -1},   {SDLK_F1, KMOD_NONE, -1},
      {SDLK_LSHIFT, KMOD_NONE, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.key << " mod " << c.mod);
    EXPECT_EQ(gui_key_code(c.key, c.mod), c.code);
  }
}

}  // namespace
}  // namespace nuv::test
