#include "host/measure/block_coverage.h"

#include <unicorn/unicorn.h>

#include <limits>

#include "host/machine/process.h"
#include "host/measure/code_span.h"

namespace nuv {

BlockCoverage::BlockCoverage(Process& process) : process_(process), uc_(process.engine()) {
  CodeSpan span = code_span(process.image());
  if (span.end == span.begin) return;
  base_ = span.begin;
  longest_.assign(span.end - span.begin, 0);
  // Blocks translated before now carry no hook: start from a clean cache.
  uc_ctl_remove_cache(uc_, span.begin, span.end);
  uc_hook_add(uc_, &hook_, UC_HOOK_BLOCK, reinterpret_cast<void*>(&BlockCoverage::on_block), this,
              span.begin, span.end - 1);
}

BlockCoverage::~BlockCoverage() {
  if (hook_ != 0) uc_hook_del(uc_, hook_);
}

void BlockCoverage::on_block(uc_struct*, uint64_t address, uint32_t size, void* user) {
  auto* self = static_cast<BlockCoverage*>(user);
  if (self->process_.replaying()) return;
  uint64_t at = address - self->base_;
  if (at >= self->longest_.size()) return;
  uint16_t& longest = self->longest_[at];
  if (size > longest) longest = static_cast<uint16_t>(std::min<uint32_t>(size, UINT16_MAX));
}

std::vector<CodeBlock> BlockCoverage::blocks() const {
  std::vector<CodeBlock> out;
  for (size_t i = 0; i < longest_.size(); ++i) {
    if (longest_[i] == 0) continue;
    uint32_t begin = base_ + static_cast<uint32_t>(i);
    out.push_back({begin, begin + longest_[i]});
  }
  return out;
}

}  // namespace nuv
