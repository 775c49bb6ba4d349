// The demo served over VNC by the runner (--display vnc), watched and driven by viewers inside
// the test: the picture a viewer gets is the headless picture pixel for pixel, whatever the
// encoding; a drag and a q from a viewer are recorded and replay headless to the same last
// frame; viewers that misbehave (garbage, vanishing mid-update, stalling, too many) never stop
// the program; a password keeps others out; bad options are refused; noVNC in a real browser
// shows the demo.
#include "host/gui/vnc_display.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <rfb/keysym.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
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
#include "tests/harness/vnc_viewer.h"

namespace nuv::test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds patience = kPatience) {
  for (auto deadline = Clock::now() + patience; Clock::now() < deadline;
       std::this_thread::sleep_for(20ms)) {
    if (done()) return true;
  }
  return false;
}

// The picture headless frame `frame` presents when the program gets no input.
Surface headless_frame(uint32_t frame) {
  GuestOptions options;
  options.gui.frame_limit = frame + 1;
  Guest g("stack_demo", options);
  RunResult r = g.run({"stack_demo"});
  EXPECT_EQ(r.stop.cause, RunStop::Cause::Limit) << r.message;
  const Compositor& c = g.kernel().compositor();
  return *c.presented(c.shown_handle());
}

// Without input the demo's picture changes only with the checkerboard's phase, every 10 frames.
const std::vector<Surface>& untouched_pictures() {
  static const std::vector<Surface> pictures = {headless_frame(0), headless_frame(10)};
  return pictures;
}

bool untouched(const Surface& s) {
  for (const Surface& e : untouched_pictures()) {
    if (e.width == s.width && e.pixels == s.pixels) return true;
  }
  return false;
}

// The runner serving stack_demo over VNC; its standard error (with every gui_present traced)
// in a log.
class VncRun {
 public:
  explicit VncRun(std::vector<std::string> options = {}, std::string display = "vnc") {
    std::vector<std::string> argv = {runner_path(), "--display",      display,
                                     "--strace",    "--trace-filter", "gui_present"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(guest_program("stack_demo"));
    child_.emplace(argv, log());
    // The runner names its port before the program runs.
    eventually([&] {
      std::string text = slurp(log());
      size_t at = text.find("VNC display on ");
      if (at == std::string::npos) return false;
      size_t colon = text.find(':', at + 15);
      port_ = static_cast<uint16_t>(std::atoi(text.c_str() + colon + 1));
      return true;
    });
  }
  uint16_t port() const { return port_; }
  std::filesystem::path dir() const { return scratch_.path; }
  std::filesystem::path log() const { return scratch_.path / "runner.log"; }
  std::string said() const { return slurp(log()).substr(0, 3000); }
  size_t presents() const {
    std::string text = slurp(log());
    size_t n = 0;
    for (size_t at = 0; (at = text.find("gui_present(", at)) != std::string::npos; ++at) ++n;
    return n;
  }
  // Until the program has presented `more` frames beyond now.
  bool keeps_presenting(size_t more = 3) const {
    size_t before = presents();
    return eventually([&] { return presents() >= before + more; });
  }
  std::optional<int> wait_exit() { return child_->wait_exit(); }

 private:
  ScratchDir scratch_;
  std::optional<Child> child_;
  uint16_t port_ = 0;
};

// A viewer that quits the demo with q and sees it end well.
void quit_with_q(VncRun& run, VncViewer& viewer) {
  ASSERT_TRUE(viewer.type(XK_q));
  auto status = run.wait_exit();
  ASSERT_TRUE(status) << "q did not end the demo; the runner said: " << run.said();
  EXPECT_EQ(*status, 0) << run.said();
}

TEST(Vnc, EveryViewerGetsTheHeadlessPicturePixelForPixelWhateverTheEncoding) {
  VncRun run;
  ASSERT_NE(run.port(), 0) << run.said();
  struct Case {
    const char* encodings;
  };
  const Case cases[] = {{"raw"}, {"zrle"}, {"hextile"}, {"tight"}, {"zlib"}, {"copyrect rre"}};
  // All connected at once: several viewers watch together.
  std::vector<std::unique_ptr<VncViewer>> viewers;
  for (const Case& c : cases)
    viewers.push_back(std::make_unique<VncViewer>(run.port(), "", c.encodings));
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].encodings);
    VncViewer& v = *viewers[i];
    ASSERT_TRUE(v.connected()) << run.said();
    EXPECT_EQ(v.picture().width, 640);
    EXPECT_EQ(v.picture().height, 360);
    EXPECT_TRUE(v.until(untouched)) << "the viewer never showed the headless picture";
  }
  // The next phase of the checkerboard arrives as changes only, and comes out right too.
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].encodings);
    const Surface first = viewers[i]->picture();
    EXPECT_TRUE(viewers[i]->until(
        [&](const Surface& s) { return s.pixels != first.pixels && untouched(s); }));
  }
  quit_with_q(run, *viewers[0]);
}

