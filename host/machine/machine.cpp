#include "host/machine/machine.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <optional>

#include "host/base/guest_errors.h"
#include "host/emu/abi_note.h"
#include "host/gui/compositor.h"

namespace nuv {

Machine::Machine(Process& first, std::string program, uint64_t memory_limit)
    : first_(first), memory_limit_(memory_limit) {
  Entry& e = table_[1];
  e.pid = 1;
  e.program = std::move(program);
  e.process = &first;
  shared().host = this;
  first.set_yield([this](bool blocked) {
    Entry& me = table_.at(1);
    me.blocked = blocked;
    me.blocked_at = shared().wakes;
    schedule(blocked ? Mode::FirstWaits : Mode::Round);
    me.blocked = false;
  });
}

Machine::~Machine() {
  for (auto& [id, e] : table_) {
    if (id != 1 && e.owned && on_stop) on_stop(*e.process, id);
  }
  first_.set_yield(nullptr);
  first_.set_slice(0);
  shared().host = nullptr;
  // The others go before the shared state they point into.
  table_.clear();
}

std::string Machine::program_of(int32_t pid) const {
  auto it = table_.find(pid);
  return it == table_.end() ? std::string() : it->second.program;
}

size_t Machine::alive() const {
  return static_cast<size_t>(
      std::count_if(table_.begin(), table_.end(), [](const auto& kv) { return !kv.second.ended; }));
}

bool Machine::halted() const {
  const KernelShared& s = first_.kernel().shared();
  return s.stop_request.raised() || s.stopped.has_value();
}

int32_t Machine::spawn(Kernel& parent, int program, const std::vector<std::string>& args) {
  UniqueFd file(program);
  // Children that ended and were not waited for count too, as on Linux: a loop that never
  // waits cannot fill the host with them.
  if (table_.size() >= kMaxProcesses) return err::kEAGAIN;
  std::string path = "/proc/self/fd/" + std::to_string(program);
  if (inspect_abi(path).kind == AbiVerdict::Kind::Foreign) return err::kENOEXEC;
  // What the child gets: 0-2 as the parent set them (its own by default), and its other
  // descriptors under the same numbers when inheritance is on.
  Descriptors files;
  const Kernel::SpawnSettings& settings = parent.spawn_settings();
  if (settings.inherit) {
    for (int32_t fd = 3; fd < parent.files().size(); ++fd) {
      if (auto open = parent.files().share(fd)) files.install(fd, std::move(open));
    }
  }
  for (int32_t fd = 0; fd < 3; ++fd) {
    int32_t from = settings.stdio[fd] >= 0 ? settings.stdio[fd] : fd;
    std::shared_ptr<OpenFile> open = parent.files().share(from);
    if (!open && settings.stdio[fd] >= 0) return err::kEBADF;
    if (open) files.install(fd, std::move(open));
  }
  // The memory limit bounds the machine, not each process: a child gets what the live
  // processes left, or a tree of them could take the limit many times over.
  uint64_t used = 0;
  for (const auto& [id, entry] : table_) {
    if (!entry.ended || id == 1) used += entry.process->memory().mapped_bytes();
  }
  uint64_t left = used < memory_limit_ ? memory_limit_ - used : 0;
  int32_t pid = next_pid_;
  std::unique_ptr<Process> child;
  try {
    child = std::make_unique<Process>(
        path,
        [&](GuestMemory& memory) {
          return std::make_unique<Kernel>(memory, parent.shared_ptr(), parent.fs(),
                                          std::move(files), pid);
        },
        left, kTranslationBuffer);
  } catch (const MemoryLimitError&) {
    return err::kENOMEM;
  } catch (const LoadError&) {
    return err::kENOEXEC;
  } catch (const std::exception&) {
    return err::kENOMEM;
  }
  if (!child->prepare(args)) return err::kE2BIG;
  child->share_instruction_limit(first_);
  ++next_pid_;
  Entry& e = table_[pid];
  e.pid = pid;
  e.parent = parent.pid();
  e.program = args[0];
  e.process = child.get();
  e.owned = std::move(child);
  e.file = std::move(file);
  shared().several = true;
  // From now on process 1 shares the CPU too.
  first_.set_slice(kSlice);
  if (on_start) on_start(*e.process, pid);
  return pid;
}

int32_t Machine::wait(Kernel& parent, int32_t pid, bool no_hang, int32_t& status, bool reap) {
  bool any = false;
  for (auto& [id, e] : table_) {
    if (e.parent != parent.pid() || (pid > 0 && id != pid)) continue;
    any = true;
    if (!e.ended) continue;
    status = e.status;
    int32_t found = id;  // the key goes with its entry
    if (reap) table_.erase(found);
    return found;
  }
  if (!any) return err::kECHILD;
  return no_hang ? 0 : kWouldBlock;
}

void Machine::end(int32_t pid, int32_t status) {
  Entry& e = table_.at(pid);
  e.ended = true;
  e.status = status;
  e.blocked = false;
  // Its descriptors close now (a pipe's last writer gives its reader the end), and a stream
  // it never ended goes with its unnamed file.
  e.process->kernel().files().close_all();
  e.process->kernel().streams().clear();
  // A FIFO open it was parked in goes, and so does an end made for it.
  for (auto& [id, fifo] : shared().fifos) {
    fifo->waiting.erase(pid);
    fifo->ready.erase(pid);
  }
  ++shared().wakes;
  // Its children go to process 1, which reaps them when it waits; with process 1 gone there
  // is nobody, and a child that has ended already is dropped.
  bool first_alive = pid != 1 && !table_.at(1).ended;
  std::vector<int32_t> dropped;
  for (auto& [id, child] : table_) {
    if (child.parent != pid) continue;
    child.parent = first_alive ? 1 : 0;
    if (child.parent == 0 && child.ended) dropped.push_back(id);
  }
  if (e.parent == 0 && pid != 1) dropped.push_back(pid);
  // Its memory and engine go at once; the table keeps only what waitpid needs.
  if (pid != 1 && on_stop) on_stop(*e.process, pid);
  if (pid != 1) e.owned.reset();
  for (int32_t id : dropped) table_.erase(id);
  // Process 1 keeps its slices even when it is alone again: the engine drops every
  // translation (and clears its whole buffer) when a count is no longer asked for.
}

void Machine::run_slice(Entry& e) {
  RunResult r = e.process->resume(kSlice);
  switch (r.end) {
    case RunResult::End::Paused:
      e.blocked = r.blocked;
      e.blocked_at = shared().wakes;
      return;
    case RunResult::End::Exited:
      end(e.pid, exit_status_word(r.status));
      return;
    case RunResult::End::Fault:
    case RunResult::End::Returned: {
      if (r.end == RunResult::End::Returned) {
        r.message = "the program returned from its entry point";
        r.signal = SIGSEGV;
      }
      int signal = r.signal != 0 ? r.signal : SIGSEGV;
      if (on_fault) on_fault(*e.process, e.pid, e.program, r);
      end(e.pid, signal_status_word(signal));
      return;
    }
    case RunResult::End::Stopped:
      // A limit or a host failure stops the whole machine.
      if (!shared().stopped && !shared().stop_request.raised()) first_.kernel().end_run(r.stop);
      return;
  }
}

void Machine::schedule(Mode mode) {
  KernelShared& s = shared();
  for (;;) {
    if (halted()) return;
    std::vector<int32_t> ids;
    for (const auto& [id, e] : table_) {
      if (id != 1 && !e.ended) ids.push_back(id);
    }
    bool ran = false;
    for (int32_t id : ids) {
      auto it = table_.find(id);
      if (it == table_.end() || it->second.ended) continue;
      Entry& e = it->second;
      // A parked call tries again only once something happened since.
      if (e.blocked && e.blocked_at == s.wakes) continue;
      run_slice(e);
      ran = true;
      if (halted()) return;
    }
    const Entry& first = table_.at(1);
    if (mode == Mode::Round) return;
    if (mode == Mode::FirstWaits && s.wakes != first.blocked_at) return;
    if (mode == Mode::Finish && alive() == 0) return;
    if (ran) continue;
    // Nobody can run: time moves on to the earliest sleeper's end, or nothing can wake them.
    std::optional<uint64_t> earliest;
    for (const auto& [id, e] : table_) {
      if (e.ended) continue;
      const std::optional<uint64_t>& until = e.process->kernel().sleep_until();
      if (until && (!earliest || *until < *earliest)) earliest = *until;
    }
    if (!earliest) {
      deadlock();
      return;
    }
    uint64_t now = s.clock_us;
    if (*earliest > now) {
      if (s.compositor->showing_window()) {
        s.stop_request.sleep_for(std::chrono::microseconds(*earliest - now));
      }
      s.clock_us = *earliest;
    }
    ++s.wakes;
    if (mode == Mode::FirstWaits) return;
  }
}

void Machine::deadlock() {
  std::string message = "deadlock: every process waits for another and nothing can wake them";
  for (const auto& [id, e] : table_) {
    if (e.ended) continue;
    std::string what = e.process->kernel().waiting();
    message += "\n  process " + std::to_string(id) + " (" + e.program +
               "): " + (what.empty() ? "waiting" : what);
  }
  // A replay that cannot go on has left its record: the recorded run went on, or its record
  // ends with the deadlock, which the replay meets before it could wait.
  CallJournal* journal = shared().journal;
  if (journal != nullptr && journal->replays()) {
    first_.kernel().end_run(RunStop{RunStop::Cause::Diverged, 0, "replay diverged: " + message});
    return;
  }
  first_.kernel().end_run(RunStop{RunStop::Cause::Deadlock, 0, message});
}

void Machine::finish(const RunResult& first_end) {
  Entry& first = table_.at(1);
  if (!first.ended) {
    int32_t word = first_end.end == RunResult::End::Exited
                       ? exit_status_word(first_end.status)
                       : signal_status_word(first_end.signal != 0 ? first_end.signal : SIGSEGV);
    end(1, word);
  }
  if (alive() > 0) schedule(Mode::Finish);
}

}  // namespace nuv
