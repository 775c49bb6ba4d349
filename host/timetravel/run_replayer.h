// --replay-run: the run again from its record. Calls that read the host are answered from the
// record and never run (nothing of the host is read or written); calls that change only the
// machine run again and must answer as they did; console output is written again. The first
// call (or rdtsc) that differs from the record, or one past its end, stops the run at once as
// a divergence that names where.
//
// Among several processes, calls complete in the order the record has them: a process whose
// call comes later in the record waits for its turn, so the machine interleaves as it did. A
// process's rdtsc takes the next value recorded for that process. A spawn loads its child from
// the program the record kept, whatever the file holds now.
#pragma once

#include <memory>

#include "host/timetravel/journal.h"
#include "host/timetravel/run_record.h"

namespace nuv {

class RunReplayer : public Journal {
 public:
  explicit RunReplayer(std::shared_ptr<const RunRecord> record);

  std::optional<int32_t> answer(Kernel& kernel, const ServiceCall& call) override;
  void completed(Kernel& kernel, const ServiceCall& call,
                 const std::vector<CallStore>& stores) override;
  int program(Kernel& kernel, const std::string& path, const std::function<int()>& open) override;
  uint64_t rdtsc(Kernel& kernel, uint32_t eip, uint64_t host) override;
  std::vector<CallStore> answered_stores() const override;

  bool replays() const override { return true; }
  bool diverged() const { return diverged_; }
  // The record's events taken so far (every one before this position is taken).
  size_t position() const { return next_; }

 private:
  void diverge(Kernel& kernel, uint32_t eip, const std::string& name, const std::string& what);
  // After a completed call: a record that ends in a stop of the host's stops the replay there.
  void end_if_recorded(Kernel& kernel);
  void take(size_t event);

  std::shared_ptr<const RunRecord> record_;
  std::vector<bool> taken_;
  size_t next_ = 0;   // the first event not taken
  size_t calls_ = 0;  // recorded calls taken, for the messages
  std::optional<size_t> executing_;
  std::optional<size_t> answered_;  // the event the last answered call came from
  bool diverged_ = false;
};

}  // namespace nuv
