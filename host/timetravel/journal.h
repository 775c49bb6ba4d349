// A kernel journal that also answers the time-stamp counter: what records a run, replays one,
// or keeps a run's history for going back in it.
#pragma once

#include <cstdint>

#include "host/kernel/kernel.h"

namespace nuv {

class Journal : public CallJournal {
 public:
  // The value the program's rdtsc gets at `eip`, where the host's counter reads `host`.
  virtual uint64_t rdtsc(Kernel& kernel, uint32_t eip, uint64_t host) = 0;
};

}  // namespace nuv
