// Stops a guest from outside: at a wall-clock deadline (--timeout), and when the runner gets
// SIGINT, SIGTERM or SIGHUP, so that the outputs are complete and the status says why. A
// thread that waits costs the run nothing; it only wakes for the deadline or a signal. Once
// it fires it also interrupts whatever the thread that runs the guest is blocked in (a write
// to a full pipe, a sleep in a window, a debugger's silence), again and again until the run
// is over.
#pragma once

#include <pthread.h>

#include <chrono>
#include <optional>
#include <thread>

#include "host/base/run_stop.h"
#include "host/base/unique_fd.h"

namespace nuv {

class Process;

class Watchdog {
 public:
  // Catches SIGINT, SIGTERM and SIGHUP from now on; a signal stops the run as it would end a
  // native process. The calling thread is the one that runs the guest.
  Watchdog(Process& process, std::optional<std::chrono::duration<double>> timeout);
  ~Watchdog();  // restores the signals' default actions
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  void watch(std::optional<std::chrono::steady_clock::time_point> deadline,
             std::chrono::duration<double> timeout);

  void stop(const RunStop& why);

  Process& process_;
  pthread_t guest_thread_;
  UniqueFd wake_read_;
  std::thread thread_;
};

}  // namespace nuv
