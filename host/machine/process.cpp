#include "host/machine/process.h"

#include <unicorn/unicorn.h>

#include <atomic>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

#include "host/machine/block_limit.h"
#include "host/machine/fault_replay.h"
#include "host/machine/faults.h"
#include "host/machine/initial_stack.h"

namespace nuv {

struct Process::Hooks {
  uc_hook interrupt = 0;
  uc_hook invalid_memory = 0;
  uc_hook counter = 0;
  uc_hook refused[4] = {};
  // Filled by the hooks when the guest does something that ends the run.
  std::string fault;
  std::optional<uint32_t> fault_eip;  // where an exception left EIP
  int signal = 0;
  std::optional<uint32_t> address;
  std::string access;
  FaultingAccess faulting;  // a read or write of memory that is not there or not allowed
  bool replayable = false;
  int instruction_hooks = 0;  // hooks on every instruction that keep EIP exact
  bool replaying = false;
  bool faulted = false;  // since the CPU was last made fresh
  uint64_t own_instructions = 0;
  // The count the instruction limit looks at: this process's own, or a whole machine's.
  uint64_t* instructions = &own_instructions;
  bool blocked = false;  // a call has to wait: EIP is back on its int 0x80
  std::atomic<bool> pause{false};
  uint64_t instruction_limit = 0;  // 0: none
  Process* process = nullptr;

