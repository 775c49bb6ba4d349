// Stops a guest from outside: at a wall-clock deadline (--timeout), and when the runner gets
// SIGINT or SIGTERM, so that the trace is flushed and the status says why. A thread that
// waits costs the run nothing; it only wakes for the deadline or a signal.
#pragma once

#include <chrono>
#include <optional>
#include <thread>

#include "host/emu/unique_fd.h"

namespace nuv {

class Process;

class Watchdog {
 public:
  // Catches SIGINT and SIGTERM from now on; a signal stops the run with 128 + its number.
  Watchdog(Process& process, std::optional<std::chrono::duration<double>> timeout);
  ~Watchdog();  // restores the signals' default actions
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  void watch(std::optional<std::chrono::steady_clock::time_point> deadline,
             std::chrono::duration<double> timeout);

  Process& process_;
  UniqueFd wake_read_;
  std::thread thread_;
};

}  // namespace nuv
