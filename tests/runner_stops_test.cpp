// Stops stop: --timeout, SIGTERM, SIGINT and SIGHUP end a run promptly whatever the program is
// blocked in (a write to a pipe nobody reads, a sleep in a window, a debugger that holds it
// or never comes), with the status that says why; and a debugger cannot make the runner keep
// without bound what it sends while the program runs.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <optional>
#include <thread>

#include "tests/harness/guest.h"
#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The runner as a child whose standard output is a pipe the test holds and never reads, so
// that once the pipe is full every write of the program blocks.
class Runner {
 public:
  explicit Runner(const std::vector<std::string>& args, const std::string& display = "") {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("no pipe");
    reader_ = out[0];
    std::string err = (dir_.path / "err").string();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(e, STDERR_FILENO);
      int in = ::open("/dev/null", O_RDONLY);
      ::dup2(in, STDIN_FILENO);
      if (!display.empty()) ::setenv("DISPLAY", display.c_str(), 1);
      std::vector<char*> argv;
      std::string runner = runner_path();
      argv.push_back(runner.data());
      std::vector<std::string> copy = args;
      for (auto& a : copy) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(runner.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
  }
  ~Runner() {
    if (!status_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(reader_);
  }

  pid_t pid() const { return pid_; }
  // Waits until the program has written this much into the pipe (a full pipe: 60,000).
  bool wrote(size_t bytes) {
    for (auto deadline = Clock::now() + kPatience; Clock::now() < deadline;) {
      int queued = 0;
      if (::ioctl(reader_, FIONREAD, &queued) == 0 && static_cast<size_t>(queued) >= bytes) {
        return true;
      }
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }
  std::string err() const { return slurp(dir_.path / "err"); }
  // Waits until `said` appears on its standard error; false when it ends or never says it.
  bool says(const std::string& said, std::chrono::milliseconds patience = kPatience) {
    for (auto deadline = Clock::now() + patience; Clock::now() < deadline;) {
      if (err().find(said) != std::string::npos) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }
  // The exit status once it has ended within `patience` (128 + signal when a signal killed
  // it), else nullopt.
  std::optional<int> wait_exit(std::chrono::milliseconds patience) {
    for (auto deadline = Clock::now() + patience; !status_ && Clock::now() < deadline;) {
      int raw = 0;
      if (::waitpid(pid_, &raw, WNOHANG) == pid_) {
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
      } else {
        std::this_thread::sleep_for(5ms);
      }
    }
    return status_;
  }

 private:
  ScratchDir dir_;
  int reader_ = -1;
  pid_t pid_ = -1;
  std::optional<int> status_;
};

std::string port_of(const std::string& err) {
  size_t at = err.find("127.0.0.1:");
  if (at == std::string::npos) return "";
  size_t end = err.find_first_not_of("0123456789", at + 10);
  return err.substr(at + 10, end - at - 10);
}

int connect_to(const std::string& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(std::stoi(port)));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) ADD_FAILURE() << port;
  return fd;
}

TEST(RunnerStops, EveryStopEndsTheRunWhateverTheProgramIsBlockedIn) {
  // A limit that is met, whatever the machine's load: the run ends long before the program
  // would (never, for most of these), and in the tenths of a second a stop takes when idle.
  constexpr auto kPromptly = 10s;
  const std::string hostile = guest_program("prog_hostile");
  enum class Holder { None, Debugger, DebuggerThatLeaves };
  struct Case {
    std::string name;
    std::vector<std::string> args;
    std::string ready;  // said on standard error once the program is where it blocks
    int signo;          // 0: the time limit stops it
    Holder holder;
    int status;
    bool needs_window = false;
  };
  const std::vector<Case> cases = {
      {"a time limit, writing to a full pipe",
       {"--timeout", "1", hostile, "flood"},
       "",
       0,
       Holder::None,
       124},
      {"SIGTERM, writing to a full pipe", {hostile, "flood"}, "", SIGTERM, Holder::None, 143},
      {"SIGINT, writing to a full pipe", {hostile, "flood"}, "", SIGINT, Holder::None, 130},
      {"SIGHUP, writing to a full pipe", {hostile, "flood"}, "", SIGHUP, Holder::None, 129},
      {"a time limit, waiting for a debugger that never comes",
       {"--timeout", "1", "--gdb", "0", hostile, "flood"},
       "waiting for gdb",
       0,
       Holder::None,
       124},
      {"SIGTERM, waiting for a debugger",
       {"--gdb", "0", hostile, "flood"},
       "waiting for gdb",
       SIGTERM,
       Holder::None,
       143},
      {"a time limit, held by a silent debugger",
       {"--timeout", "1", "--gdb", "0", hostile, "flood"},
       "waiting for gdb",
       0,
       Holder::Debugger,
       124},
      {"SIGHUP, held by a silent debugger",
       {"--gdb", "0", hostile, "flood"},
       "waiting for gdb",
       SIGHUP,
       Holder::Debugger,
       129},
      {"a time limit, after the debugger detached",
       {"--timeout", "1", "--gdb", "0", hostile, "flood"},
       "waiting for gdb",
       0,
       Holder::DebuggerThatLeaves,
       124},
      {"a time limit, sleeping in a window",
       {"--timeout", "1", "--display", "window", hostile, "sleep-in-window"},
       "",
       0,
       Holder::None,
       124,
       true},
  };
  std::optional<XServer> x;
  ScratchDir x_dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needs_window) {
      if (!XServer::available()) continue;  // the window tests say so once; nothing to show
      if (!x) x.emplace(x_dir.path, false);
      ASSERT_TRUE(x->started());
    }
    Runner runner(c.args, c.needs_window ? std::getenv("DISPLAY") : "");
    if (!c.ready.empty()) {
      ASSERT_TRUE(runner.says(c.ready)) << runner.err();
    }
    int debugger = -1;
    if (c.holder != Holder::None) debugger = connect_to(port_of(runner.err()));
    if (c.holder == Holder::DebuggerThatLeaves) {
      // The program runs on by itself after a detach, into the pipe nobody reads.
      const std::string detach = "$D#44";
      ASSERT_EQ(::send(debugger, detach.data(), detach.size(), MSG_NOSIGNAL), 5);
    }
    if (c.signo == 0) {
      // Long enough for the pipe to fill, or the window to open.
      EXPECT_EQ(runner.wait_exit(500ms), std::nullopt) << "it ended before the limit";
    } else {
      // A signal that came before the runner caught it would only prove the default action.
      if (c.ready.empty()) {
        ASSERT_TRUE(runner.wrote(60000)) << runner.err();
      }
      std::this_thread::sleep_for(200ms);
      ::kill(runner.pid(), c.signo);
    }
    auto status = runner.wait_exit(kPromptly);
    if (debugger >= 0) ::close(debugger);
    ASSERT_TRUE(status) << "still running: " << runner.err();
    EXPECT_EQ(*status, c.status) << runner.err();
    EXPECT_NE(runner.err().find(c.signo == 0 ? "time limit of 1 seconds" : "stopped by SIG"),
              std::string::npos)
        << runner.err();
  }
}

