// The whole demo from _start against the real compositor, driven headless by scenarios: the
// command line, getting a window, the event drain, dragging and raising, content sizes, the
// calls of every frame, the end, and the presented pictures pixel by pixel.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host/gui/compositor.h"
#include "host/gui/png_file.h"
#include "host/gui/scenario.h"
#include "tests/harness/guest.h"
#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

constexpr uint32_t kShadeEven = rgb(30, 30, 30);
constexpr uint32_t kShadeOdd = rgb(48, 48, 48);
constexpr uint32_t kTitleActive = rgb(255, 236, 145);
constexpr uint32_t kTitleOther = rgb(220, 210, 180);
constexpr uint32_t kBlue = rgb(58, 88, 145);     // window 0
constexpr uint32_t kPurple = rgb(112, 76, 150);  // window 1
constexpr uint32_t kGreen = rgb(72, 122, 86);    // window 2

ScenarioEvent key(uint32_t frame, int32_t code) { return {frame, key_event(code)}; }
ScenarioEvent ptr(uint32_t frame, int32_t x, int32_t y, int32_t buttons) {
  return {frame, pointer_event(x, y, buttons)};
}
ScenarioEvent unknown(uint32_t frame) { return {frame, {3, 400, 400, 0, 0}}; }

// One run of the demo (stopped after 100 frames unless the scenario says otherwise).
struct Demo {
  std::unique_ptr<Guest> g;
  RunResult result;

  explicit Demo(Scenario s, std::vector<std::string> args = {"stack_demo"}) {
    GuiConfig config = with_scenario({}, std::move(s));
    if (config.frame_limit == 0) config.frame_limit = 100;
    g = std::make_unique<Guest>("stack_demo", GuestOptions{.gui = std::move(config)});
    g->kernel().set_decoding(true);
    result = g->run(args);
  }

