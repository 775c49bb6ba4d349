#include "host/measure/block_coverage.h"

#include <unicorn/unicorn.h>

#include <algorithm>

#include "host/machine/process.h"
#include "host/measure/code_span.h"

namespace nuv {

BlockCoverage::BlockCoverage(Process& process) : process_(process), uc_(process.engine()) {
  CodeSpan span = code_span(process.image());
  if (span.end == span.begin) return;
  base_ = span.begin;
  first_.assign(span.end - span.begin, 0);
  // Blocks translated before now carry no hook: start from a clean cache.
  uc_ctl_remove_cache(uc_, uint64_t{span.begin}, uint64_t{span.end});
  uc_hook_add(uc_, &hook_, UC_HOOK_BLOCK, reinterpret_cast<void*>(&BlockCoverage::on_block), this,
              span.begin, span.end - 1);
  observer_ = process.add_run_observer([this](const RunResult& r) { on_run_end(r); });
}

BlockCoverage::~BlockCoverage() {
  if (hook_ == 0) return;
  uc_hook_del(uc_, hook_);
  process_.remove_run_observer(observer_);
}

void BlockCoverage::on_block(uc_struct*, uint64_t address, uint32_t size, void* user) {
  auto* self = static_cast<BlockCoverage*>(user);
  if (self->process_.replaying()) return;
  uint64_t at = address - self->base_;
  if (at >= self->first_.size()) return;
  uint32_t i = self->first_[at];
  while (i != 0 && self->counted_[i - 1].size != size) i = self->counted_[i - 1].next;
  if (i == 0) {
    self->counted_.push_back({static_cast<uint32_t>(address), size, 0, self->first_[at]});
    i = self->first_[at] = static_cast<uint32_t>(self->counted_.size());
  }
  ++self->counted_[i - 1].count;
  self->last_ = i;
}

void BlockCoverage::on_run_end(const RunResult& r) {
  if (last_ == 0) return;
  Counted& last = counted_[last_ - 1];
  last_ = 0;
  // A fault leaves EIP on its instruction, which counts as run (as a profile counts it); a
  // pause, on the next one to run. A block that ran to its end leaves EIP outside it.
  uint32_t cut = r.end == RunResult::End::Fault ? r.eip + 1 : r.eip;
  if (r.eip < last.begin || r.eip - last.begin >= last.size || last.count == 0) return;
  --last.count;
  if (cut > last.begin) cut_.push_back({last.begin, cut, 1});
}

std::vector<CodeBlock> BlockCoverage::blocks() const {
  std::vector<CodeBlock> out;
  for (const Counted& c : counted_) {
    if (c.count > 0) out.push_back({c.begin, c.begin + c.size, c.count});
  }
  out.insert(out.end(), cut_.begin(), cut_.end());
  std::sort(out.begin(), out.end(), [](const CodeBlock& a, const CodeBlock& b) {
    return a.begin != b.begin ? a.begin < b.begin : a.end < b.end;
  });
  return out;
}

}  // namespace nuv