// Resident memory of a process, in kB.
long resident_kb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
  }
  return -1;
}

TEST(RunnerStops, WhatADebuggerSendsWhileTheProgramRunsIsKeptWithinABound) {
  Runner runner({"--gdb", "0", guest_program("prog_spin")});
  ASSERT_TRUE(runner.says("waiting for gdb")) << runner.err();
  int fd = connect_to(port_of(runner.err()));
  const std::string go = "$c#63";
  ASSERT_EQ(::send(fd, go.data(), go.size(), MSG_NOSIGNAL), static_cast<ssize_t>(go.size()));
  std::this_thread::sleep_for(200ms);
  long before = resident_kb(runner.pid());
  // 32 MB of a packet that never ends: nothing a debugger should send while the program runs.
  const std::string junk(1 << 20, 'x');
  for (int i = 0; i < 32; ++i) {
    ASSERT_EQ(::send(fd, junk.data(), junk.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(junk.size()));
  }
  // Everything sent has been taken in once Ctrl-C, sent after it, stops the program.
  ASSERT_EQ(::send(fd, "\x03", 1, MSG_NOSIGNAL), 1);
  std::string got;
  for (auto deadline = Clock::now() + kPatience;
       Clock::now() < deadline && got.find("$T02") == std::string::npos;) {
    pollfd p{fd, POLLIN, 0};
    char buf[4096];
    if (::poll(&p, 1, 100) == 1) {
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
  }
  EXPECT_NE(got.find("$T02"), std::string::npos) << got;
  long after = resident_kb(runner.pid());
  EXPECT_LT(after - before, 8 * 1024) << "resident " << before << " kB, then " << after << " kB";
  ::close(fd);
}

}  // namespace
}  // namespace nuv::test
