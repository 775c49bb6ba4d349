#include "host/timetravel/history.h"

#include <unicorn/unicorn.h>

#include <algorithm>
#include <cstring>

namespace nuv {
namespace {
constexpr uint32_t kPage = 0x1000;
}

History::History(Process& process, Journal* inner, uint64_t memory_bound, uint64_t interval)
    : process_(process), inner_(inner), bound_(memory_bound), interval_(interval) {
  take_snapshot();
}

History::~History() {
  for (Snapshot& s : snapshots_) uc_context_free(s.cpu);
}

void History::take_snapshot() {
  Snapshot s;
  s.position = position_;
  s.cursor = cursor_;
  if (uc_context_alloc(process_.engine(), &s.cpu) != UC_ERR_OK) return;
  uc_context_save(process_.engine(), s.cpu);
  bytes_ += uc_context_size(process_.engine());
  // Only what changed since the snapshot before: pages the program can write, compared with
  // their latest version.
  for (const Region& r : process_.memory().regions()) {
    if ((r.perms & kWrite) == 0 || r.name == "scratch") continue;
    for (uint64_t at = r.begin; at < r.end; at += kPage) {
      const uint8_t* now = r.host + (at - r.begin);
      auto& versions = pages_[static_cast<uint32_t>(at)];
      if (!versions.empty() && std::memcmp(versions.back().bytes.get(), now, kPage) == 0) continue;
      auto copy = std::make_unique<uint8_t[]>(kPage);
      std::memcpy(copy.get(), now, kPage);
      versions.push_back(PageVersion{position_, std::move(copy)});
      bytes_ += kPage;
    }
  }
  snapshots_.push_back(s);
  next_snapshot_ = position_ + interval_;
  furthest_ = std::max(furthest_, position_);
  if (bytes_ > bound_) thin();
}

// Over the bound: every other snapshot between the first and the latest goes, so the older
// history keeps fewer, further apart. A page version of a snapshot that goes serves the next
// one kept, unless that one has its own.
void History::thin() {
  if (snapshots_.size() < 3) return;
  std::vector<Snapshot> kept;
  kept.push_back(snapshots_.front());
  for (size_t i = 1; i + 1 < snapshots_.size(); ++i) {
    if (i % 2 == 0) {
      kept.push_back(snapshots_[i]);
      continue;
    }
    uint64_t gone = snapshots_[i].position, next = snapshots_[i + 1].position;
    for (auto& [page, versions] : pages_) {
      for (size_t v = 0; v < versions.size(); ++v) {
        if (versions[v].position != gone) continue;
        if (v + 1 < versions.size() && versions[v + 1].position == next) {
          versions.erase(versions.begin() + static_cast<long>(v));
          bytes_ -= kPage;
        } else {
          versions[v].position = next;
        }
        break;
      }
    }
    uc_context_free(snapshots_[i].cpu);
    bytes_ -= uc_context_size(process_.engine());
  }
  kept.push_back(snapshots_.back());
  snapshots_ = std::move(kept);
}

std::vector<uint64_t> History::snapshot_positions() const {
  std::vector<uint64_t> out;
  for (const Snapshot& s : snapshots_) out.push_back(s.position);
  return out;
}

uint64_t History::restore_before(uint64_t position) {
  furthest_ = std::max(furthest_, position_);
  auto it = std::upper_bound(snapshots_.begin(), snapshots_.end(), position,
                             [](uint64_t p, const Snapshot& s) { return p < s.position; });
  const Snapshot& s = *std::prev(it);  // the first snapshot is at 0
  uc_context_restore(process_.engine(), s.cpu);
  for (auto& [page, versions] : pages_) {
    auto v = std::upper_bound(versions.begin(), versions.end(), s.position,
                              [](uint64_t p, const PageVersion& pv) { return p < pv.position; });
    if (v == versions.begin()) continue;
    const Region* r = process_.memory().region_at(page);
    if (r == nullptr) continue;
    std::memcpy(r->host + (page - r->begin), std::prev(v)->bytes.get(), kPage);
  }
  position_ = s.position;
  cursor_ = s.cursor;
  // Snapshots are taken only beyond the last one: running again up to there retakes none.
  next_snapshot_ = snapshots_.back().position + interval_;
  process_.kernel().reset_exit();
  return s.position;
}

std::optional<int32_t> History::answer(Kernel& kernel, const ServiceCall& call) {
  // The history follows the debugged process; the others' calls go past it.
  if (&kernel != &process_.kernel()) return inner_ ? inner_->answer(kernel, call) : std::nullopt;
  from_log_ = cursor_ < log_.size();
  if (!from_log_) return inner_ ? inner_->answer(kernel, call) : std::nullopt;
  const Entry& e = log_[cursor_++];
  for (const CallStore& s : e.stores) {
    kernel.memory().copy_out(s.address, s.bytes.data(), s.bytes.size());
  }
  return e.result;
}

std::vector<CallStore> History::answered_stores() const {
  if (from_log_ && cursor_ > 0) return log_[cursor_ - 1].stores;
  return inner_ ? inner_->answered_stores() : std::vector<CallStore>{};
}

void History::parked(Kernel& kernel, const ServiceCall& call) {
  if (&kernel == &process_.kernel()) {
    uncount();
  } else if (inner_) {
    inner_->parked(kernel, call);
  }
}

int History::program(Kernel& kernel, const std::string& path, const std::function<int()>& open) {
  return inner_ ? inner_->program(kernel, path, open) : open();
}

void History::completed(Kernel& kernel, const ServiceCall& call,
                        const std::vector<CallStore>& stores) {
  if (&kernel != &process_.kernel()) {
    if (inner_) inner_->completed(kernel, call, stores);
    return;
  }
  if (from_log_) {
    from_log_ = false;
    return;
  }
  if (inner_) inner_->completed(kernel, call, stores);
  Entry e;
  e.result = call.result;
  e.stores = stores;
  if (stores.empty() && inner_) e.stores = inner_->answered_stores();
  log_.push_back(std::move(e));
  cursor_ = log_.size();
}

uint64_t History::rdtsc(Kernel& kernel, uint32_t eip, uint64_t host) {
  if (&kernel != &process_.kernel()) return inner_ ? inner_->rdtsc(kernel, eip, host) : host;
  if (cursor_ < log_.size()) return log_[cursor_++].rdtsc;
  Entry e;
  e.rdtsc = inner_ ? inner_->rdtsc(kernel, eip, host) : host;
  log_.push_back(e);
  cursor_ = log_.size();
  return e.rdtsc;
}

}  // namespace nuv