TEST(Vnc, ADragAndAQFromAViewerAreRecordedAndReplayHeadlessToTheSameLastFrame) {
  ScratchDir scratch;
  std::filesystem::path recording = scratch.path / "session.json", last = scratch.path / "last.png";
  VncRun run({"--record", recording.string(), "--save-last", last.string()});
  VncViewer viewer(run.port());
  ASSERT_TRUE(viewer.connected()) << run.said();
  ASSERT_TRUE(viewer.until(untouched));
  // Each step lands in frames of its own, as a hand would make them: press on the blue
  // window's title bar, drag it in two moves, let go.
  struct Step {
    int32_t x, y, mask;
  };
  const Step steps[] = {{120, 86, 0}, {120, 86, 1}, {180, 120, 1}, {260, 190, 1}, {260, 190, 0}};
  for (const Step& s : steps) {
    SCOPED_TRACE(std::to_string(s.x) + "," + std::to_string(s.y) + " mask " +
                 std::to_string(s.mask));
    ASSERT_TRUE(viewer.pointer(s.x, s.y, s.mask));
    ASSERT_TRUE(run.keeps_presenting()) << "the program stopped drawing";
  }
  ASSERT_TRUE(viewer.read_for(100ms));
  EXPECT_FALSE(untouched(viewer.picture())) << "the drag moved nothing on the viewer";
  quit_with_q(run, viewer);

  Outcome replayed = shell(quoted(runner_path()) + " --scenario " + quoted(recording.string()) +
                           " --save-last " + quoted((scratch.path / "replay.png").string()) + " " +
                           quoted(guest_program("stack_demo")));
  EXPECT_EQ(replayed.status, 0) << replayed.err;
  std::string error;
  auto shown = read_png(last, &error);
  ASSERT_TRUE(shown) << error;
  EXPECT_FALSE(untouched(*shown)) << "the drag moved nothing";
  auto replay = read_png(scratch.path / "replay.png", &error);
  ASSERT_TRUE(replay) << error;
  EXPECT_TRUE(shown->pixels == replay->pixels) << "the replay ended on another picture";
}

