// The demo in a real SDL window on a virtual X display (Xvfb): the window shows the same
// picture as the headless run, and a q typed into it (xdotool) ends the demo with status 0.
// Skipped where Xvfb or xdotool is not installed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/gui/compositor.h"
#include "host/gui/png_file.h"
#include "tests/harness/guest.h"

namespace nuv::test {
namespace {

using Clock = std::chrono::steady_clock;
// Each wait ends as soon as its condition holds; the bound only stops a run that is broken.
// A loaded machine can take many seconds to start a program with a window.
constexpr auto kPatience = std::chrono::seconds(50);

// Between two looks at something that gives no signal when it changes (the X screen).
void between_looks() { std::this_thread::sleep_for(std::chrono::milliseconds(30)); }

// A child process of this test, with its output in log (keep_fd left open); killed at the end
// if it is still running.
struct Child {
  pid_t pid;
  Child(const std::vector<std::string>& argv, const std::string& log, int keep_fd = -1) {
    if ((pid = ::fork()) != 0) return;
    int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    ::dup2(out, 2);
    for (int fd = 3; fd < 256; ++fd) {
      if (fd != keep_fd) ::close(fd);
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  ~Child() {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
  // The exit status once it has ended, or nullopt when it has not ended within `patience`.
  std::optional<int> wait_exit(std::chrono::milliseconds patience = kPatience) {
    // A descriptor that becomes readable when the process ends: no polling.
    int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) return std::nullopt;
    pollfd p = {fd, POLLIN, 0};
    int ready = ::poll(&p, 1, static_cast<int>(patience.count()));
    ::close(fd);
    int status = 0;
    if (ready != 1 || ::waitpid(pid, &status, 0) != pid) return std::nullopt;
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
};

std::string capture(const std::string& command) {
  std::string out;
  if (std::FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r")) {
    char buf[256];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
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
  EXPECT_EQ(r.status, kFrameLimitStatus) << r.message;
  const Compositor& c = g.kernel().compositor();
  return *c.presented(c.shown_handle());
}

TEST(Interactive, TheDemoInAWindowShowsTheHeadlessPictureAndQuitsOnQ) {
  if (std::system("command -v Xvfb >/dev/null && command -v xdotool >/dev/null") != 0)
    GTEST_SKIP() << "needs Xvfb and xdotool";
  std::string tmpl = (std::filesystem::temp_directory_path() / "nuv-x-XXXXXX").string();
  ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
  std::filesystem::path dir = tmpl;
  struct Cleanup {
    std::filesystem::path dir;
    ~Cleanup() { std::filesystem::remove_all(dir); }
  } cleanup{dir};
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  Child xvfb({"Xvfb", "-displayfd", std::to_string(ready[1]), "-screen", "0", "1024x768x24",
              "-fbdir", dir.string(), "-nolisten", "tcp"},
             (dir / "xvfb.log").string(), ready[1]);
  ::close(ready[1]);
  std::string number;
  pollfd p = {ready[0], POLLIN, 0};
  char c = 0;
  const int patience_ms = static_cast<int>(std::chrono::milliseconds(kPatience).count());
  while (::poll(&p, 1, patience_ms) > 0 && ::read(ready[0], &c, 1) == 1 && c != '\n') number += c;
  ::close(ready[0]);
  ASSERT_FALSE(number.empty()) << "Xvfb did not start";
  ::setenv("DISPLAY", (":" + number).c_str(), 1);
  ::unsetenv("WAYLAND_DISPLAY");

  std::filesystem::path last = dir / "last.png";
  Child demo({std::string(NUV_BINARY_DIR) + "/host/nuvrelos-run", "--display", "window",
              "--save-last", last.string(), "--frame-limit", "100000", guest_program("stack_demo")},
             (dir / "demo.log").string());
  // xdotool's --sync waits until the window is there.
  std::string id = capture("timeout " + std::to_string(kPatience.count()) +
                           " xdotool search --sync --name '^Stack Demo'");
  id = id.substr(0, id.find('\n'));
  if (id.empty()) {
    std::ifstream log(dir / "demo.log");
    FAIL() << "no window appeared; the runner said: "
           << std::string(std::istreambuf_iterator<char>(log), {});
  }
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
  // What the window shows on the X screen; retried, since the screen may be read mid-update.
  bool matched = false;
  for (auto deadline = Clock::now() + kPatience;
       !matched && !HasFailure() && Clock::now() < deadline; between_looks()) {
    auto shown = screen_region(dir / "Xvfb_screen0", x, y);
    matched = shown && same_as_headless(*shown);
  }
  EXPECT_TRUE(matched) << "the window never showed the headless picture";

  capture("xdotool windowfocus --sync " + id + " key q");
  auto status = demo.wait_exit();
  ASSERT_TRUE(status) << "q did not end the demo";
  EXPECT_EQ(*status, 0);
  std::string error;
  auto saved = read_png(last, &error);
  ASSERT_TRUE(saved) << error;
  EXPECT_TRUE(same_as_headless(*saved));
}

}  // namespace
}  // namespace nuv::test
