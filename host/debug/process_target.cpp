#include "host/debug/process_target.h"

#include <unicorn/unicorn.h>

#include "host/debug/cpu_state.h"

namespace nuv {

ProcessTarget::ProcessTarget(Process& process, ExitStatusOf exit_status)
    : process_(process), exit_status_(exit_status) {
  // One hook on every instruction: it stops at breakpoints and right after a watched write,
  // and while it exists the engine keeps EIP exact, so a fault stops at its own instruction.
  // It slows the run; a debugger's user wants the right line more.
  uc_hook hook = 0;
  if (uc_hook_add(process_.engine(), &hook, UC_HOOK_CODE, reinterpret_cast<void*>(&on_code), this,
                  1, 0) == UC_ERR_OK) {
    code_hook_ = hook;
    process_.count_instruction_hook(+1);
  }
}

ProcessTarget::~ProcessTarget() {
  clear_points();
  if (code_hook_) {
    uc_hook_del(process_.engine(), code_hook_);
    process_.count_instruction_hook(-1);
  }
}

size_t ProcessTarget::register_count() const { return i386_registers().size(); }

int ProcessTarget::register_size(size_t index) const { return i386_registers()[index].bytes; }

void ProcessTarget::read_register(size_t index, uint8_t* out) {
  nuv::read_register(process_.engine(), index, out);
}

bool ProcessTarget::write_register(size_t index, const uint8_t* in) {
  return nuv::write_register(process_.engine(), index, in);
}

size_t ProcessTarget::read_memory(uint32_t addr, uint8_t* out, size_t n) {
  size_t readable = process_.memory().run_length(addr, n, kRead);
  if (readable == 0 || !process_.memory().copy_in(addr, out, readable)) return 0;
  return readable;
}

bool ProcessTarget::write_memory(uint32_t addr, const uint8_t* in, size_t n) {
  // The debugger may patch code and constants: guest permissions do not bind it.
  return process_.memory().run_length(addr, n, 0) == n && process_.memory().poke(addr, in, n);
}

void ProcessTarget::on_code(uc_struct*, uint64_t address, uint32_t, void* user) {
  auto* self = static_cast<ProcessTarget*>(user);
  bool first = self->first_;
  self->first_ = false;
  History* history = self->history_;
  if (history && history->position() == self->run_to_) {
    self->process_.request_pause();
    return;
  }
  if (self->scanning_) {
    // Running again to find the last hit: breakpoints are noted, not stopped at.
    if (!self->breakpoints_.empty() && self->breakpoints_.count(static_cast<uint32_t>(address))) {
      self->hit_ = Hit{history->position(), std::nullopt};
    }
    history->executing();
    return;
  }
  if (self->stop_next_) {
    // The instruction before this one wrote to a watched range and is complete now.
    self->stop_next_ = false;
    self->process_.request_pause();
    return;
  }
  // A breakpoint where the run resumes has already been reported: step over it.
  // One step is done when a second instruction comes up. (Counting in the engine itself
  // overshoots to the end of a block while this hook exists.)
  if (!first && (self->stepping_ || (!self->breakpoints_.empty() &&
                                     self->breakpoints_.count(static_cast<uint32_t>(address))))) {
    self->process_.request_pause();
    return;
  }
  if (history) {
    history->executing();
    self->counted_at_ = static_cast<uint32_t>(address);
  }
}

void ProcessTarget::on_watch(uc_struct*, int, uint64_t address, int, int64_t, void* user) {
  auto* self = static_cast<ProcessTarget*>(user);
  if (self->scanning_) {
    // Going back stops before the write: the instruction that made it is the one counted last.
    self->hit_ = Hit{self->history_->position() - 1, static_cast<uint32_t>(address)};
    return;
  }
  if (!self->watch_hit_) self->watch_hit_ = static_cast<uint32_t>(address);
  self->stop_next_ = true;
}

bool ProcessTarget::insert_point(int type, uint32_t addr, uint32_t length) {
  if (type == 0 || type == 1) {
    breakpoints_.insert(addr);
    return true;
  }
  if (type != 2 || length < 1 || length > 4096 || uint64_t{addr} + length > (1ull << 32)) {
    return false;
  }
  if (watches_.count({addr, length})) return true;
  uc_hook hook = 0;
  if (uc_hook_add(process_.engine(), &hook, UC_HOOK_MEM_WRITE, reinterpret_cast<void*>(&on_watch),
                  this, addr, uint64_t{addr} + length - 1) != UC_ERR_OK) {
    return false;
  }
  watches_[{addr, length}] = hook;
  retranslate();
  return true;
}

bool ProcessTarget::remove_point(int type, uint32_t addr, uint32_t length) {
  if (type == 0 || type == 1) return breakpoints_.erase(addr) > 0;
  auto it = watches_.find({addr, length});
  if (type != 2 || it == watches_.end()) return false;
  uc_hook_del(process_.engine(), it->second);
  watches_.erase(it);
  retranslate();
  return true;
}

void ProcessTarget::clear_points() {
  breakpoints_.clear();
  if (watches_.empty()) return;
  for (auto& [range, hook] : watches_) uc_hook_del(process_.engine(), hook);
  watches_.clear();
  retranslate();
}

void ProcessTarget::retranslate() {
  // The engine puts a memory hook into the code it translates from then on, and takes it out
  // only of code translated after the hook is gone: code that already ran would keep writing
  // unseen past a new watchpoint, and keep the slow path of one that was removed.
  process_.drop_translations();
}

void ProcessTarget::interrupt() {
  interrupted_ = true;
  process_.request_pause();
}

GdbStop ProcessTarget::resume(bool step) {
  if (at_end_of_record()) {
    last_ = *record_end_;
    GdbStop end;
    end.replaylog = "end";
    return end;
  }
  first_ = true;
  stepping_ = step;
  stop_next_ = false;
  watch_hit_.reset();
  interrupted_ = false;
  // Run again from before the end of a replay's record, the run stops there as it first did.
  if (end_of_record_) run_to_ = *end_of_record_;
  {
    std::shared_ptr<void> watching = on_run ? on_run() : nullptr;
    last_ = process_.resume();
  }
  run_to_ = UINT64_MAX;
  bool interrupted = interrupted_.exchange(false);
  GdbStop stop;
  switch (last_.end) {
    case RunResult::End::Exited:
      ended_ = true;
      stop.kind = GdbStop::Kind::Exited;
      stop.status = static_cast<int>(static_cast<uint32_t>(last_.status) & 0xFF);
      break;
    case RunResult::End::Stopped:
      if (history_ && last_.stop.end_of_record) {
        end_of_record_ = history_->position();
        record_end_ = last_;
        stop.replaylog = "end";
        break;
      }
      ended_ = true;
      if (last_.stop.cause == RunStop::Cause::Signal) {
        stop.kind = GdbStop::Kind::Terminated;
        stop.signal = last_.stop.signal;
        break;
      }
      stop.kind = GdbStop::Kind::Exited;
      stop.status = exit_status_(last_.stop);
      break;
    case RunResult::End::Fault:
      stop.signal = last_.signal ? last_.signal : SIGSEGV;
      // The faulting instruction was counted as it began; it never completed.
      if (history_ && last_.eip == counted_at_) history_->uncount();
      break;
    case RunResult::End::Returned:
      // _start has nowhere to return to: a native process would crash there.
      stop.signal = SIGSEGV;
      break;
    case RunResult::End::Paused:
      if (at_end_of_record()) {
        last_ = *record_end_;  // how the run ends there, should it be left to
        stop.replaylog = "end";
        break;
      }
      stop.watch = watch_hit_;
      stop.signal = interrupted && !watch_hit_ ? SIGINT : SIGTRAP;
      break;
  }
  return stop;
}

GdbStop ProcessTarget::deliver(int signal) {
  ended_ = true;
  fatal_signal_ = signal;
  GdbStop stop;
  stop.kind = GdbStop::Kind::Terminated;
  stop.signal = signal;
  return stop;
}

const std::string& ProcessTarget::target_xml() const { return i386_target_xml(); }

}  // namespace nuv
