// One guest process: the loaded executable in Unicorn's i386 CPU, its memory, and the
// simulated kernel that answers its int 0x80 calls.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/emu/elf_image.h"
#include "host/emu/guest_memory.h"
#include "host/kernel/kernel.h"

struct uc_struct;
struct uc_context;

namespace nuv {

// A program refused because its segments and stack would pass the memory limit: a run
// refuses it as any other unloadable program, a spawn answers -ENOMEM.
class MemoryLimitError : public LoadError {
 public:
  using LoadError::LoadError;
};

class BlockLimit;

struct RunResult {
  // Paused: an instruction budget ran out or request_pause() came; resume() goes on.
  enum class End { Exited, Fault, Returned, Stopped, Paused };
  End end = End::Exited;
  int32_t status = 0;   // Exited: the program's exit status
  RunStop stop;         // Stopped: why
  std::string message;  // one line for Fault, and Stopped's own
  uint32_t eip = 0;
  // Fault: the Linux signal a native process would get (SIGSEGV, SIGILL, SIGFPE, SIGTRAP) and,
  // for memory faults, the address and the access ("read", "write", "execute").
  int signal = 0;
  std::optional<uint32_t> fault_address;
  std::string access;
  // Paused because a call of the program's has to wait (a child, a pipe, a sleep among
  // several processes): resume() runs the call again.
  bool blocked = false;
};

// Where things live in the guest's address space, beside the program's own segments.
namespace layout {
constexpr uint32_t kStackTop = 0xC0000000;
constexpr uint32_t kStackSize = 0x00100000;       // unless the program asks for more
constexpr uint32_t kStackSizeLimit = 0x10000000;  // the most it may ask for: 256 MiB
// Kept free of the program's segments for the test harness's arguments and data; the harness
// maps it itself, so in any other run a stray pointer there faults.
constexpr uint32_t kScratchBase = 0xD0000000;
constexpr uint32_t kScratchSize = 0x00400000;
constexpr uint32_t kSentinel = 0xF0000000;         // return address of harness calls
constexpr uint32_t kDescriptorTable = 0xF0001000;  // the processor's, read-only to the program
}  // namespace layout

// The most memory a program may have (its segments and its stack) unless the runner is told
// otherwise: far more than any program of the system needs, and well within a workstation's.
constexpr uint64_t kDefaultMemoryLimit = uint64_t{1} << 30;

class Process {
 public:
  // Throws LoadError for an executable that cannot run here, among them one whose segments
  // and stack need more than memory_limit bytes.
  Process(const std::string& executable, KernelConfig config,
          uint64_t memory_limit = kDefaultMemoryLimit);
  // A further process of a machine: its kernel is made by make_kernel over its new memory;
  // the engine keeps translations in a buffer of translation_buffer bytes (0: the engine's
  // default).
  using KernelFactory = std::function<std::unique_ptr<Kernel>(GuestMemory&)>;
  Process(const std::string& executable, const KernelFactory& make_kernel, uint64_t memory_limit,
          size_t translation_buffer);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Runs from _start with argv laid on a fresh stack; the initial stack pointer sits
  // stack_offset (0, 4, 8 or 12) bytes past a 16-byte boundary.
  RunResult run(const std::vector<std::string>& args, uint32_t stack_offset = 0);
  // run() in two halves, for a debugger: lay out the stack and point EIP at _start (false when
  // the arguments do not fit), then run from wherever EIP is, at most max_instructions of
  // them (0: no limit).
  bool prepare(const std::vector<std::string>& args, uint32_t stack_offset = 0);
  RunResult resume(uint64_t max_instructions = 0);
  // Ends the current resume() as Paused; safe from hooks and from another thread. A request
  // between runs is dropped when the next one starts.
  void request_pause();
  // A pause was asked for in this run and has not taken effect yet: a hook that would
  // complete the current instruction itself leaves it alone.
  bool pause_pending() const;

