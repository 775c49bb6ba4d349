// The demo in a real SDL window on a virtual X display (Xvfb), driven by xdotool: the window
// shows the same picture as the headless run, a drag and a q typed into it are recorded, and
// the recording replays headless to the window's last frame. Skipped where Xvfb or xdotool is
// not installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/gui/compositor.h"
#include "host/gui/png_file.h"
#include "host/runner/exit_status.h"
#include "tests/harness/guest.h"
#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

using Clock = std::chrono::steady_clock;

// Looks again and again until `done` holds; false when patience runs out first. The things
// looked at (the X screen, a log) give no signal when they change.
bool eventually(const std::function<bool()>& done) {
  for (auto deadline = Clock::now() + kPatience; Clock::now() < deadline;
       std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
    if (done()) return true;
  }
  return false;
}

// A number after "name=" or "name:" in xdotool's output.
int32_t field(const std::string& text, const std::string& name) {
  for (char sep : {'=', ':'}) {
    size_t at = text.find(name + sep);
    if (at != std::string::npos) return std::atoi(text.c_str() + at + name.size() + 1);
  }
  return -1;
}

// A 640 x 360 rectangle of the X screen, read from the XWD image Xvfb keeps of it with -fbdir
// (32-bit little-endian RGB pixels in ZPixmap format); nullopt while there is none.
std::optional<Surface> screen_region(const std::filesystem::path& xwd, int32_t x, int32_t y) {
  std::ifstream in(xwd, std::ios::binary);
  std::vector<uint8_t> d((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto be32 = [&](size_t at) {
    return (uint32_t{d[at]} << 24) | (uint32_t{d[at + 1]} << 16) | (uint32_t{d[at + 2]} << 8) |
           d[at + 3];
  };
  const int32_t w = 640, h = 360;
  if (d.size() < 100) return std::nullopt;
  size_t pixels = size_t{be32(0)} + size_t{be32(76)} * 12, line = be32(48);
  EXPECT_TRUE(be32(8) == 2 && be32(44) == 32 && be32(28) == 0 && be32(56) == 0xFF0000 &&
              be32(60) == 0xFF00 && be32(64) == 0xFF)
      << "the screen is not 32-bit little-endian RGB";
  EXPECT_TRUE(x >= 0 && y >= 0 && uint32_t(x + w) <= be32(16) && uint32_t(y + h) <= be32(20))
      << "the window lies outside the screen";
  if (d.size() < pixels + line * be32(20) || x < 0 || y < 0) return std::nullopt;
  Surface s(w, h);
  for (int32_t row = 0; row < h; ++row) {
    const uint8_t* p = &d[pixels + size_t(y + row) * line + size_t(x) * 4];
    for (int32_t col = 0; col < w; ++col, p += 4) s.row(row)[col] = rgb(p[2], p[1], p[0]);
  }
  return s;
}

// The picture headless frame `frame` presents, with the pointer reported once at (x, y) in the
// first frame, or with no input at all.
Surface headless_frame(uint32_t frame, std::optional<std::pair<int32_t, int32_t>> pointer) {
  GuestOptions options;
  options.gui.frame_limit = frame + 1;
  if (pointer)
    options.gui.scenario.events = {{0, pointer_event(pointer->first, pointer->second, 0)}};
  Guest g("stack_demo", options);
  RunResult r = g.run({"stack_demo"});
  EXPECT_EQ(r.stop.cause, RunStop::Cause::Limit) << r.message;
  const Compositor& c = g.kernel().compositor();
  return *c.presented(c.shown_handle());
}

// How many frames the program has presented so far, from the --strace log.
size_t presents(const std::filesystem::path& log) {
  std::string text = slurp(log);
  size_t n = 0;
  for (size_t at = 0; (at = text.find("gui_present(", at)) != std::string::npos; ++at) ++n;
  return n;
}

TEST(Interactive, AWindowSessionShowsTheHeadlessPictureAndReplaysToItsLastFrame) {
  if (!XServer::available()) GTEST_SKIP() << "needs Xvfb and xdotool";
  ScratchDir scratch;
  const std::filesystem::path& dir = scratch.path;
  XServer x_server(dir, /*keep_screen=*/true);
  ASSERT_TRUE(x_server.started()) << "Xvfb did not start";

  const std::string runner = runner_path();
  std::filesystem::path recording = dir / "session.json", window_last = dir / "window.png",
                        log = dir / "window.log";
  Child demo(
      {runner, "--display", "window", "--record", recording.string(), "--save-last",
       window_last.string(), "--frame-limit", "100000", "--strace", guest_program("stack_demo")},
      log);
  // xdotool's --sync waits until the window is there.
  std::string id = capture("timeout " + std::to_string(kPatience.count()) +
                           " xdotool search --sync --name '^Stack Demo'");
  id = id.substr(0, id.find('\n'));
  ASSERT_FALSE(id.empty()) << "no window appeared; the runner said: " << slurp(log).substr(0, 2000)
                           << "\nXvfb said: " << slurp(dir / "xvfb.log");
  EXPECT_EQ(capture("xdotool getwindowname " + id), "Stack Demo \u2014 drag/click to stack");
  std::string geometry = capture("xdotool getwindowgeometry --shell " + id);
  ASSERT_EQ(field(geometry, "WIDTH"), 640) << geometry;
  ASSERT_EQ(field(geometry, "HEIGHT"), 360) << geometry;
  int32_t x = field(geometry, "X"), y = field(geometry, "Y");

  // Xvfb's pointer stays where it starts (the centre of the screen, which the centred window
  // covers), and the window reports it once on entering. Without other input the picture then
  // depends only on that and on the checkerboard's phase.
  std::string mouse = capture("xdotool getmouselocation");
  std::pair<int32_t, int32_t> pointer = {field(mouse, "x") - x, field(mouse, "y") - y};
  std::vector<Surface> expected;
  for (uint32_t frame : {0u, 10u}) {
    expected.push_back(headless_frame(frame, std::nullopt));
    expected.push_back(headless_frame(frame, pointer));
  }
  auto same_as_headless = [&](const Surface& s) {
    return std::any_of(expected.begin(), expected.end(),
                       [&](const Surface& e) { return e.pixels == s.pixels; });
  };
  // Retried, since the screen may be read mid-update.
  EXPECT_TRUE(eventually([&] {
    auto shown = screen_region(dir / "Xvfb_screen0", x, y);
    return shown && same_as_headless(*shown);
  })) << "the window never showed the headless picture";

  // Each step waits until the program has drawn a few more frames, so it sees them apart:
  // press on the blue window's title bar, drag it in two moves, let go, quit.
  const std::vector<std::string> steps = {"mousemove --window " + id + " 120 86", "mousedown 1",
                                          "mousemove --window " + id + " 180 120",
                                          "mousemove --window " + id + " 260 190", "mouseup 1"};
  for (const std::string& step : steps) {
    SCOPED_TRACE(step);
    size_t before = presents(log);
    capture("xdotool " + step);
    ASSERT_TRUE(eventually([&] { return presents(log) >= before + 3; }))
        << "the program stopped drawing";
  }
  capture("xdotool windowfocus --sync " + id + " key q");
  auto status = demo.wait_exit();
  ASSERT_TRUE(status) << "q did not end the demo";
  ASSERT_EQ(*status, 0);

  // Replayed, the recording must bring the drag (the last picture shows it) and the q (a
  // replay that runs out of input stops at its frame limit, status 124).
  std::filesystem::path replay_last = dir / "replay.png";
  Outcome replayed =
      shell(quoted(runner) + " --scenario " + quoted(recording.string()) + " --save-last " +
            quoted(replay_last.string()) + " " + quoted(guest_program("stack_demo")));
  EXPECT_EQ(replayed.status, 0) << replayed.err;
  std::string error;
  auto window = read_png(window_last, &error);
  ASSERT_TRUE(window) << error;
  EXPECT_FALSE(same_as_headless(*window)) << "the drag moved nothing";
  auto replay = read_png(replay_last, &error);
  ASSERT_TRUE(replay) << error;
  EXPECT_TRUE(window->width == replay->width && window->pixels == replay->pixels)
      << "the replay ended on another picture";
}

// Another program takes the window away: destroys it (as a window manager's close button
// cannot be made to) or cuts the runner's connection to the X server. The run ends as a closed
// window ends it, and what was asked for is still written.
TEST(Interactive, AWindowDestroyedByAnotherProgramStillEndsTheRunCleanly) {
  if (!XServer::available()) GTEST_SKIP() << "needs Xvfb and xdotool";
  for (const std::string how : {"windowclose", "windowkill"}) {
    SCOPED_TRACE(how);
    ScratchDir scratch;
    const std::filesystem::path& dir = scratch.path;
    XServer x_server(dir, /*keep_screen=*/false);
    ASSERT_TRUE(x_server.started()) << "Xvfb did not start";
    std::filesystem::path recording = dir / "session.json", last = dir / "last.png";
    Child demo({runner_path(), "--display", "window", "--record", recording.string(), "--save-last",
                last.string(), "--frame-limit", "100000", guest_program("stack_demo")},
               dir / "out.log", -1, dir / "err.log");
    std::string id = capture("timeout " + std::to_string(kPatience.count()) +
                             " xdotool search --sync --name '^Stack Demo'");
    id = id.substr(0, id.find('\n'));
    ASSERT_FALSE(id.empty()) << "no window appeared: " << slurp(dir / "err.log");
    capture("xdotool " + how + " " + id);
    auto status = demo.wait_exit();
    ASSERT_TRUE(status) << "the runner did not end";
    EXPECT_EQ(*status, 0) << slurp(dir / "err.log");
    EXPECT_EQ(slurp(dir / "err.log"), "nuvrelos-run: the window was destroyed\n");
    // The recording replays headless: the frames the window showed, then the same end.
    Outcome replayed = shell(quoted(runner_path()) + " --scenario " + quoted(recording.string()) +
                             " " + guest_program("stack_demo"));
    EXPECT_EQ(replayed.status, kLimitStatus) << replayed.err;
    EXPECT_TRUE(std::filesystem::exists(last));
  }
}

}  // namespace
}  // namespace nuv::test
