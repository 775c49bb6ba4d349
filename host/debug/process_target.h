// A guest process as the debugger's target: registers and memory through Unicorn, breakpoints
// checked by a hook on every instruction, write watchpoints as memory hooks, and runs that a
// Ctrl-C from the debugger can pause.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "host/debug/gdb_session.h"
#include "host/machine/process.h"
#include "host/timetravel/history.h"

namespace nuv {

class ProcessTarget : public GdbTarget {
 public:
  // The exit status the debugger is told of a run stopped for a reason of the host (a frame
  // limit...): the runner's, which owns the statuses.
  using ExitStatusOf = int (*)(const RunStop& stop);
  ProcessTarget(Process& process, ExitStatusOf exit_status);
  ~ProcessTarget() override;
  ProcessTarget(const ProcessTarget&) = delete;
  ProcessTarget& operator=(const ProcessTarget&) = delete;

  size_t register_count() const override;
  int register_size(size_t index) const override;
  void read_register(size_t index, uint8_t* out) override;
  bool write_register(size_t index, const uint8_t* in) override;
  size_t read_memory(uint32_t addr, uint8_t* out, size_t n) override;
  bool write_memory(uint32_t addr, const uint8_t* in, size_t n) override;
  bool insert_point(int type, uint32_t addr, uint32_t length) override;
  bool remove_point(int type, uint32_t addr, uint32_t length) override;
  GdbStop resume(bool step) override;
  GdbStop deliver(int signal) override;
  const std::string& target_xml() const override;
  bool can_reverse() const override { return history_ != nullptr; }
  // The history follows this process alone: while another one runs beside it, going back would
  // leave the others where they are, so it is refused.
  bool reverse_refused() const override;
  GdbStop reverse(bool step) override;

  // Keeps the run's history from now on (the target does not own it): going back works from
  // then, and every instruction is counted in it.
  void arm_history(History* history) { history_ = history; }
  // A replay stands where its record ends (the recorded run was stopped there): forward it
  // goes no further, back it may.
  bool at_end_of_record() const {
    return history_ && end_of_record_ && history_->position() == *end_of_record_;
  }

  // Pauses a run in progress (from any thread): the debugger's Ctrl-C.
  void interrupt();
  // Something to hold for the length of each run, e.g. a thread that watches for Ctrl-C.
  std::function<std::shared_ptr<void>()> on_run;
  // Drops every breakpoint and watchpoint: the program goes on without the debugger.
  void clear_points();

  // The last run's outcome as the process reported it (a fault's registers stay in the CPU).
  const RunResult& last_result() const { return last_; }
  // The program ran to its end under the debugger, or a signal the debugger let through
  // ended it (0: none did).
  bool ended() const { return ended_; }
  int fatal_signal() const { return fatal_signal_; }

 private:
  static void on_code(struct uc_struct* uc, uint64_t address, uint32_t size, void* user);
  void retranslate();
  static void on_watch(struct uc_struct* uc, int type, uint64_t address, int size, int64_t value,
                       void* user);

  // Puts the program at `position` of its history (at or before the current one).
  void seek(uint64_t position);
  // Runs again from the snapshot at `from` up to `to`, and says the last breakpoint or watched
  // write met before `to`, if any.
  struct Hit {
    uint64_t position;
    std::optional<uint32_t> watch;
  };
  std::optional<Hit> last_hit(uint64_t from, uint64_t to);
  void run_again_to(uint64_t position);

  Process& process_;
  History* history_ = nullptr;
  uint64_t run_to_ = UINT64_MAX;  // a run again stops at this position
  bool scanning_ = false;         // a run again notes its hits instead of stopping at them
  std::optional<Hit> hit_;
  uint32_t counted_at_ = 0;                // the instruction the history counted last
  std::optional<uint64_t> end_of_record_;  // the position where a replay's record ends
  std::optional<RunResult> record_end_;    // and how the run ended there
  std::set<uint32_t> breakpoints_;
  std::map<std::pair<uint32_t, uint32_t>, uint64_t> watches_;  // (address, length) -> hook
  bool first_ = false;  // the next instruction is the first of a resume
  bool stepping_ = false;
  bool stop_next_ = false;  // a watched write happened: stop before the next instruction
  std::optional<uint32_t> watch_hit_;
  std::atomic<bool> interrupted_{false};
  RunResult last_;
  bool ended_ = false;
  int fatal_signal_ = 0;
  ExitStatusOf exit_status_;
  uint64_t code_hook_ = 0;
};

}  // namespace nuv
