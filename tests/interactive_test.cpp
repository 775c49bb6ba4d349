// The demo in a real SDL window on a virtual X display (Xvfb): the window shows the same
// picture as the headless run, and a q typed into it (xdotool) ends the demo with status 0.
// Skipped where Xvfb or xdotool is not installed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
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
constexpr auto kPatience = std::chrono::seconds(15);

bool on_path(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "";
  size_t at = 0;
  while (at <= dirs.size()) {
    size_t end = dirs.find(':', at);
    if (end == std::string::npos) end = dirs.size();
    std::filesystem::path candidate = std::filesystem::path(dirs.substr(at, end - at)) / name;
    if (::access(candidate.c_str(), X_OK) == 0) return true;
    at = end + 1;
  }
  return false;
}

// A child process of this test; killed at the end if it is still running.
struct Child {
  pid_t pid = -1;
  ~Child() { stop(); }
  void stop() {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
  }
  // The exit status, or nullopt when it has not ended in time (it is then killed).
  std::optional<int> wait_exit(std::chrono::seconds patience) {
    auto deadline = Clock::now() + patience;
    while (Clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop();
    return std::nullopt;
  }
};

// Starts argv with its output in log (and, when keep_fd >= 0, that descriptor left open).
pid_t spawn(const std::vector<std::string>& argv, const std::string& log, int keep_fd = -1) {
  pid_t pid = ::fork();
  if (pid != 0) return pid;
  int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out >= 0) {
    ::dup2(out, 1);
    ::dup2(out, 2);
  }
  for (int fd = 3; fd < 256; ++fd) {
    if (fd != keep_fd) ::close(fd);
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  ::execvp(args[0], args.data());
  ::_exit(127);
}

std::string capture(const std::string& command) {
  std::string out;
  if (std::FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r")) {
    char buf[256];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

struct TempDir {
  std::filesystem::path path;
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "nuv-x-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("no temp dir");
    path = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

uint32_t be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// A rectangle of the X screen, read from the XWD image Xvfb keeps of it with -fbdir.
std::optional<Surface> screen_region(const std::filesystem::path& xwd, int32_t x, int32_t y,
                                     int32_t w, int32_t h, std::string* why) {
  std::ifstream in(xwd, std::ios::binary);
  std::vector<uint8_t> d((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (d.size() < 100) {
    *why = "no screen image";
    return std::nullopt;
  }
  uint32_t header = be32(&d[0]), format = be32(&d[8]), width = be32(&d[16]), height = be32(&d[20]),
           byte_order = be32(&d[28]), bpp = be32(&d[44]), line = be32(&d[48]), red = be32(&d[56]),
           green = be32(&d[60]), blue = be32(&d[64]), colours = be32(&d[76]);
  if (format != 2 || bpp != 32 || byte_order != 0 || red != 0xFF0000 || green != 0xFF00 ||
      blue != 0xFF) {
    *why = "the screen is not 32-bit little-endian RGB";
    return std::nullopt;
  }
  size_t pixels = size_t{header} + size_t{colours} * 12;
  if (x < 0 || y < 0 || uint32_t(x + w) > width || uint32_t(y + h) > height ||
      d.size() < pixels + size_t{line} * height) {
    *why = "the window lies outside the screen image";
    return std::nullopt;
  }
  Surface s(w, h);
  for (int32_t row = 0; row < h; ++row) {
    const uint8_t* p = &d[pixels + size_t(y + row) * line + size_t(x) * 4];
    for (int32_t col = 0; col < w; ++col, p += 4) {
      s.row(row)[col] = rgb(p[2], p[1], p[0]);
    }
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

// A number after "name=" or "name:" in xdotool's output.
int32_t field(const std::string& text, const std::string& name) {
  for (char sep : {'=', ':'}) {
    size_t at = text.find(name + sep);
    if (at != std::string::npos) return std::atoi(text.c_str() + at + name.size() + 1);
  }
  return -1;
}

TEST(Interactive, TheDemoInAWindowShowsTheHeadlessPictureAndQuitsOnQ) {
  if (!on_path("Xvfb") || !on_path("xdotool")) GTEST_SKIP() << "needs Xvfb and xdotool";
  TempDir dir;
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  Child xvfb;
  xvfb.pid = spawn({"Xvfb", "-displayfd", std::to_string(ready[1]), "-screen", "0", "1024x768x24",
                    "-fbdir", dir.path.string(), "-nolisten", "tcp"},
                   (dir.path / "xvfb.log").string(), ready[1]);
  ::close(ready[1]);
  std::string number;
  pollfd p = {ready[0], POLLIN, 0};
  char c = 0;
  while (::poll(&p, 1, 10000) > 0 && ::read(ready[0], &c, 1) == 1 && c != '\n') number += c;
  ::close(ready[0]);
  ASSERT_FALSE(number.empty()) << "Xvfb did not start";
  ::setenv("DISPLAY", (":" + number).c_str(), 1);
  ::unsetenv("WAYLAND_DISPLAY");

  std::filesystem::path last = dir.path / "last.png";
  Child demo;
  demo.pid =
      spawn({std::string(NUV_BINARY_DIR) + "/host/nuvrelos-run", "--display", "window",
             "--save-last", last.string(), "--frame-limit", "100000", guest_program("stack_demo")},
            (dir.path / "demo.log").string());
  std::string id;
  for (auto deadline = Clock::now() + kPatience; id.empty() && Clock::now() < deadline;) {
    id = capture("xdotool search --name '^Stack Demo'");
    if (id.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  id = id.substr(0, id.find('\n'));
  ASSERT_FALSE(id.empty()) << "no window appeared";
  EXPECT_EQ(capture("xdotool getwindowname " + id), "Stack Demo \u2014 drag/click to stack");
  std::string geometry = capture("xdotool getwindowgeometry --shell " + id);
  ASSERT_EQ(field(geometry, "WIDTH"), 640) << geometry;
  ASSERT_EQ(field(geometry, "HEIGHT"), 360) << geometry;

  // Xvfb's pointer stays where it starts (the centre of the screen, which the centred window
  // covers), and the window reports it once on entering. Without other input the picture then
  // depends only on that and on the checkerboard's phase.
  std::string mouse = capture("xdotool getmouselocation");
  std::pair<int32_t, int32_t> pointer = {field(mouse, "x") - field(geometry, "X"),
                                         field(mouse, "y") - field(geometry, "Y")};
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
  std::string why;
  for (auto deadline = Clock::now() + kPatience; !matched && Clock::now() < deadline;) {
    auto shown = screen_region(dir.path / "Xvfb_screen0", field(geometry, "X"),
                               field(geometry, "Y"), 640, 360, &why);
    matched = shown && same_as_headless(*shown);
    if (!matched) std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  EXPECT_TRUE(matched) << "the window never showed the headless picture " << why;

  capture("xdotool windowfocus --sync " + id + " key q");
  auto status = demo.wait_exit(kPatience);
  ASSERT_TRUE(status) << "q did not end the demo";
  EXPECT_EQ(*status, 0);
  std::string error;
  auto saved = read_png(last, &error);
  ASSERT_TRUE(saved) << error;
  EXPECT_TRUE(same_as_headless(*saved));
}

}  // namespace
}  // namespace nuv::test
