// The whole demo from _start against the real compositor, driven headless by scenarios: the
// command line, getting a window, the event drain, dragging and raising, content sizes, the
// end, and the presented pictures pixel by pixel.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "host/gui/compositor.h"
#include "host/gui/png_file.h"
#include "host/gui/scenario.h"
#include "host/kernel/trace.h"
#include "tests/harness/guest.h"

namespace nuv::test {
namespace {

constexpr uint32_t kShadeEven = rgb(30, 30, 30);
constexpr uint32_t kShadeOdd = rgb(48, 48, 48);
constexpr uint32_t kTitleActive = rgb(255, 236, 145);
constexpr uint32_t kTitleOther = rgb(220, 210, 180);
constexpr uint32_t kBlue = rgb(58, 88, 145);     // window 0
constexpr uint32_t kPurple = rgb(112, 76, 150);  // window 1
constexpr uint32_t kGreen = rgb(72, 122, 86);    // window 2
constexpr uint32_t kFrameLimit = 100;

ScenarioEvent key(uint32_t frame, int32_t code) { return {frame, key_event(code)}; }
ScenarioEvent ptr(uint32_t frame, int32_t x, int32_t y, int32_t buttons) {
  return {frame, pointer_event(x, y, buttons)};
}

struct TempDir {
  std::filesystem::path path;
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "nuv-demo-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("no temp dir");
    path = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

struct DrawnText {
  std::string text;
  int32_t x, y;
};

// One run of the demo and what it did.
struct Demo {
  std::unique_ptr<Guest> g;
  RunResult result;

  explicit Demo(Scenario scenario, std::vector<std::string> args = {"stack_demo"},
                GuiConfig base = {}) {
    GuiConfig config = with_scenario(std::move(base), std::move(scenario));
    if (config.frame_limit == 0) config.frame_limit = kFrameLimit;
    g = std::make_unique<Guest>("stack_demo", GuestOptions{.gui = std::move(config)});
    g->kernel().set_decoding(true);
    result = g->run(args);
  }

  Compositor& compositor() { return g->kernel().compositor(); }
  const std::vector<ServiceCall>& calls() { return g->kernel().calls(); }
  uint32_t frames() { return compositor().frames_presented(); }
  const Surface& picture() { return *compositor().presented(compositor().shown_handle()); }

