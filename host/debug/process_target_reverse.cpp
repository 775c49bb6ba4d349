// Going back in time: the program is put back at the nearest snapshot before where it is to
// be, and runs again from there, every kernel call and rdtsc answered from the history, up to
// the exact instruction. Going back to a breakpoint or a watched write runs each stretch
// between snapshots again, latest first, and keeps the last hit before the current position.
#include <unicorn/unicorn.h>

#include "host/debug/process_target.h"

namespace nuv {

bool ProcessTarget::reverse_refused() const {
  const ProcessHost* host = process_.kernel().shared().host;
  return host != nullptr && host->alive() > 1;
}

void ProcessTarget::run_again_to(uint64_t position) {
  if (history_->position() == position) return;
  // Neither breakpoints nor watchpoints stop a run that only brings the program back.
  scanning_ = true;
  run_to_ = position;
  first_ = true;
  stepping_ = false;
  stop_next_ = false;
  process_.resume();
  run_to_ = UINT64_MAX;
  scanning_ = false;
  hit_.reset();
}

void ProcessTarget::seek(uint64_t position) {
  history_->restore_before(position);
  run_again_to(position);
}

std::optional<ProcessTarget::Hit> ProcessTarget::last_hit(uint64_t from, uint64_t to) {
  history_->restore_before(from);
  hit_.reset();
  scanning_ = true;
  std::optional<Hit> last;
  // Each hit found runs on to the next: the last before `to` is the one wanted.
  run_to_ = to;
  first_ = true;
  stop_next_ = false;
  for (;;) {
    RunResult r = process_.resume();
    if (hit_ && hit_->position < to) last = hit_;
    hit_.reset();
    if (r.end != RunResult::End::Paused || history_->position() >= to || interrupted_) break;
  }
  scanning_ = false;
  run_to_ = UINT64_MAX;
  return last;
}

GdbStop ProcessTarget::reverse(bool step) {
  GdbStop stop;
  uint64_t now = history_->position();
  watch_hit_.reset();
  interrupted_ = false;
  // A long way back runs long: Ctrl-C stops it where it then is.
  std::shared_ptr<void> watching = on_run ? on_run() : nullptr;
  if (now == 0) {
    stop.replaylog = "begin";
    return stop;
  }
  if (step) {
    seek(now - 1);
    return stop;
  }
  std::vector<uint64_t> snapshots = history_->snapshot_positions();
  uint64_t to = now;
  for (auto it = snapshots.rbegin(); it != snapshots.rend(); ++it) {
    if (*it >= to) continue;
    std::optional<Hit> hit = last_hit(*it, to);
    if (interrupted_.exchange(false)) {
      stop.signal = SIGINT;
      return stop;
    }
    if (hit) {
      seek(hit->position);
      stop.watch = hit->watch;
      return stop;
    }
    to = *it;
  }
  seek(0);
  stop.replaylog = "begin";
  return stop;
}

}  // namespace nuv