// A connection that speaks RFB by hand, for viewers that misbehave.
class RawViewer {
 public:
  explicit RawViewer(uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval patience{10, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) close();
  }
  ~RawViewer() { close(); }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  // Ends with a reset rather than an orderly close, as a killed viewer's machine may.
  void vanish() {
    linger abrupt{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abrupt, sizeof abrupt);
    close();
  }
  bool send(const std::string& bytes) {
    return fd_ >= 0 &&
           ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
  }
  std::optional<std::string> read(size_t n) {
    std::string out(n, '\0');
    for (size_t got = 0; got < n;) {
      ssize_t r = ::recv(fd_, out.data() + got, n - got, 0);
      if (r <= 0) return std::nullopt;
      got += size_t(r);
    }
    return out;
  }
  // Version, no security, shared, up to the server's init message.
  bool handshake() {
    auto version = read(12);
    if (!version || !send("RFB 003.008\n")) return false;
    auto count = read(1);
    if (!count || !read(uint8_t((*count)[0])) || !send(std::string(1, '\1'))) return false;
    auto result = read(4);
    if (!result || *result != std::string(4, '\0') || !send(std::string(1, '\1'))) return false;
    auto init = read(24);
    if (!init) return false;
    size_t name = (uint8_t((*init)[20]) << 24) | (uint8_t((*init)[21]) << 16) |
                  (uint8_t((*init)[22]) << 8) | uint8_t((*init)[23]);
    return read(name).has_value();
  }
  bool request_whole_picture() {
    const char msg[] = {3, 0, 0, 0, 0, 0, 2, char(0x80), 1, 0x68};  // 640 x 360 from 0,0
    return send(std::string(msg, sizeof msg));
  }
  // True when the server has closed the connection (within the patience of a read).
  bool closed_by_server() {
    char c;
    for (;;) {
      ssize_t r = ::recv(fd_, &c, 1, 0);
      if (r == 0) return true;
      if (r < 0) return errno == ECONNRESET;
    }
  }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

TEST(Vnc, ViewersThatMisbehaveNeverStopTheProgramNorTheOtherViewers) {
  VncRun run;
  VncViewer good(run.port());
  ASSERT_TRUE(good.connected()) << run.said();
  ASSERT_TRUE(good.until(untouched));
  struct Case {
    const char* name;
    std::function<void(const VncRun& run, uint16_t port)> misbehave;
  };
  const Case cases[] = {
      {"garbage instead of a version",
       [](const VncRun&, uint16_t port) {
         RawViewer v(port);
         v.send(std::string(4000, '\xff'));
         EXPECT_TRUE(v.closed_by_server());
       }},
      {"an HTTP request that is no WebSocket",
       [](const VncRun&, uint16_t port) {
         RawViewer v(port);
         v.send("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
         EXPECT_TRUE(v.closed_by_server());
       }},
      {"garbage messages after the handshake",
       [](const VncRun&, uint16_t port) {
         RawViewer v(port);
         ASSERT_TRUE(v.handshake());
         std::string junk;
         for (int i = 0; i < 2000; ++i) junk += char(i * 37 + 11);
         v.send(junk);
         EXPECT_TRUE(v.closed_by_server());
       }},
      {"a huge cut text",
       [](const VncRun&, uint16_t port) {
         RawViewer v(port);
         ASSERT_TRUE(v.handshake());
         v.send(std::string("\x06\0\0\0\x7f\xff\xff\xff", 8) + "abc");
         v.vanish();
       }},
      {"a viewer that vanishes in the middle of an update",
       [](const VncRun&, uint16_t port) {
         RawViewer v(port);
         ASSERT_TRUE(v.handshake());
         ASSERT_TRUE(v.request_whole_picture());
         EXPECT_TRUE(v.read(100).has_value());
         v.vanish();
       }},
      {"a viewer that asks for pictures and never reads them",
       [](const VncRun& run, uint16_t port) {
         RawViewer v(port);
         ASSERT_TRUE(v.handshake());
         int small = 4096;
         ::setsockopt(v.fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
         for (int i = 0; i < 200; ++i) v.request_whole_picture();
         // The server waits for it to read, then drops it (a hang-up, seen without reading);
         // meanwhile the program goes on at its pace, some 60 frames a second.
         size_t before = run.presents();
         pollfd hang_up = {v.fd(), POLLRDHUP, 0};
         ASSERT_EQ(::poll(&hang_up, 1, 8 * VncDisplay::kWriteWaitMs), 1)
             << "the server never dropped the viewer that does not read";
         EXPECT_GE(run.presents(), before + 30) << "the program waited for the stalled viewer";
       }},
      {"more viewers than the server takes",
       [](const VncRun&, uint16_t port) {
         std::vector<std::unique_ptr<RawViewer>> crowd;
         for (int i = 1; i < VncDisplay::kMaxViewers; ++i) {
           crowd.push_back(std::make_unique<RawViewer>(port));
           ASSERT_TRUE(crowd.back()->handshake()) << "viewer " << i + 1;
         }
         RawViewer one_too_many(port);
         EXPECT_TRUE(one_too_many.closed_by_server()) << "the server took too many viewers";
         crowd.clear();
         // Their places are free again.
         EXPECT_TRUE(eventually([&] {
           RawViewer again(port);
           return again.handshake();
         }));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.misbehave(run, run.port());
    EXPECT_TRUE(run.keeps_presenting()) << "the program stopped: " << run.said();
    uint64_t before = good.updates();
    EXPECT_TRUE(good.until([&](const Surface&) { return good.updates() > before + 1; }))
        << "the good viewer gets no more pictures";
  }
  quit_with_q(run, good);
}

TEST(Vnc, APasswordLetsInOnlyViewersWhoGiveIt) {
  ScratchDir scratch;
  spit(scratch.path / "password", "sesame\n");
  // Beyond loopback, as a password allows; the viewers still come from this machine.
  VncRun run({"--vnc-password-file", (scratch.path / "password").string()}, "vnc=0.0.0.0:0");
  ASSERT_NE(run.port(), 0) << run.said();
  struct Case {
    const char* password;
    bool admitted;
  };
  const Case cases[] = {{"sesame", true}, {"sesamE", false}, {"", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.password);
    VncViewer v(run.port(), c.password);
    EXPECT_EQ(v.connected(), c.admitted);
    if (c.admitted) {
      EXPECT_TRUE(v.until(untouched));
    }
  }
  VncViewer last(run.port(), "sesame");
  ASSERT_TRUE(last.connected());
  quit_with_q(run, last);
}

TEST(Vnc, BadVncOptionsAreRefusedWithOneLineAndStatus2) {
  ScratchDir scratch;
  spit(scratch.path / "empty", "");
  spit(scratch.path / "password", "sesame\n");
  int busy = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(busy, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(busy, 1), 0);
  socklen_t length = sizeof a;
  ::getsockname(busy, reinterpret_cast<sockaddr*>(&a), &length);
  std::string busy_at = "vnc=127.0.0.1:" + std::to_string(ntohs(a.sin_port));
  struct Case {
    std::string options;
    std::string says;
  };
  const std::string pw = " --vnc-password-file " + quoted((scratch.path / "password").string());
  const Case cases[] = {
      {"--display vnc=", "expected ADDRESS:PORT"},
      {"--display vnc=5900", "expected ADDRESS:PORT"},
      {"--display vnc=example.org:5900", "not an IPv4 address"},
      {"--display vnc=1.2.3:5900", "not an IPv4 address"},
      {"--display vnc=:65536", "not a number from 0 to 65535"},
      {"--display vnc=:59x", "not a number from 0 to 65535"},
      {"--display vnc=0.0.0.0:0", "needs a password"},
      {"--display vnc=192.168.1.1:5900", "needs a password"},
      {"--display vncx", "must be auto, headless, window or vnc"},
      {"--display headless" + pw, "only --display vnc has one"},
      {"--display vnc --vnc-password-file " + quoted((scratch.path / "empty").string()),
       "holds no password"},
      {"--display vnc --vnc-password-file " + quoted((scratch.path / "missing").string()),
       "cannot read"},
      {"--display " + busy_at, "cannot listen on"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    Outcome o =
        shell(quoted(runner_path()) + " " + c.options + " " + quoted(guest_program("stack_demo")));
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
    EXPECT_EQ(o.out, "");
  }
  ::close(busy);
}

TEST(Vnc, OnlyRunsThatServeVncLoadLibVncServer) {
  struct Case {
    const char* display;
    bool loads;
  };
  const Case cases[] = {{"headless", false}, {"vnc", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.display);
    // The dynamic loader names every library it opens.
    Outcome o = shell("LD_DEBUG=files " + quoted(runner_path()) + " --display " + c.display +
                      " --frame-limit 1 " + quoted(guest_program("stack_demo")));
    EXPECT_EQ(o.status, kLimitStatus) << o.err.substr(0, 2000);
    EXPECT_EQ(o.err.find("libvncserver.so") != std::string::npos, c.loads);
  }
}

// How much of `shot` at (ox, oy), sampled every `step` pixels, is `picture` give or take
// `tolerance` per channel (the browser's viewer may ask for lossy JPEG).
double likeness(const Surface& shot, const Surface& picture, int32_t ox, int32_t oy, int32_t step) {
  const int32_t tolerance = 24;
  size_t alike = 0, all = 0;
  for (int32_t y = 0; y < picture.height; y += step) {
    for (int32_t x = 0; x < picture.width; x += step, ++all) {
      uint32_t a = shot.at(ox + x, oy + y), b = picture.at(x, y);
      auto near = [&](uint32_t p, uint32_t q) {
        return std::abs(int32_t(p) - int32_t(q)) <= tolerance;
      };
      alike += near(red_of(a), red_of(b)) && near(green_of(a), green_of(b)) &&
               near(blue_of(a), blue_of(b));
    }
  }
  return double(alike) / double(all);
}

// The best likeness of a screenshot to one of the demo's untouched pictures, anywhere in it.
double best_likeness(const Surface& shot) {
  double best = 0;
  for (const Surface& picture : untouched_pictures()) {
    int32_t bx = 0, by = 0;
    double coarse = -1;
    for (int32_t oy = 0; oy + picture.height <= shot.height; ++oy) {
      for (int32_t ox = 0; ox + picture.width <= shot.width; ++ox) {
        double l = likeness(shot, picture, ox, oy, 16);
        if (l > coarse) coarse = l, bx = ox, by = oy;
      }
    }
    if (coarse >= 0) best = std::max(best, likeness(shot, picture, bx, by, 1));
  }
  return best;
}

bool installed(const std::string& command) {
  return shell("command -v " + command + " >/dev/null").status == 0;
}

TEST(VncBrowser, NoVncInHeadlessChromiumShowsTheDemo) {
  const std::filesystem::path novnc = "/usr/share/novnc";
  if (!installed("chromium")) GTEST_SKIP() << "needs chromium (scripts/setup installs it)";
  if (!std::filesystem::exists(novnc / "vnc_lite.html")) {
    GTEST_SKIP() << "needs noVNC in " << novnc << " (Debian package novnc; scripts/setup)";
  }
  if (!installed("python3")) GTEST_SKIP() << "needs python3 to serve noVNC's pages";
  VncRun run;
  ASSERT_NE(run.port(), 0) << run.said();
  // The pages as the README serves them: any static file server will do.
  ScratchDir scratch;
  Child http({"python3", "-u", "-m", "http.server", "--bind", "127.0.0.1", "--directory",
              novnc.string(), "0"},
             scratch.path / "http.log");
  int http_port = 0;
  ASSERT_TRUE(eventually([&] {
    std::string text = slurp(scratch.path / "http.log");
    size_t at = text.find(" port ");
    if (at == std::string::npos) return false;
    http_port = std::atoi(text.c_str() + at + 6);
    return http_port != 0;
  })) << slurp(scratch.path / "http.log");
  std::string url = "http://127.0.0.1:" + std::to_string(http_port) +
                    "/vnc_lite.html?host=127.0.0.1&port=" + std::to_string(run.port());
  // noVNC connects after the page has loaded, so a screenshot can come too early: tried again
  // with more time before it is given up.
  double best = 0;
  for (int budget_ms : {3000, 8000, 20000}) {
    SCOPED_TRACE(budget_ms);
    std::filesystem::path shot = scratch.path / "shot.png";
    std::filesystem::remove(shot);
    Outcome o = shell(
        "timeout 100 chromium --headless --no-sandbox --disable-gpu "
        "--disable-background-networking --disable-component-update --disable-sync "
        "--no-first-run --user-data-dir=" +
        nuv::test::quoted((scratch.path / "profile").string()) +
        " --window-size=800,500 --virtual-time-budget=" + std::to_string(budget_ms) +
        " --screenshot=" + nuv::test::quoted(shot.string()) + " " + nuv::test::quoted(url));
    std::string error;
    auto picture = read_png(shot, &error);
    ASSERT_TRUE(picture) << error << "\nchromium said: " << o.err.substr(0, 3000);
    best = std::max(best, best_likeness(*picture));
    if (best >= 0.97) break;
  }
  EXPECT_GE(best, 0.97) << "the browser's page does not show the demo";
  VncViewer viewer(run.port());
  ASSERT_TRUE(viewer.connected());
  quit_with_q(run, viewer);
}

}  // namespace
}  // namespace nuv::test