  // The status line of every frame, in order.
  std::vector<DrawnText> status_lines() {
    std::vector<DrawnText> out;
    for (const ServiceCall& c : calls()) {
      if (c.number != SVC_gui_draw_text) continue;
      const auto& t = c.detail[1];
      std::string text = t["text"].get<std::string>();
      if (text.starts_with("mouse="))
        out.push_back({text, t["x"].get<int32_t>(), t["y"].get<int32_t>()});
    }
    return out;
  }
  bool any_gui_call() {
    for (const ServiceCall& c : calls()) {
      if (c.number != SVC_write && c.number != SVC_exit) return true;
    }
    return false;
  }
  size_t count(uint32_t service) {
    size_t n = 0;
    for (const ServiceCall& c : calls()) n += c.number == service;
    return n;
  }
  void expect_clean_end(int32_t status = 0) {
    EXPECT_EQ(result.end, RunResult::End::Exited) << result.message;
    EXPECT_EQ(result.status, status);
  }
};

Scenario with_events(std::vector<ScenarioEvent> events) {
  Scenario s;
  s.events = std::move(events);
  return s;
}

uint32_t tile_shade(int32_t x, int32_t y, uint32_t frame) {
  return ((x / 24 + y / 24 + frame / 10) & 1) ? kShadeOdd : kShadeEven;
}

struct Point {
  int32_t x, y;
  uint32_t pixel;
};

void expect_pixels(const Surface& s, const std::vector<Point>& points) {
  for (const Point& p : points) {
    EXPECT_EQ(s.at(p.x, p.y), p.pixel) << "at " << p.x << "," << p.y << ": " << std::hex
                                       << s.at(p.x, p.y) << " instead of " << p.pixel;
  }
}

TEST(DemoScenario, HelpOnlyForAnExactFirstArgument) {
  struct Case {
    std::vector<std::string> args;
    bool usage;
  };
  const Case cases[] = {
      {{"stack_demo", "-h"}, true},   {{"stack_demo", "-h", "more", "-x"}, true},
      {{"stack_demo"}, false},        {{"stack_demo", "x", "-h"}, false},
      {{"stack_demo", "-H"}, false},  {{"stack_demo", "--help"}, false},
      {{"stack_demo", "-h "}, false}, {{"stack_demo", "-hh"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Demo d(with_events({key(0, 'q')}), c.args);
    d.expect_clean_end();
    if (c.usage) {
      EXPECT_EQ(d.g->console(), "Usage: stack_demo\n");
      EXPECT_FALSE(d.any_gui_call());
    } else {
      EXPECT_EQ(d.g->console(), "");
      EXPECT_EQ(d.frames(), 1u);
    }
  }
}

TEST(DemoScenario, AWindowFromCreateOrElseAttach) {
  struct Case {
    const char* name;
    bool fail_create, fail_attach;
    int32_t status;
    const char* console;
    int32_t handle;  // the one every drawing call names; -1: none drawn
    size_t attach_calls;
  };
  const Case cases[] = {
      {"create works", false, false, 0, "", 1, 0},
      {"attach would fail but is not needed", false, true, 0, "", 1, 0},
      {"create fails, attach takes over", true, false, 0, "", Compositor::kDisplayHandle, 1},
      {"both fail", true, true, 1, "stack_demo: failed to initialize GUI\n", -1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scenario s = with_events({key(2, 'q')});
    s.fail_create = c.fail_create;
    s.fail_attach = c.fail_attach;
    Demo d(s);
    d.expect_clean_end(c.status);
    EXPECT_EQ(d.g->console(), c.console);
    EXPECT_EQ(d.count(SVC_gui_attach), c.attach_calls);
    if (c.handle < 0) {
      EXPECT_EQ(d.count(SVC_gui_present), 0u);
      EXPECT_EQ(d.count(SVC_gui_set_continuous_redraw), 0u);
      continue;
    }
    EXPECT_EQ(d.frames(), 3u);
    for (const ServiceCall& call : d.calls()) {
      if (call.number == SVC_gui_present || call.number == SVC_gui_fill_rect) {
        ASSERT_EQ(static_cast<int32_t>(call.slots[0]), c.handle);
      }
    }
    EXPECT_EQ(d.picture().at(400, 95), kTitleActive);
  }
}

TEST(DemoScenario, OnlyQAndEscapeKeysEndTheDemo) {
  struct Case {
    int32_t code;
    bool quits;
  };
  const Case cases[] = {{81, true},       {113, true},           {27, true},
                        {49, false},      {17, false},           {81 + 256, false},
                        {27 + 32, false}, {0x71 | 0x100, false}, {-113, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    Demo d(with_events({key(0, c.code), key(3, 'q')}));
    d.expect_clean_end();
    EXPECT_EQ(d.frames(), c.quits ? 1u : 4u);
  }
}

TEST(DemoScenario, AQuitKeyEndsOnlyAfterTheFrameAndItsPause) {
  // The press, the key and a move arrive in one drain: the press edge is taken at the last
  // position, raises window 0 there, and the frame is drawn, presented and paused before the end.
  Demo d(with_events({ptr(0, 100, 90, 0), ptr(1, 100, 90, 1), key(1, 'q'), ptr(1, 150, 130, 1)}));
  d.expect_clean_end();
  EXPECT_EQ(d.frames(), 2u);
  EXPECT_EQ(d.status_lines().back().text, "mouse=150,130  active=1  q/esc quits");
  expect_pixels(d.picture(), {{100, 85, kTitleActive}, {200, 150, kBlue}, {400, 95, kTitleOther}});
  // After the last present: its pause, redraw switched off, and the exit with status 0.
  const auto& calls = d.calls();
  size_t last_present = 0;
  for (size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].number == SVC_gui_present) last_present = i;
  }
  ASSERT_EQ(calls.size(), last_present + 4);
  EXPECT_EQ(calls[last_present + 1].number, static_cast<uint32_t>(SVC_usleep));
  EXPECT_EQ(calls[last_present + 1].slots[0], 16666u);
  EXPECT_EQ(calls[last_present + 2].number, static_cast<uint32_t>(SVC_gui_set_continuous_redraw));
  EXPECT_EQ(calls[last_present + 2].slots[1], 0u);
  EXPECT_EQ(calls[last_present + 3].number, static_cast<uint32_t>(SVC_exit));
}

TEST(DemoScenario, AHeldButtonKeepsDraggingThroughFramesWithoutEvents) {
  // Grab window 0 at (100, 90), 20 and 10 pixels into it; frames 1 and 3 bring no events.
  Demo d(with_events({ptr(0, 100, 90, 1), ptr(2, 300, 200, 1), ptr(4, 320, 210, 1),
                      ptr(6, 320, 210, 0), key(7, 'q')}));
  d.expect_clean_end();
  auto lines = d.status_lines();
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[1].text, "mouse=100,90  active=1  q/esc quits");
  EXPECT_EQ(lines[3].text, "mouse=300,200  active=1  q/esc quits");
  // Had frame 3 dropped the button, frame 4 would have grabbed anew and left it at (280, 190).
  expect_pixels(d.picture(), {{305, 202, kTitleActive},
                              {305, 250, kBlue},
                              {290, 195, kPurple},
                              {100, 150, tile_shade(100, 150, 7)}});
}

TEST(DemoScenario, OnlyTheLastPointerEventOfAFrameCounts) {
  Demo d(with_events({
      ptr(1, 350, 150, 0),
      ptr(1, -5, 7, 0),  // two moves: the last one is reported
      ptr(2, 100, 90, 1),
      ptr(2, 100, 90, 0),   // press and release: no edge, no raise
      ptr(3, 200, 150, 1),  // a press where windows 0 and 1 overlap
      ptr(4, 450, 150, 0),
      ptr(5, 450, 150, 1),  // release, then a press on window 2
      key(6, 27),
  }));
  d.expect_clean_end();
  const std::vector<std::string> want = {
      "mouse=0,0  active=3  q/esc quits",     "mouse=-5,7  active=3  q/esc quits",
      "mouse=100,90  active=3  q/esc quits",  "mouse=200,150  active=2  q/esc quits",
      "mouse=450,150  active=2  q/esc quits", "mouse=450,150  active=3  q/esc quits",
      "mouse=450,150  active=3  q/esc quits",
  };
  auto lines = d.status_lines();
  ASSERT_EQ(lines.size(), want.size());
  for (size_t f = 0; f < want.size(); ++f) {
    SCOPED_TRACE(f);
    EXPECT_EQ(lines[f].text, want[f]);
    EXPECT_EQ(lines[f].x, 8);
    EXPECT_EQ(lines[f].y, 346);
  }
  // Window 1 was raised above 0, then 2 above both.
  expect_pixels(d.picture(), {{200, 150, kPurple}, {350, 150, kGreen}, {300, 125, kTitleOther}});
}

TEST(DemoScenario, MissingContentSizesFallBackPerDimension) {
  struct Case {
    const char* name;
    int32_t width, height;  // the real content area
    std::optional<std::pair<int32_t, int32_t>> report;
    bool fail;
    int32_t status_y;
    size_t tiles;
  };
  const Case cases[] = {
      {"640 x 360", 640, 360, {}, false, 346, 27 * 15},
      {"reported 0 x 0", 640, 360, std::pair{0, 0}, false, 346, 27 * 15},
      {"reported 800 x 0", 800, 360, std::pair{800, 0}, false, 346, 34 * 15},
      {"reported -1 x 600", 640, 600, std::pair{-1, 600}, false, 586, 27 * 25},
      {"size service fails", 640, 360, {}, true, 346, 27 * 15},
      {"reported 25 x 10", 640, 360, std::pair{25, 10}, false, -4, 2 * 1},
      {"24 x 24", 24, 24, {}, false, 10, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scenario s = with_events({key(0, 'q')});
    s.report_size = c.report;
    s.fail_content_size = c.fail;
    s.width = c.width;
    s.height = c.height;
    Demo d(s);
    d.expect_clean_end();
    ASSERT_EQ(d.status_lines().size(), 1u);
    EXPECT_EQ(d.status_lines()[0].y, c.status_y);
    EXPECT_EQ(d.count(SVC_gui_fill_rect), c.tiles + 6);
  }
}

TEST(DemoScenario, AFailingSwitchOffIsAWarningOnly) {
  for (bool fail : {false, true}) {
    SCOPED_TRACE(fail);
    Scenario s = with_events({key(1, 'Q')});
    s.fail_redraw_off = fail;
    Demo d(s);
    d.expect_clean_end();
    EXPECT_EQ(d.g->console(), fail ? "stack_demo: warning: failed to disable redraw\n" : "");
    // A refused switch-off leaves redraw on.
    EXPECT_EQ(d.compositor().continuous_redraw(d.compositor().shown_handle()), fail);
  }
}

TEST(DemoScenario, PresentedFramesShowTilesWindowsAndTitleBars) {
  TempDir dir;
  Scenario s = with_events({key(10, 'q')});
  s.screenshots = {0, 9, 10};
  GuiConfig base;
  base.screenshot_dir = dir.path;
  Demo d(s, {"stack_demo"}, base);
  d.expect_clean_end();
  for (uint32_t frame : {0u, 9u, 10u}) {
    SCOPED_TRACE(frame);
    char name[32];
    std::snprintf(name, sizeof name, "frame-%05u.png", frame);
    std::string error;
    auto picture = read_png(dir.path / name, &error);
    ASSERT_TRUE(picture) << error;
    ASSERT_EQ(picture->width, 640);
    ASSERT_EQ(picture->height, 360);
    uint32_t phase_odd = (frame / 10) & 1;
    expect_pixels(*picture, {
                                {12, 36, phase_odd ? kShadeEven : kShadeOdd},
                                {36, 36, phase_odd ? kShadeOdd : kShadeEven},
                                {12, 300, tile_shade(12, 300, frame)},
                                {630, 340, tile_shade(630, 340, frame)},
                                {400, 95, kTitleActive},
                                {100, 85, kTitleOther},
                                {300, 125, kTitleOther},
                                {100, 150, kBlue},
                                {250, 230, kPurple},
                                {450, 150, kGreen},
                                {350, 150, kGreen},  // window 2 lies above window 1
                            });
    if (frame == 10) {
      EXPECT_EQ(picture->pixels, d.picture().pixels);
    }
  }
  // Text shows in the banner and status line colours, inside their rows.
  const Surface& last = d.picture();
  size_t banner = 0, status = 0;
  for (int32_t y = 0; y < 360; ++y) {
    for (int32_t x = 0; x < 640; ++x) {
      if (last.at(x, y) == rgb(222, 222, 222)) {
        ++banner;
        EXPECT_TRUE(y >= 6 && y < 20 && x >= 8) << x << "," << y;
      }
      if (last.at(x, y) == rgb(210, 225, 255)) {
        ++status;
        EXPECT_TRUE(y >= 346 && x >= 8) << x << "," << y;
      }
    }
  }
  EXPECT_GT(banner, 200u);
  EXPECT_GT(status, 100u);
}

TEST(DemoScenario, AProgramThatDoesNotEndStopsAtTheFrameLimit) {
  Scenario s = with_events({key(0, 49)});
  s.frame_limit = 12;
  Demo d(s);
  EXPECT_EQ(d.result.end, RunResult::End::Stopped);
  EXPECT_EQ(d.result.status, kFrameLimitStatus);
  EXPECT_NE(d.result.message.find("frame limit of 12 frames"), std::string::npos);
  EXPECT_EQ(d.frames(), 12u);
}

TEST(DemoScenario, ShippedScenariosDoWhatTheySay) {
  struct Case {
    const char* file;
    int32_t status;
    const char* console;
    uint32_t frames;
    size_t screenshots;
  };
  const Case cases[] = {
      {"readme.json", 0, "", 35, 5},
      {"attach_fallback.json", 0, "", 4, 1},
      {"no_window.json", 1, "stack_demo: failed to initialize GUI\n", 0, 0},
      {"unknown_size.json", 0, "", 2, 1},
      {"redraw_off_fails.json", 0, "stack_demo: warning: failed to disable redraw\n", 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TempDir dir;
    GuiConfig base;
    base.screenshot_dir = dir.path;
    Demo d(load_scenario(std::filesystem::path(NUV_SOURCE_DIR) / "scenarios" / c.file),
           {"stack_demo"}, base);
    d.expect_clean_end(c.status);
    EXPECT_EQ(d.g->console(), c.console);
    EXPECT_EQ(d.frames(), c.frames);
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path)) {
      std::string error;
      auto png = read_png(e.path(), &error);
      ASSERT_TRUE(png) << error;
      EXPECT_EQ(png->width, d.picture().width);
      EXPECT_EQ(png->height, d.picture().height);
      ++files;
    }
    EXPECT_EQ(files, c.screenshots);
    if (std::string(c.file) == "readme.json") {
      // Window 0 was dragged to (260, 214) and let go; then window 2 was raised.
      expect_pixels(d.picture(), {{300, 300, kBlue},
                                  {265, 220, kTitleOther},
                                  {400, 95, kTitleActive},
                                  {100, 150, tile_shade(100, 150, 34)}});
      EXPECT_EQ(d.status_lines().back().text, "mouse=450,150  active=3  q/esc quits");
    }
    if (std::string(c.file) == "unknown_size.json") {
      EXPECT_EQ(d.picture().width, 800);
      EXPECT_EQ(d.status_lines().back().y, 346);
    }
  }
}

TEST(DemoScenario, TheTraceShowsTheGuiRecords) {
  Demo d(with_events({ptr(0, 100, -90, 1), key(0, 'q')}));
  d.expect_clean_end();
  std::vector<std::string> first_of_each;
  std::vector<uint32_t> seen;
  for (const ServiceCall& c : d.calls()) {
    if (std::find(seen.begin(), seen.end(), c.number) != seen.end()) continue;
    seen.push_back(c.number);
    first_of_each.push_back(trace_text(c));
  }
  const std::vector<std::string> want = {
      "gui_create(\"Stack Demo\", \"drag/click to stack\") = 1",
      "gui_set_continuous_redraw(1, 1) = 0",
      "gui_poll_event(1, {type=2, word1=100, word2=-90, word3=1, word4=0}, 20) = 1",
      "gui_get_content_size(1, {width=640, height=360}) = 0",
      "gui_begin(1) = 0",
      "gui_clear(1, #1e1e1e) = 0",
      "gui_fill_rect(1, {x=0, y=0, w=24, h=24, color=#1e1e1e}) = 0",
      "gui_draw_text(1, {x=8, y=6, color=#dedede, text=\"Stack Demo: drag coloured windows, click "
      "to rais\"...}) = 0",
      "gui_present(1) = 0",
      "usleep(16666) = 0",
      "exit(0) = ?",
  };
  EXPECT_EQ(first_of_each, want);
}

std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

TEST(DemoScenario, TheRunnersGuiOptions) {
  TempDir dir;
  std::ofstream(dir.path / "typo.json") << R"({"fail": ["gui_crate"]})";
  std::string readme = std::string(NUV_SOURCE_DIR) + "/scenarios/readme.json";
  std::string shots = (dir.path / "shots").string();
  std::string last = (dir.path / "last.png").string();
  struct Case {
    std::vector<std::string> options;
    int status;
    const char* err;  // part of standard error
  };
  const Case cases[] = {
      {{"--size", "0x10"}, 2, "--size: must be WIDTHxHEIGHT"},
      {{"--size", "640"}, 2, "--size"},
      {{"--size", "5000x10"}, 2, "each 1 to 4096"},
      {{"--display", "tv"}, 2, "--display"},
      {{"--scenario", "/nonexistent.json"}, 2, "--scenario"},
      {{"--scenario", (dir.path / "typo.json").string()}, 2, "unknown failure \"gui_crate\""},
      {{"--frame-limit", "0"}, 2, "--frame-limit"},
      {{"--display", "headless", "--font", "/nonexistent.psf.gz"}, 125, "console-setup-linux"},
      {{"--display", "headless", "--frame-limit", "3"}, 124, "frame limit of 3 frames"},
      {{"--display", "headless", "--size", "320x200", "--frame-limit", "1", "--save-last", last},
       124,
       ""},
      {{"--scenario", readme, "--screenshots", shots}, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.options));
    std::string cmd = quoted(std::string(NUV_BINARY_DIR) + "/host/nuvrelos-run");
    for (const auto& o : c.options) cmd += " " + quoted(o);
    cmd += " " + quoted(guest_program("stack_demo")) + " </dev/null >/dev/null 2>" +
           quoted((dir.path / "err").string());
    int raw = std::system(cmd.c_str());
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, c.status);
    std::ifstream in(dir.path / "err");
    std::string err((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(err.find(c.err), std::string::npos) << err;
  }
  std::string error;
  auto saved = read_png(last, &error);
  ASSERT_TRUE(saved) << error;
  EXPECT_EQ(saved->width, 320);
  EXPECT_EQ(saved->height, 200);
  size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(shots))
    files += e.path().extension() == ".png";
  EXPECT_EQ(files, 5u);
}

}  // namespace
}  // namespace nuv::test
