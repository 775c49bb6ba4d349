// The time-stamp counter is the one instruction whose result comes from outside the machine:
// its value is asked of a journal, so that a recorded run reads it again on replay.
#pragma once

#include <cstdint>
#include <vector>

#include "host/machine/process.h"
#include "host/timetravel/journal.h"

namespace nuv {

class RdtscHooks {
 public:
  // Hooks every rdtsc and rdtscp in the program's code segments (a hook fires only where an
  // instruction starts, so bytes that merely look like one cost nothing at run time).
  RdtscHooks(Process& process, Journal*& journal);
  ~RdtscHooks();
  RdtscHooks(const RdtscHooks&) = delete;
  RdtscHooks& operator=(const RdtscHooks&) = delete;
  size_t sites() const { return hooks_.size(); }

 private:
  static void on_code(struct uc_struct* uc, uint64_t address, uint32_t size, void* user);
  Process& process_;
  Journal*& journal_;
  std::vector<uint64_t> hooks_;
};

}  // namespace nuv