  // Ends the run at an instruction the processor would refuse the program.
  void refuse(uc_engine* uc, const char* what, int signo);
};

namespace {

constexpr uint8_t kHlt = 0xF4;
constexpr uint32_t kPage = 0x1000;
// Flat 32-bit segments at base 0 with a 4 GB limit and privilege level 3, already marked
// accessed (so loading them never writes the table): code that may be read, and writable
// data. Their selectors are Linux's for a 32-bit process, which gdb users know.
constexpr uint64_t kUserCode = 0x00CFFB000000FFFFull;
constexpr uint64_t kUserData = 0x00CFF3000000FFFFull;
constexpr uint32_t kUserCodeSelector = 0x73;
constexpr uint32_t kUserDataSelector = 0x7B;
constexpr size_t kDescriptors = (kUserDataSelector >> 3) + 1;
// The stack of the one instruction that runs at level 0, to get to level 3.
constexpr uint64_t kSetupStack = 0x00CF93000000FFFFull;
constexpr uint32_t kSetupStackSelector = 0x10;
// Interrupts enabled, as on any user process; the reserved bit 1 is always set.
constexpr uint32_t kUserEflags = 0x202;

uint32_t page_down(uint32_t v) { return v & ~(kPage - 1); }
uint64_t page_up(uint64_t v) { return (v + kPage - 1) & ~uint64_t{kPage - 1}; }

constexpr uint32_t kProtectionFault = 13;

}  // namespace

void Process::Hooks::refuse(uc_engine* uc, const char* what, int signo) {
  uint32_t eip = 0;
  uc_reg_read(uc, UC_X86_REG_EIP, &eip);
  fault = what;
  signal = signo;
  fault_eip = eip;
  uc_emu_stop(uc);
}

Process::Process(const std::string& executable, KernelConfig config, uint64_t memory_limit)
    : image_(ElfImage::load(executable)), hooks_(std::make_unique<Hooks>()) {
  open_engine(0);
  set_up([&config](
             GuestMemory& memory) { return std::make_unique<Kernel>(memory, std::move(config)); },
         memory_limit);
}

Process::Process(const std::string& executable, const KernelFactory& make_kernel,
                 uint64_t memory_limit, size_t translation_buffer)
    : image_(ElfImage::load(executable)), hooks_(std::make_unique<Hooks>()) {
  open_engine(translation_buffer);
  set_up(make_kernel, memory_limit);
}

void Process::open_engine(size_t translation_buffer) {
  hooks_->process = this;
  if (uc_open(UC_ARCH_X86, UC_MODE_32, &uc_) != UC_ERR_OK) {
    throw std::runtime_error("cannot start the i386 emulator");
  }
  // Before anything is translated: the buffer is sized once.
  if (translation_buffer != 0) {
    uc_ctl_set_tcg_buffer_size(uc_, static_cast<uint32_t>(translation_buffer));
  }
}

void Process::set_up(const KernelFactory& make_kernel, uint64_t memory_limit) {
  // A refused image must not leave the engine behind: the destructor does not run for a
  // constructor that throws.
  try {
    memory_ = std::make_unique<GuestMemory>(uc_);
    map_image(memory_limit);
    enter_user_mode();
    reset_fpu();
    kernel_ = make_kernel(*memory_);
    kernel_->stop_cpu = [this] { uc_emu_stop(uc_); };
    kernel_->call_address = [this] {
      uint32_t eip = 0;
      uc_reg_read(uc_, UC_X86_REG_EIP, &eip);
      return eip - 2;  // back over the int 0x80
    };
    install_hooks();
  } catch (...) {
    kernel_.reset();
    if (fresh_cpu_) uc_context_free(fresh_cpu_);
    uc_close(uc_);
    uc_ = nullptr;
    throw;
  }
}

void Process::reset_fpu() {
  // The x87 as FNINIT leaves it, and as a kernel hands it to a new process: 64-bit precision,
  // rounding to nearest, every exception masked. The engine starts it at 0 otherwise, with
  // every exception unmasked and the precision field saying 24 bits.
  uint32_t control = 0x037F, status = 0, tags = 0xFFFF;
  uc_reg_write(uc_, UC_X86_REG_FPCW, &control);
  uc_reg_write(uc_, UC_X86_REG_FPSW, &status);
  uc_reg_write(uc_, UC_X86_REG_FPTAG, &tags);
}

void Process::enter_user_mode() {
  // The program runs at privilege level 3, as a process does on the real processor: every
  // privileged instruction (control and debug registers, descriptor tables, ports, MSRs, hlt)
  // and every segment the program was not given then raises the processor's own fault
  // instead of being emulated. The descriptor table holds only the program's flat code and
  // data segments, on a page of its own that stays mapped read-only: the processor reads it
  // whenever a selector is loaded, and the kernel's copies never reach it. Flat segments also
  // tell the translator that every base is zero, which spares an add on every memory access.
  uint64_t table[kDescriptors] = {};
  table[kUserCodeSelector >> 3] = kUserCode;
  table[kUserDataSelector >> 3] = kUserData;
  // The only way from level 0 down to level 3 is a return that lowers the privilege: an iret
  // on the descriptor page, with its frame there too, to the return sentinel where the run
  // stops. Unicorn starts with a 16-bit stack segment, so a flat one of level 0 carries the
  // frame; it leaves the table once it has served.
  uint64_t setup[kDescriptors];
  std::copy(std::begin(table), std::end(table), setup);
  setup[kSetupStackSelector >> 3] = kSetupStack;
  constexpr uint32_t kIretAt = 0x800, kFrameAt = 0x900;
  const uint32_t frame[5] = {layout::kSentinel, kUserCodeSelector, kUserEflags,
                             layout::kStackTop - 16, kUserDataSelector};
  const uint8_t iret = 0xCF;
  const uint32_t page = layout::kDescriptorTable;
  uc_x86_mmr gdtr{};
  gdtr.base = page;
  gdtr.limit = sizeof table - 1;
  uint32_t esp = page + kFrameAt;
  bool ok = uc_mem_map(uc_, page, kPage, UC_PROT_READ | UC_PROT_EXEC) == UC_ERR_OK &&
            uc_mem_write(uc_, page, setup, sizeof setup) == UC_ERR_OK &&
            uc_mem_write(uc_, page + kIretAt, &iret, 1) == UC_ERR_OK &&
            uc_mem_write(uc_, page + kFrameAt, frame, sizeof frame) == UC_ERR_OK &&
            uc_reg_write(uc_, UC_X86_REG_GDTR, &gdtr) == UC_ERR_OK &&
            uc_reg_write(uc_, UC_X86_REG_ESP, &esp) == UC_ERR_OK;
  // The data selectors go in first (the return would clear any of level 0), the stack's last.
  for (auto [reg, selector] :
       {std::pair{UC_X86_REG_DS, kUserDataSelector}, std::pair{UC_X86_REG_ES, kUserDataSelector},
        std::pair{UC_X86_REG_SS, kSetupStackSelector}}) {
    ok = ok && uc_reg_write(uc_, reg, &selector) == UC_ERR_OK;
  }
  ok = ok && uc_emu_start(uc_, page + kIretAt, layout::kSentinel, 0, 0) == UC_ERR_OK;
  uint32_t cs = 0, ss = 0;
  uc_reg_read(uc_, UC_X86_REG_CS, &cs);
  uc_reg_read(uc_, UC_X86_REG_SS, &ss);
  // Nothing but the program's segments stays on the page, and nothing on it runs again.
  std::vector<uint8_t> rest(kPage, 0);
  std::memcpy(rest.data(), table, sizeof table);
  ok = ok && cs == kUserCodeSelector && ss == kUserDataSelector &&
       uc_mem_write(uc_, page, rest.data(), rest.size()) == UC_ERR_OK &&
       uc_mem_protect(uc_, page, kPage, UC_PROT_READ) == UC_ERR_OK;
  ok = ok && uc_context_alloc(uc_, &fresh_cpu_) == UC_ERR_OK &&
       uc_context_save(uc_, fresh_cpu_) == UC_ERR_OK;
  if (!ok) throw std::runtime_error("cannot set up the i386 emulator's user mode");
}

void Process::install_hooks() {
  uc_cb_hookintr_t on_interrupt = [](uc_engine* uc, uint32_t intno, void* user) {
    auto* self = static_cast<Process*>(user);
    if (self->hooks_->replaying) {  // the replay never runs int 0x80: nothing to answer
      uc_emu_stop(uc);
      return;
    }
    if (intno != 0x80) {
      uint32_t eip = 0;
      uc_reg_read(uc, UC_X86_REG_EIP, &eip);
      const char* name = exception_name(intno);
      char what[48];
      if (name == nullptr) std::snprintf(what, sizeof what, "interrupt 0x%" PRIx32, intno);
      // At user level hlt is a protection fault like any privileged instruction; it is the
      // one a program meets by accident (a stray jump into the return sentinel, an exit that
      // came back), so it keeps its name.
      uint8_t op = 0;
      if (intno == kProtectionFault && uc_mem_read(uc, eip, &op, 1) == UC_ERR_OK && op == kHlt) {
        name = "hlt instruction";
      }
      // EIP is already past an int instruction, but still on a faulting one.
      self->hooks_->fault = name ? name : what;
      self->hooks_->fault_eip = eip;
      self->hooks_->signal = exception_signal(intno);
      uc_emu_stop(uc);
      return;
    }
    int regs[4] = {UC_X86_REG_EAX, UC_X86_REG_EBX, UC_X86_REG_ECX, UC_X86_REG_EDX};
    uint32_t values[4];
    void* ptrs[4] = {&values[0], &values[1], &values[2], &values[3]};
    uc_reg_read_batch(uc, regs, ptrs, 4);
    int32_t result = self->kernel_->dispatch(values[0], Slots{values[1], values[2], values[3]});
    if (result == kWouldBlock) {
      // Parked: the registers stay as the program set them, and EIP goes back over the
      // two-byte int 0x80, so the call runs again, whole, when the process goes on.
      uint32_t eip = 0;
      uc_reg_read(uc, UC_X86_REG_EIP, &eip);
      eip -= 2;
      uc_reg_write(uc, UC_X86_REG_EIP, &eip);
      self->hooks_->blocked = true;
      uc_emu_stop(uc);
      return;
    }
    uc_reg_write(uc, UC_X86_REG_EAX, &result);
  };
  uc_hook_add(uc_, &hooks_->interrupt, UC_HOOK_INTR, reinterpret_cast<void*>(on_interrupt), this, 1,
              0);

  uc_cb_eventmem_t on_invalid = [](uc_engine*, uc_mem_type type, uint64_t address, int size,
                                   int64_t value, void* user) -> bool {
    auto* self = static_cast<Process*>(user);
    if (self->hooks_->replaying) return false;  // the replay keeps its own account
    auto [what, access] = memory_fault(type);
    self->hooks_->signal = SIGSEGV;
    self->hooks_->address = static_cast<uint32_t>(address);
    self->hooks_->access = access;
    // A fetch stops with EIP on the address fetched; a read or a write leaves it at the start
    // of its block.
    self->hooks_->faulting = {type, static_cast<uint32_t>(address), size, value};
    self->hooks_->replayable =
        std::string_view(access) == "read" || std::string_view(access) == "write";
    char buf[128];
    std::snprintf(buf, sizeof buf, "%s 0x%08" PRIx64, what, address);
    self->hooks_->fault = buf;
    return false;
  };
  // Fetches from memory the engine may not execute, which is all of it, are the block
  // limit's: it sends those the guest may not make here.
  uc_hook_add(uc_, &hooks_->invalid_memory,
              UC_HOOK_MEM_READ_INVALID | UC_HOOK_MEM_WRITE_INVALID | UC_HOOK_MEM_FETCH_UNMAPPED,
              reinterpret_cast<void*>(on_invalid), this, 1, 0);
  blocks_ = std::make_unique<BlockLimit>(uc_, *memory_, on_invalid, this);

  // Unicorn lets port I/O through at any privilege and turns sysenter and syscall into no
  // operation, where the processor refuses them to a user process (no I/O permission, no
  // fast system call set up): each ends the run as that refusal. Nothing else pays for these
  // hooks; they run only for those instructions.
  uc_cb_insn_in_t on_in = [](uc_engine* uc, uint32_t, int, void* user) -> uint32_t {
    static_cast<Hooks*>(user)->refuse(uc, "port input instruction", SIGSEGV);
    return 0;
  };
  uc_cb_insn_out_t on_out = [](uc_engine* uc, uint32_t, int, uint32_t, void* user) {
    static_cast<Hooks*>(user)->refuse(uc, "port output instruction", SIGSEGV);
  };
  uc_cb_insn_syscall_t on_sysenter = [](uc_engine* uc, void* user) {
    static_cast<Hooks*>(user)->refuse(uc, "sysenter instruction", SIGSEGV);
  };
  uc_cb_insn_syscall_t on_syscall = [](uc_engine* uc, void* user) {
    static_cast<Hooks*>(user)->refuse(uc, "syscall instruction", SIGILL);
  };
  const std::pair<void*, int> refusals[] = {
      {reinterpret_cast<void*>(on_in), UC_X86_INS_IN},
      {reinterpret_cast<void*>(on_out), UC_X86_INS_OUT},
      {reinterpret_cast<void*>(on_sysenter), UC_X86_INS_SYSENTER},
      {reinterpret_cast<void*>(on_syscall), UC_X86_INS_SYSCALL}};
  for (size_t i = 0; i < std::size(refusals); ++i) {
    if (uc_hook_add(uc_, &hooks_->refused[i], UC_HOOK_INSN, refusals[i].first, hooks_.get(), 1, 0,
                    refusals[i].second) != UC_ERR_OK) {
      throw std::runtime_error("cannot hook the i386 emulator's privileged instructions");
    }
  }
}

Process::~Process() {
  kernel_.reset();
  if (fresh_cpu_) uc_context_free(fresh_cpu_);
  if (uc_) uc_close(uc_);
}

void Process::map_image(uint64_t memory_limit) {
  // The stack the program asked for at link time, whole pages, never less than the default.
  uint64_t asked = (uint64_t{image_.stack_size()} + kPage - 1) & ~uint64_t{kPage - 1};
  if (asked > layout::kStackSizeLimit) {
    throw LoadError(image_.path() + ": asks for a stack of " + std::to_string(image_.stack_size()) +
                    " bytes, more than the " + std::to_string(layout::kStackSizeLimit >> 20) +
                    " MiB the runner gives");
  }
  if (asked > stack_size_) stack_size_ = static_cast<uint32_t>(asked);
  struct Reserved {
    uint32_t begin;
    uint64_t end;
    const char* name;
  };
  const Reserved reserved[] = {
      {layout::kStackTop - stack_size_, layout::kStackTop, "stack"},
      {layout::kScratchBase, uint64_t{layout::kScratchBase} + layout::kScratchSize, "scratch"},
      {layout::kSentinel, uint64_t{layout::kSentinel} + kPage, "return sentinel"},
      {layout::kDescriptorTable, uint64_t{layout::kDescriptorTable} + kPage, "descriptor table"},
  };
  for (const Segment& seg : image_.segments()) {
    uint64_t begin = page_down(seg.vaddr), end = page_up(uint64_t{seg.vaddr} + seg.memsz);
    for (const Reserved& r : reserved) {
      if (begin < r.end && r.begin < end) {
        char what[160];
        std::snprintf(what, sizeof what,
                      ": the segment at 0x%08" PRIx32 " overlaps the %s area (0x%08" PRIx32
                      "-0x%08" PRIx64 ") the runner keeps for itself",
                      seg.vaddr, r.name, r.begin, r.end - 1);
        throw LoadError(image_.path() + what);
      }
    }
  }
  // Refused before anything is mapped: the host keeps a program's memory for it as soon as
  // the program touches it, and nothing else bounds a .bss.
  uint64_t needed = stack_size_;
  for (const Segment& seg : image_.segments()) {
    needed += page_up(uint64_t{seg.vaddr} + seg.memsz) - page_down(seg.vaddr);
  }
  if (needed > memory_limit) {
    constexpr uint64_t kMiB = 1 << 20;
    throw MemoryLimitError(image_.path() + ": the program needs " +
                           std::to_string((needed + kMiB - 1) / kMiB) +
                           " MiB of memory (its segments and stack), more than the limit of " +
                           std::to_string(memory_limit / kMiB) + " MiB (--memory-limit)");
  }
  for (const Segment& seg : image_.segments()) {
    uint32_t begin = page_down(seg.vaddr);
    uint64_t end = page_up(uint64_t{seg.vaddr} + seg.memsz);
    memory_->map(begin, static_cast<uint32_t>(end - begin), seg.perms, "segment");
    if (!memory_->poke(seg.vaddr, seg.bytes.data(), seg.bytes.size())) {
      throw LoadError(image_.path() + ": cannot load a segment");
    }
  }
  memory_->map(layout::kStackTop - stack_size_, stack_size_, kRead | kWrite, "stack");
  memory_->map(layout::kSentinel, kPage, kRead | kExec, "sentinel");
  std::vector<uint8_t> halt(kPage, kHlt);
  memory_->poke(layout::kSentinel, halt.data(), halt.size());
}

RunResult Process::execute(uint32_t begin, uint32_t until, uint64_t count) {
  auto clear_fault = [this] {
    hooks_->fault.clear();
    hooks_->fault_eip.reset();
    hooks_->replayable = false;
    hooks_->signal = 0;
    hooks_->address.reset();
    hooks_->access.clear();
  };
  clear_fault();
  kernel_->reset_exit();
  // A pause asked for between runs is stale; whoever wants one during this run asks again.
  hooks_->pause = false;
  // The engine also stops on its own before a block too long for it, where one was cut, and
  // before a block that fetches what it may not (machine/block_limit.h): the run goes on.
  hooks_->blocked = false;
  uc_err rc = UC_ERR_OK;
  std::optional<uint32_t> at = begin;
  for (;;) {
    // A free run among several processes goes in slices; a run that asked for a count (a
    // debugger's step, a harness) is never cut.
    uint64_t budget = count != 0 ? count : (yield_ ? slice_ : 0);
    blocks_->start_run(until);
    while (at && !stop_requested_ && !hooks_->pause) {
      rc = uc_emu_start(uc_, *at, until, 0, budget);
      BlockLimit::Stop stop;
      stop.rc = rc;
      uc_reg_read(uc_, UC_X86_REG_EIP, &stop.eip);
      stop.ended = stop_requested_ || !hooks_->fault.empty() || hooks_->fault_eip ||
                   kernel_->exited() || hooks_->pause || hooks_->blocked;
      if (hooks_->access == "execute" && !hooks_->fault_eip && !stop_requested_ && !hooks_->pause &&
          !kernel_->exited() && !hooks_->blocked) {
        stop.fetch_fault = hooks_->address;
      }
      stop.budgeted = budget != 0;
      at = blocks_->resume_point(stop);
      if (at && stop.ended) clear_fault();
    }
    if (!yield_ || count != 0) break;
    uint32_t now = 0;
    uc_reg_read(uc_, UC_X86_REG_EIP, &now);
    bool blocked = hooks_->blocked;
    bool slice_over = budget != 0 && rc == UC_ERR_OK && hooks_->fault.empty() &&
                      !hooks_->fault_eip && !kernel_->exited() && !hooks_->pause &&
                      !stop_requested_ && now != until;
    if (!blocked && !slice_over) break;
    hooks_->blocked = false;
    yield_(blocked);
    // Another process may have ended the machine's run (a frame limit, a closed window).
    if (kernel_->stopped() && !kernel_->exited()) kernel_->set_exited(0);
    if (stop_requested_ || kernel_->exited()) break;
    at = now;
  }
  bool blocked = std::exchange(hooks_->blocked, false);
  bool paused = hooks_->pause.exchange(false);
  uint32_t eip = 0;
  if (hooks_->fault_eip) {
    // The engine went on past a refused instruction; the program stops on it, as on the
    // processor, so the report, a debugger and a resumed run all see it there.
    eip = *hooks_->fault_eip;
    uc_reg_write(uc_, UC_X86_REG_EIP, &eip);
  }
  uc_reg_read(uc_, UC_X86_REG_EIP, &eip);
  RunResult r;
  r.eip = eip;
  r.blocked = blocked;
  if (stop_requested_) {
    std::lock_guard lock(stop_mutex_);
    r.end = RunResult::End::Stopped;
    r.stop = stop_;
    r.message = stop_.message;
  } else if (!hooks_->fault.empty()) {
    hooks_->faulted = true;
    r.end = RunResult::End::Fault;
    if (hooks_->fault_eip) r.eip = *hooks_->fault_eip;
    if (hooks_->replayable && hooks_->instruction_hooks == 0 && hooks_->counter == 0) {
      r.eip = locate_fault(r.eip);
    }
    r.message = at_eip(hooks_->fault, r.eip);
    r.signal = hooks_->signal;
    r.fault_address = hooks_->address;
    r.access = hooks_->access;
  } else if (kernel_->exited()) {
    if (const auto& stopped = kernel_->stopped()) {
      r.end = RunResult::End::Stopped;
      r.stop = *stopped;
      r.message = stopped->message;
    } else {
      r.end = RunResult::End::Exited;
      r.status = kernel_->exit_status();
    }
  } else if (rc != UC_ERR_OK) {
    hooks_->faulted = true;
    r.end = RunResult::End::Fault;
    r.message = at_eip(rc == UC_ERR_INSN_INVALID ? "invalid instruction" : uc_strerror(rc), eip);
    r.signal = rc == UC_ERR_INSN_INVALID ? SIGILL : SIGSEGV;
    // The engine calls rdpmc invalid where the processor, with performance counters closed
    // to user programs, refuses it as privileged.
    uint8_t op[2] = {};
    if (rc == UC_ERR_INSN_INVALID && uc_mem_read(uc_, eip, op, 2) == UC_ERR_OK && op[0] == 0x0F &&
        op[1] == 0x33) {
      r.message = at_eip("rdpmc instruction", eip);
      r.signal = SIGSEGV;
    }
  } else if (eip == until) {
    r.end = RunResult::End::Returned;
  } else if (paused || count != 0 || blocked) {
    r.end = RunResult::End::Paused;
  } else {
    // The CPU stopped by itself: a privileged hlt. EIP is past it.
    hooks_->faulted = true;
    r.end = RunResult::End::Fault;
    r.eip = eip - 1;
    r.message = at_eip("hlt instruction", eip - 1);
    r.signal = SIGSEGV;
  }
  for (const auto& [id, observer] : run_observers_) observer(r);
  return r;
}

int Process::add_run_observer(std::function<void(const RunResult&)> observer) {
  run_observers_[++next_observer_] = std::move(observer);
  return next_observer_;
}

void Process::remove_run_observer(int id) { run_observers_.erase(id); }

RunResult Process::run(const std::vector<std::string>& args, uint32_t stack_offset) {
  if (!prepare(args, stack_offset)) {
    RunResult r;
    r.end = RunResult::End::Fault;
    r.message = "the argument list does not fit on the stack";
    return r;
  }
  return resume();
}

RunResult Process::resume(uint64_t max_instructions) {
  uint32_t eip = 0;
  uc_reg_read(uc_, UC_X86_REG_EIP, &eip);
  return execute(eip, layout::kSentinel, max_instructions);
}

void Process::request_pause() {
  hooks_->pause = true;
  uc_emu_stop(uc_);
}

bool Process::prepare(const std::vector<std::string>& args, uint32_t stack_offset) {
  auto stack = initial_stack(args, layout::kStackTop, layout::kStackSize, stack_offset);
  if (!stack) return false;
  memory_->poke(stack->strings_at, stack->strings.data(), stack->strings.size());
  memory_->poke(stack->sp, stack->words.data(), stack->words.size() * 4);
  reset_user_state();
  uc_reg_write(uc_, UC_X86_REG_ESP, &stack->sp);
  uint32_t entry = image_.entry();
  uc_reg_write(uc_, UC_X86_REG_EIP, &entry);
  return true;
}

void Process::reset_user_state() {
  // A fault stays "in flight" for the engine, which never delivers it: the next one would be
  // taken for a double fault, the one after for a triple fault that halts the CPU. The CPU as
  // it was set up is restored instead, as a new process gets a new one.
  if (hooks_->faulted) {
    uc_context_restore(uc_, fresh_cpu_);
    hooks_->faulted = false;
  }
  // What a run left behind must not reach the next start or call: a trap flag, a direction
  // flag, or the 8086 mode the engine lets a user's iret enter. The flags go first: only
  // without that mode are the selectors protected-mode ones again.
  uint32_t eflags = kUserEflags;
  uc_reg_write(uc_, UC_X86_REG_EFLAGS, &eflags);
  for (auto [reg, selector] :
       {std::pair{UC_X86_REG_SS, kUserDataSelector}, std::pair{UC_X86_REG_CS, kUserCodeSelector},
        std::pair{UC_X86_REG_DS, kUserDataSelector}, std::pair{UC_X86_REG_ES, kUserDataSelector},
        std::pair{UC_X86_REG_FS, 0u}, std::pair{UC_X86_REG_GS, 0u}}) {
    uint32_t now = 0;
    uc_reg_read(uc_, reg, &now);
    if (now != selector) uc_reg_write(uc_, reg, &selector);
  }
}

RunResult Process::call(uint32_t function, std::span<const uint32_t> slots) {
  // The call frame: the return address, then the argument slots on a 16-byte boundary, as a
  // call instruction would leave them.
  uint32_t frame[64];
  if (slots.size() + 1 > std::size(frame)) {
    RunResult r;
    r.end = RunResult::End::Fault;
    r.message = "too many argument slots";
    return r;
  }
  frame[0] = layout::kSentinel;
  std::copy(slots.begin(), slots.end(), frame + 1);
  uint32_t sp = layout::kStackTop - 0x1000 - 4;
  memory_->poke(sp, frame, (slots.size() + 1) * 4);
  // An empty x87 stack for every call, so a long double left by the last one cannot pile up.
  uint32_t fpsw = 0, fptag = 0xFFFF;
  uc_reg_write(uc_, UC_X86_REG_FPSW, &fpsw);
  uc_reg_write(uc_, UC_X86_REG_FPTAG, &fptag);
  reset_user_state();
  uc_reg_write(uc_, UC_X86_REG_ESP, &sp);
  return execute(function, layout::kSentinel);
}

uint32_t Process::eax() const {
  uint32_t v = 0;
  uc_reg_read(uc_, UC_X86_REG_EAX, &v);
  return v;
}

long double Process::st0() const {
  uint32_t fpsw = 0;
  uc_reg_read(uc_, UC_X86_REG_FPSW, &fpsw);
  uint32_t top = (fpsw >> 11) & 7;
  // Unicorn hands out the register as the x87 keeps it: 64-bit significand, then sign and
  // exponent; the host's long double has the same 80-bit layout.
  uint8_t reg[16] = {};
  uc_reg_read(uc_, UC_X86_REG_FP0 + static_cast<int>(top), reg);
  long double v = 0;
  static_assert(sizeof(long double) >= 10);
  std::memcpy(&v, reg, 10);
  return v;
}

uint32_t Process::esp() const {
  uint32_t v = 0;
  uc_reg_read(uc_, UC_X86_REG_ESP, &v);
  return v;
}

void Process::request_stop(const RunStop& stop) {
  {
    std::lock_guard lock(stop_mutex_);
    if (!stop_requested_) {  // the first reason stands
      stop_ = stop;
      stop_requested_ = true;
    }
  }
  kernel_->stop_request().raise();
  uc_emu_stop(uc_);
}

void Process::set_instruction_limit(uint64_t limit) {
  hooks_->instruction_limit = limit;
  if (limit != 0) set_instruction_counting(true);
}

void Process::set_instruction_counting(bool on) {
  if (on && hooks_->counter == 0) {
    uc_cb_hookcode_t count = [](uc_engine*, uint64_t, uint32_t, void* user) {
      auto* hooks = static_cast<Hooks*>(user);
      if (++*hooks->instructions > hooks->instruction_limit && hooks->instruction_limit != 0) {
        hooks->process->request_stop(RunStop{
            RunStop::Cause::Limit, 0,
            "stopped at the instruction limit of " + std::to_string(hooks->instruction_limit)});
      }
    };
    uc_hook_add(uc_, &hooks_->counter, UC_HOOK_CODE, reinterpret_cast<void*>(count), hooks_.get(),
                1, 0);
  } else if (!on && hooks_->counter != 0 && hooks_->instruction_limit == 0) {
    uc_hook_del(uc_, hooks_->counter);
    hooks_->counter = 0;
  }
}

uint32_t Process::locate_fault(uint32_t block_start) {
  hooks_->replaying = true;
  // The replay runs one instruction at a time from anywhere in the block: blocks of one
  // instruction, which no length limit refuses.
  blocks_->set_single_instructions(true);
  std::optional<uint32_t> at = replay_faulting_block(
      uc_, block_start, hooks_->faulting, layout::kSentinel, [this] { drop_translations(); });
  blocks_->set_single_instructions(false);
  hooks_->replaying = false;
  if (!at) return block_start;
  uc_reg_write(uc_, UC_X86_REG_EIP, &*at);
  return *at;
}

void Process::drop_translations() {
  // Only the code: dropping the engine's whole cache costs far more (it clears all of its
  // buffer).
  for (const Segment& seg : image_.segments()) {
    if ((seg.perms & kExec) != 0 && seg.memsz != 0) {
      uc_ctl_remove_cache(uc_, uint64_t{seg.vaddr}, uint64_t{seg.vaddr} + seg.memsz);
    }
  }
}

void Process::count_instruction_hook(int delta) { hooks_->instruction_hooks += delta; }

bool Process::pause_pending() const { return hooks_->pause; }

bool Process::replaying() const { return hooks_->replaying; }

size_t Process::block_cuts() const { return blocks_->cuts(); }

uint64_t Process::instructions() const { return *hooks_->instructions; }
void Process::reset_instructions() { *hooks_->instructions = 0; }

void Process::set_slice(uint64_t slice) {
  if (slice == slice_) return;
  // The engine counts a budget with a hook it puts only into code translated from then on.
  if (slice != 0 && slice_ == 0) drop_translations();
  slice_ = slice;
}

void Process::share_instruction_limit(Process& with) {
  hooks_->instructions = with.hooks_->instructions;
  set_instruction_limit(with.hooks_->instruction_limit);
}

}  // namespace nuv
