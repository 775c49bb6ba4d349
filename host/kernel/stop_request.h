// A request to end the run that comes from outside the guest, from any thread or from a
// signal handler (a time limit, SIGTERM): a flag the kernel's waits look at, and a descriptor
// they and a debugger's connection can wait on, so that nothing the guest waits for holds the
// run once it is asked to end.
#pragma once

#include <atomic>
#include <chrono>

#include "host/base/unique_fd.h"

namespace nuv {

class StopRequest {
 public:
  StopRequest();  // throws std::runtime_error when the host has no descriptor to spare
  StopRequest(const StopRequest&) = delete;
  StopRequest& operator=(const StopRequest&) = delete;

  // Safe from any thread and from a signal handler; a second request changes nothing.
  void raise() noexcept;
  bool raised() const noexcept { return raised_.load(std::memory_order_acquire); }
  // Readable once raised, for poll().
  int fd() const { return event_.get(); }
  // Sleeps the whole time unless a stop is asked for meanwhile: false then, at once.
  bool sleep_for(std::chrono::microseconds time) const;

 private:
  std::atomic<bool> raised_{false};
  UniqueFd event_;
};

}  // namespace nuv