  // Among several processes: a free run (resume() without a count) goes in slices of `slice`
  // instructions, and at the end of each, and whenever a call has to wait, hands the machine
  // to `yield(blocked)` and then goes on. Without a yield, a call that has to wait ends the
  // run as Paused with `blocked`. A slice of 0 runs free.
  void set_yield(std::function<void(bool blocked)> yield) { yield_ = std::move(yield); }
  void set_slice(uint64_t slice);
  uint64_t slice() const { return slice_; }
  // The instruction limit counts this process's instructions and the other's together.
  void share_instruction_limit(Process& with);

  // Calls the function at `function` with cdecl 32-bit slots; ends at its return, at the exit
  // service, or at a fault.
  RunResult call(uint32_t function, std::span<const uint32_t> slots);
  uint32_t eax() const;
  long double st0() const;
  uint32_t esp() const;

  // Called with the outcome at the end of every run (run, resume, call); returns a number for
  // remove_run_observer.
  int add_run_observer(std::function<void(const RunResult&)> observer);
  void remove_run_observer(int id);

  // Drops the engine's translations of the program's code: hooks added or removed since then
  // reach all of it (the engine puts them only into code it translates after).
  void drop_translations();
  // Whoever hooks every instruction of the program says so while the hook lives (+1, then -1):
  // the engine then keeps EIP exact, and a memory fault needs no replay of its block.
  void count_instruction_hook(int delta);
  // True while a fault's block is replayed to find its instruction: block hooks that count
  // what the program ran leave those runs out.
  bool replaying() const;

  // How many times a block of the program's code was cut short for the engine, which cannot
  // translate long ones (machine/block_limit.h).
  size_t block_cuts() const;

  // Counting every guest instruction (a hook on each one: for benchmarks, not for speed).
  void set_instruction_counting(bool on);
  uint64_t instructions() const;
  void reset_instructions();

  // Stops the run (a limit) once the guest has executed this many instructions (0: no limit).
  // Counting costs a hook on every instruction, so only runs that ask pay for it.
  void set_instruction_limit(uint64_t limit);
  // Asks a running guest to stop: the run ends as RunResult::End::Stopped for this reason
  // (the first request's; a later one only stops the CPU again). Safe from another thread (a
  // watchdog); a request that comes while no guest code runs stops the next run at once.
  void request_stop(const RunStop& stop);
  // The stop asked for by request_stop, or null.
  const RunStop* requested_stop() const { return stop_requested_ ? &stop_ : nullptr; }

  const ElfImage& image() const { return image_; }
  GuestMemory& memory() { return *memory_; }
  Kernel& kernel() { return *kernel_; }
  // The CPU itself, for the debugger's registers and hooks.
  uc_struct* engine() { return uc_; }

 private:
  RunResult execute(uint32_t begin, uint32_t until, uint64_t count = 0);
  // The instruction of the block at block_start that made the memory fault just met; EIP is
  // set to it.
  uint32_t locate_fault(uint32_t block_start);
  void enter_user_mode();
  void reset_user_state();
  void reset_fpu();
  void map_image(uint64_t memory_limit);
  void install_hooks();
  void open_engine(size_t translation_buffer);
  void set_up(const KernelFactory& make_kernel, uint64_t memory_limit);

  ElfImage image_;
  uint32_t stack_size_ = layout::kStackSize;  // below layout::kStackTop
  uc_struct* uc_ = nullptr;
  uc_context* fresh_cpu_ = nullptr;  // the CPU as set up, for a start after a fault
  std::unique_ptr<GuestMemory> memory_;
  std::unique_ptr<Kernel> kernel_;
  struct Hooks;
  std::unique_ptr<Hooks> hooks_;
  std::unique_ptr<BlockLimit> blocks_;
  std::map<int, std::function<void(const RunResult&)>> run_observers_;
  int next_observer_ = 0;
  std::function<void(bool)> yield_;
  uint64_t slice_ = 0;
  std::atomic<bool> stop_requested_{false};
  std::mutex stop_mutex_;
  RunStop stop_;
};

}  // namespace nuv
