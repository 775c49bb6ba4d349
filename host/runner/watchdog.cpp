#include "host/runner/watchdog.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "host/machine/process.h"

namespace nuv {
namespace {

// Wakes the watch for a signal (the signal number) or for the end of the run (0).
std::atomic<int> g_wake_write{-1};

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Interrupts a blocking call of the guest's thread: its handler does nothing, and it is
// installed without SA_RESTART, so the call returns EINTR and its loop sees the stop.
int interrupt_signal() { return SIGRTMIN; }
void on_interrupt(int) {}

void on_signal(int signo) {
  int saved = errno;
  unsigned char byte = static_cast<unsigned char>(signo);
  int fd = g_wake_write.load();
  if (fd >= 0) (void)!::write(fd, &byte, 1);
  errno = saved;
}

std::string seconds(std::chrono::duration<double> d) {
  std::ostringstream out;
  out << d.count();
  return out.str();
}

}  // namespace

Watchdog::Watchdog(Process& process, std::optional<std::chrono::duration<double>> timeout)
    : process_(process), guest_thread_(::pthread_self()) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("no pipe for the watch");
  wake_read_.reset(fds[0]);
  g_wake_write = fds[1];
  // Without SA_RESTART: a read of the console the signal interrupts returns to the guest, so
  // the CPU gets back to where it can be stopped.
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  for (int signo : kStopSignals) sigaction(signo, &sa, nullptr);
  sa.sa_handler = on_interrupt;
  sigaction(interrupt_signal(), &sa, nullptr);
  std::optional<std::chrono::steady_clock::time_point> deadline;
  if (timeout) {
    deadline = std::chrono::steady_clock::now() +
               std::chrono::duration_cast<std::chrono::steady_clock::duration>(*timeout);
  }
  thread_ = std::thread([this, deadline, t = timeout.value_or(std::chrono::duration<double>{})] {
    watch(deadline, t);
  });
}

Watchdog::~Watchdog() {
  struct sigaction sa {};
  sa.sa_handler = SIG_DFL;
  sigemptyset(&sa.sa_mask);
  for (int signo : kStopSignals) sigaction(signo, &sa, nullptr);
  int fd = g_wake_write.exchange(-1);
  unsigned char zero = 0;
  (void)!::write(fd, &zero, 1);
  thread_.join();
  // Only once the watch has ended: no interruption can be on its way any more.
  sa.sa_handler = SIG_IGN;
  sigaction(interrupt_signal(), &sa, nullptr);
  ::close(fd);
}

void Watchdog::stop(const RunStop& why) {
  process_.request_stop(why);
  ::pthread_kill(guest_thread_, interrupt_signal());
}

void Watchdog::watch(std::optional<std::chrono::steady_clock::time_point> deadline,
                     std::chrono::duration<double> timeout) {
  using namespace std::chrono;
  bool fired = false;
  for (;;) {
    // Once fired, the stop is repeated now and then: a request that came while the CPU was
    // between two starts would otherwise be lost, and an interruption that came just before
    // the guest's thread entered a blocking call would not have ended it.
    int wait_ms = -1;
    if (fired) {
      wait_ms = 50;
    } else if (deadline) {
      auto left = duration_cast<milliseconds>(*deadline - steady_clock::now()).count();
      wait_ms = static_cast<int>(std::clamp<long long>(left + 1, 0, 60'000));
    }
    pollfd p{wake_read_.get(), POLLIN, 0};
    int ready = ::poll(&p, 1, wait_ms);
    if (ready > 0) {
      unsigned char byte = 0;
      while (::read(wake_read_.get(), &byte, 1) == 1) {
        if (byte == 0) return;  // the run is over
        stop(RunStop{RunStop::Cause::Signal, byte,
                     std::string("stopped by SIG") + sigabbrev_np(byte)});
        fired = true;
      }
    } else if (fired) {
      stop(RunStop{});  // the first reason stands: this only stops the CPU again
    } else if (deadline && steady_clock::now() >= *deadline) {
      stop(RunStop{RunStop::Cause::Limit, 0,
                   "stopped at the time limit of " + seconds(timeout) + " seconds"});
      fired = true;
    }
  }
}

}  // namespace nuv
