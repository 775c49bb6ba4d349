#include "host/kernel/stop_request.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>
#include <stdexcept>

namespace nuv {

StopRequest::StopRequest() : event_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (!event_) throw std::runtime_error("no descriptor left for the run's stop request");
}

void StopRequest::raise() noexcept {
  if (raised_.exchange(true, std::memory_order_acq_rel)) return;
  uint64_t one = 1;
  (void)!::write(event_.get(), &one, sizeof one);
}

bool StopRequest::sleep_for(std::chrono::microseconds time) const {
  using namespace std::chrono;
  const auto deadline = steady_clock::now() + time;
  for (;;) {
    if (raised()) return false;
    auto left = duration_cast<nanoseconds>(deadline - steady_clock::now()).count();
    if (left <= 0) return true;
    // To the nanosecond, as the sleep it stands for: a window's frame pacing depends on it.
    timespec ts{static_cast<time_t>(left / 1'000'000'000), static_cast<long>(left % 1'000'000'000)};
    pollfd p{event_.get(), POLLIN, 0};
    ::ppoll(&p, 1, &ts, nullptr);  // a signal or the request ends it early: looked at above
  }
}

}  // namespace nuv
