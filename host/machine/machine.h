// The machine: every process of one run, their table, and the scheduler that runs them one at
// a time on the host's one thread. Process 1 is the runner's (or a test's) and drives the
// machine: whenever a call of its has to wait, or its slice of guest work ends, the machine
// runs the others. Every decision follows the process numbers and the calls the programs make,
// never the host's time, so the same programs with the same input interleave the same way on
// every run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/base/unique_fd.h"
#include "host/kernel/kernel.h"
#include "host/machine/process.h"

namespace nuv {

class Machine final : public ProcessHost {
 public:
  // A spawn beyond this many processes (those that ended and were not waited for included)
  // answers -EAGAIN.
  static constexpr size_t kMaxProcesses = 64;
  // Guest instructions a process runs before the next one's turn, while several can run.
  static constexpr uint64_t kSlice = 200000;
  // Each further process's engine keeps its translations in a buffer of this size, so the
  // process limit's worth fits a workstation's memory.
  static constexpr size_t kTranslationBuffer = size_t{16} << 20;

  // `first` becomes process 1, named `program`; the machine answers its kernel's process
  // services until it is destroyed.
  Machine(Process& first, std::string program, uint64_t memory_limit = kDefaultMemoryLimit);
  ~Machine() override;
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // After process 1 ended (its result): its descriptors close, its children lose their parent,
  // and the others run until every one has ended, the run is stopped, or they deadlock.
  void finish(const RunResult& first_end);

  // Called for each other process that faults, before it goes: the crash report.
  std::function<void(Process&, int32_t pid, const std::string& program, const RunResult&)> on_fault;

  // Called for each other process as it starts, before it runs, and as it ends (or at the
  // machine's end), before it goes: what measures every process's program.
  std::function<void(Process&, int32_t pid)> on_start;
  std::function<void(Process&, int32_t pid)> on_stop;

  // The program a process runs, by the name it was started with ("" for none).
  std::string program_of(int32_t pid) const;

  // How many processes were ever started, the first included.
  int32_t started() const { return next_pid_ - 1; }

  // ProcessHost
  int32_t spawn(Kernel& parent, int program, const std::vector<std::string>& args) override;
  int32_t wait(Kernel& parent, int32_t pid, bool no_hang, int32_t& status, bool reap) override;
  size_t alive() const override;

 private:
  struct Entry {
    int32_t pid = 0;
    int32_t parent = 0;  // 0: none left to reap it
    std::string program;
    Process* process = nullptr;
    std::unique_ptr<Process> owned;  // all but the first
    UniqueFd file;                   // the program's file, for its debugging information
    bool ended = false;
    int32_t status = 0;  // the status word waitpid stores
    bool blocked = false;
    uint64_t blocked_at = 0;  // the machine's wakes when its call was parked
  };
  enum class Mode { Round, FirstWaits, Finish };

  void schedule(Mode mode);
  void run_slice(Entry& e);
  void end(int32_t pid, int32_t status);
  bool halted() const;
  void deadlock();
  KernelShared& shared() { return first_.kernel().shared(); }

  Process& first_;
  uint64_t memory_limit_;
  std::map<int32_t, Entry> table_;  // ordered by pid: every choice is the same on every run
  int32_t next_pid_ = 2;
};

// The status word for a program's exit status, and for the signal a fault would send.
constexpr int32_t exit_status_word(int32_t status) { return (status & 0xFF) << 8; }
constexpr int32_t signal_status_word(int signal) { return signal & 0x7F; }

}  // namespace nuv