  Compositor& compositor() { return g->kernel().compositor(); }
  const std::vector<ServiceCall>& calls() { return g->kernel().calls(); }
  uint32_t frames() { return compositor().frames_presented(); }
  const Surface& picture() { return *compositor().presented(compositor().shown_handle()); }
  // The status line of every frame, in order.
  std::vector<std::string> status_lines() {
    std::vector<std::string> out;
    for (const ServiceCall& c : calls()) {
      if (c.number != SVC_gui_draw_text) continue;
      std::string text = *std::get<decoded::Text>(c.args[1]).text;
      if (text.starts_with("mouse=")) out.push_back(text);
    }
    return out;
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

struct Point {
  int32_t x, y;
  uint32_t pixel;
};

void expect_pixels(const Surface& s, const std::vector<Point>& points) {
  for (const Point& p : points) {
    EXPECT_EQ(s.at(p.x, p.y), p.pixel)
        << "at " << p.x << "," << p.y << ": " << std::hex << s.at(p.x, p.y);
  }
}

// "-h" as the first argument asks for the usage line and nothing else; q, Q and Escape end the
// demo after the frame whose drain brings them, other keys do not.
TEST(DemoScenario, HelpAndQuitKeys) {
  struct Case {
    std::vector<std::string> args;
    int32_t key;  // in the first frame's drain; a q follows in the fourth
    uint32_t frames;
  } cases[] = {
      {{"-h"}, 'q', 0},      {{"-h", "more", "-x"}, 'q', 0},
      {{"x", "-h"}, 'q', 1}, {{"-H"}, 'q', 1},
      {{"-hh"}, 'q', 1},     {{}, 81, 1},
      {{}, 113, 1},          {{}, 27, 1},
      {{}, 17, 4},           {{}, 81 + 256, 4},
      {{}, 27 + 32, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << testing::PrintToString(c.args) << " key " << c.key);
    std::vector<std::string> args = {"stack_demo"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Demo d(Scenario{.events = {key(0, c.key), key(3, 'q')}}, args);
    d.expect_clean_end();
    EXPECT_EQ(d.frames(), c.frames);
    EXPECT_EQ(d.g->console(), c.frames == 0 ? "Usage: stack_demo\n" : "");
    EXPECT_EQ(d.calls().size() == d.count(SVC_write) + d.count(SVC_exit), c.frames == 0)
        << "no GUI";
  }
}

// What each frame's drain leaves: the last pointer position, press and release edges between
// frames only, a held button dragging on through frames without events; an unknown event
// changes nothing.
TEST(DemoScenario, TheDrainOfEachFrame) {
  struct Case {
    const char* name;
    std::vector<ScenarioEvent> events;
    const char* status;         // mouse/active window of each frame
    std::vector<Point> pixels;  // of the last frame
  } cases[] = {
      {"a quit key amid a press and a move: the press is taken at the last position",
       {ptr(0, 100, 90, 0), ptr(1, 100, 90, 1), key(1, 'q'), ptr(1, 150, 130, 1)},
       "100,90/3 150,130/1",
       {}},
      // Had frame 3 dropped the button, frame 4 would have grabbed anew, left it at (280, 190).
      {"frames 1 and 3 bring no events",
       {ptr(0, 100, 90, 1), ptr(2, 300, 200, 1), ptr(4, 320, 210, 1), ptr(6, 320, 210, 0),
        key(7, 'q')},
       "100,90/1 100,90/1 300,200/1 300,200/1 320,210/1 320,210/1 320,210/1 320,210/1",
       {{305, 202, kTitleActive}, {305, 250, kBlue}, {290, 195, kPurple}, {100, 150, kShadeEven}}},
      // Press and release in frame 2 raise nothing; window 1 goes above 0, then 2 above both.
      {"several pointer events in one frame",
       {ptr(1, 350, 150, 0), ptr(1, -5, 7, 0), ptr(2, 100, 90, 1), ptr(2, 100, 90, 0),
        ptr(3, 200, 150, 1), ptr(4, 450, 150, 0), ptr(5, 450, 150, 1), unknown(6), key(7, 27)},
       "0,0/3 -5,7/3 100,90/3 200,150/2 450,150/2 450,150/3 450,150/3 450,150/3",
       {{200, 150, kPurple}, {350, 150, kGreen}, {300, 125, kTitleOther}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Demo d(Scenario{.events = c.events});
    d.expect_clean_end();
    std::vector<std::string> want;
    std::istringstream frames(c.status);
    for (std::string f; frames >> f;) {
      size_t slash = f.find('/');
      want.push_back("mouse=" + f.substr(0, slash) + "  active=" + f.substr(slash + 1) +
                     "  q/esc quits");
    }
    EXPECT_EQ(d.status_lines(), want);
    expect_pixels(d.picture(), c.pixels);
  }
}

TEST(DemoScenario, MissingContentSizesFallBackPerDimension) {
  using Size = std::pair<int32_t, int32_t>;
  struct Case {
    int32_t width, height;  // the real content area
    std::optional<Size> report;
    bool fail;
    int32_t status_y;
    size_t tiles;
  } cases[] = {
      {640, 360, Size{0, 0}, false, 346, 27 * 15},    {800, 360, Size{800, 0}, false, 346, 34 * 15},
      {640, 600, Size{-1, 600}, false, 586, 27 * 25}, {640, 360, {}, true, 346, 27 * 15},
      {640, 360, Size{25, 10}, false, -4, 2 * 1},     {24, 24, {}, false, 10, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " fail " << c.fail);
    Demo d(Scenario{
        .width = c.width,
        .height = c.height,
        .fail = c.fail ? std::vector<std::string>{"content_size"} : std::vector<std::string>{},
        .report_size = c.report,
        .events = {key(0, 'q')}});
    d.expect_clean_end();
    EXPECT_EQ(d.count(SVC_gui_fill_rect), c.tiles + 6);
    auto status = std::find_if(d.calls().rbegin(), d.calls().rend(),
                               [](auto& call) { return call.number == SVC_gui_draw_text; });
    EXPECT_EQ(std::get<decoded::Text>(status->args[1]).record.y, c.status_y);
  }
}

// The shipped scenarios: a window from gui_create or else gui_attach, or the end; redraw on at
// the start, off at the end, where a failure only warns.
TEST(DemoScenario, ShippedScenariosGetAWindowOrSayWhy) {
  struct Case {
    const char* file;
    int32_t status, handle;  // the handle drawn in; -1: none
    uint32_t frames;
    std::string console;
  } cases[] = {
      {"readme.json", 0, 1, 35, ""},
      {"attach_fallback.json", 0, Compositor::kDisplayHandle, 4, ""},
      {"no_window.json", 1, -1, 0, "stack_demo: failed to initialize GUI\n"},
      {"unknown_size.json", 0, 1, 2, ""},
      {"redraw_off_fails.json", 0, 1, 1, "stack_demo: warning: failed to disable redraw\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Demo d(load_scenario(std::filesystem::path(NUV_SOURCE_DIR) / "scenarios" / c.file));
    d.expect_clean_end(c.status);
    EXPECT_EQ(d.g->console(), c.console);
    EXPECT_EQ(d.frames(), c.frames);
    EXPECT_EQ(d.count(SVC_gui_attach), c.handle == 1 ? 0u : 1u);
    EXPECT_EQ(d.count(SVC_gui_set_continuous_redraw), c.handle < 0 ? 0u : 2u);
    if (c.handle >= 0) {
      EXPECT_EQ(d.picture().at(400, 95), kTitleActive);
      EXPECT_EQ(d.compositor().continuous_redraw(c.handle), !c.console.empty());
    }
  }
}

// The runner's GUI options. The screenshots a scenario asks for show the checkerboard, whose
// phase changes every ten frames, and text in the banner's and the status line's colours inside
// their rows; the last frame is saved as the last screenshot shows it.
TEST(DemoScenario, TheRunnersGuiOptionsAndTheScreenshotsTheyTake) {
  ScratchDir dir;
  std::string readme = std::string(NUV_SOURCE_DIR) + "/scenarios/readme.json";
  std::filesystem::path shots = dir.path / "shots", last = dir.path / "last.png";
  spit(dir.path / "typo.json", R"({"fail": ["gui_crate"]})");
  struct Case {
    std::vector<std::string> options;
    int status;
    std::string err;  // part of standard error
  } cases[] = {
      {{"--size", "640"}, 2, "--size: must be WIDTHxHEIGHT"},
      {{"--size", "5000x10"}, 2, "each 1 to 4096"},
      {{"--display", "tv"}, 2, "--display"},
      {{"--frame-limit", "0"}, 2, "--frame-limit"},
      {{"--scenario", (dir.path / "typo.json").string()}, 2, "typo.json: fail[0]: unknown failure"},
      {{"--display", "headless", "--font", "/nonexistent.psf.gz"}, 125, "console-setup-linux"},
      {{"--display", "headless", "--frame-limit", "3"}, 124, "frame limit of 3 frames"},
      {{"--scenario", readme, "--screenshots", shots.string(), "--save-last", last.string()},
       0,
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.options));
    std::string cmd = quoted(runner_path());
    for (const auto& o : c.options) cmd += " " + quoted(o);
    Outcome o = shell(cmd + " " + guest_program("stack_demo"));
    EXPECT_EQ(o.status, c.status);
    EXPECT_NE(o.err.find(c.err), std::string::npos) << o.err;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(shots), {}), 5);
  auto png = [](const std::filesystem::path& file) {
    std::string error;
    auto picture = read_png(file, &error);
    EXPECT_TRUE(picture) << error;
    return picture.value_or(Surface(640, 360));
  };
  // Frames 0 and 12 of five taken, then the last one, 34.
  Surface first = png(shots / "frame-00000.png");
  expect_pixels(first, {{12, 36, kShadeOdd}, {36, 36, kShadeEven}, {630, 340, kShadeEven}});
  expect_pixels(png(shots / "frame-00012.png"),
                {{12, 36, kShadeEven}, {36, 36, kShadeOdd}, {630, 340, kShadeOdd}});
  EXPECT_EQ(png(last).pixels, png(shots / "frame-00034.png").pixels);
  for (auto [colour, top] : {std::pair{rgb(222, 222, 222), 6}, {rgb(210, 225, 255), 346}}) {
    size_t inside = 0, astray = 0;
    for (int32_t y = 0; y < first.height; ++y) {
      for (int32_t x = 0; x < first.width; ++x) {
        if (first.at(x, y) == colour) ++(y >= top && y < top + 14 && x >= 8 ? inside : astray);
      }
    }
    EXPECT_GT(inside, 100u);
    EXPECT_EQ(astray, 0u);
  }
}

// A program that ends in the middle of a frame, at a key, without presenting it: the
// screenshot asked for that frame is what the display showed then, and the frames it never
// reached are named.
TEST(DemoScenario, TheScreenshotOfTheFrameAProgramEndsInIsWritten) {
  ScratchDir dir;
  spit(dir.path / "quit.json", R"({"events": [{"frame": 3, "key": "q"}],
                                  "screenshots": [1, 3, 5, 9]})");
  std::filesystem::path shots = dir.path / "shots";
  Outcome o =
      shell(quoted(runner_path()) + " --scenario " + quoted((dir.path / "quit.json").string()) +
            " --screenshots " + quoted(shots.string()) + " " + guest_program("prog_gui_quit"));
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.err,
            "nuvrelos-run: --screenshots: frames 5 and 9 not written: the program ended "
            "in frame 3\n");
  struct Case {
    const char* file;
    uint8_t grey;  // frame N is grey N
  };
  for (const Case& c : {Case{"frame-00001.png", 1}, Case{"frame-00003.png", 2}}) {
    SCOPED_TRACE(c.file);
    std::string error;
    auto picture = read_png(shots / c.file, &error);
    ASSERT_TRUE(picture) << error;
    EXPECT_EQ(picture->at(320, 180), rgb(c.grey, c.grey, c.grey));
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(shots), {}), 2);
}

}  // namespace
}  // namespace nuv::test
