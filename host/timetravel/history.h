// A run's history, for going back in it under the debugger: the position is the exact count
// of instructions the program executed; snapshots of the CPU and of the pages changed since
// the one before are taken every so many instructions and thinned to stay within a memory
// bound; every kernel call and rdtsc of the run is kept with its answer, so that running again
// from a snapshot is deterministic and touches nothing outside the machine.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "host/machine/process.h"
#include "host/timetravel/journal.h"

struct uc_context;

namespace nuv {

class History : public Journal {
 public:
  // `inner` (may be null) answers the calls the run makes for the first time: a recorder or a
  // replayer. The first snapshot is the program as it is now, before its first instruction.
  History(Process& process, Journal* inner, uint64_t memory_bound, uint64_t interval);
  ~History() override;
  History(const History&) = delete;
  History& operator=(const History&) = delete;

  // The instruction at the current position is about to run: counts it, after a snapshot when
  // one is due there.
  void executing() {
    if (position_ >= next_snapshot_) take_snapshot();
    ++position_;
  }
  uint64_t position() const { return position_; }
  // The instruction counted last did not complete (it faulted): the position is before it.
  void uncount() {
    if (position_ > 0) --position_;
  }
  // The furthest the run has been.
  uint64_t furthest() const { return furthest_ > position_ ? furthest_ : position_; }

  // The positions of the snapshots, oldest first.
  std::vector<uint64_t> snapshot_positions() const;
  // Puts the program back at the latest snapshot at or before `position`; returns its position.
  uint64_t restore_before(uint64_t position);
  size_t snapshot_bytes() const { return bytes_; }
  size_t snapshots() const { return snapshots_.size(); }

  std::optional<int32_t> answer(Kernel& kernel, const ServiceCall& call) override;
  void completed(Kernel& kernel, const ServiceCall& call,
                 const std::vector<CallStore>& stores) override;
  int program(Kernel& kernel, const std::string& path, const std::function<int()>& open) override;
  std::vector<CallStore> answered_stores() const override;
  bool replays() const override { return inner_ != nullptr && inner_->replays(); }
  // A parked call's int 0x80 runs again: it is counted once, when it completes.
  void parked(Kernel& kernel, const ServiceCall& call) override;
  uint64_t rdtsc(Kernel& kernel, uint32_t eip, uint64_t host) override;

 private:
  struct Snapshot {
    uint64_t position = 0;
    size_t cursor = 0;  // log entries before it
    uc_context* cpu = nullptr;
  };
  struct PageVersion {
    uint64_t position;
    std::unique_ptr<uint8_t[]> bytes;
  };
  struct Entry {
    int32_t result = 0;
    uint64_t rdtsc = 0;
    std::vector<CallStore> stores;
  };
  void take_snapshot();
  void thin();
  size_t page_versions_bytes(const Snapshot& s) const;

  Process& process_;
  Journal* inner_;
  uint64_t bound_;
  uint64_t interval_;
  uint64_t position_ = 0;
  uint64_t furthest_ = 0;
  uint64_t next_snapshot_ = 0;
  std::vector<Snapshot> snapshots_;
  std::map<uint32_t, std::vector<PageVersion>> pages_;  // by guest page address
  size_t bytes_ = 0;
  std::vector<Entry> log_;
  size_t cursor_ = 0;
  bool from_log_ = false;  // the call being answered comes from the log
};

}  // namespace nuv
