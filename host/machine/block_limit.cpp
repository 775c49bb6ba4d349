#include "host/machine/block_limit.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <utility>
#include <vector>

namespace nuv {

namespace {

constexpr uint64_t kNoFetch = ~uint64_t{0};
// The longest i386 instruction.
constexpr uint32_t kMaxInstruction = 15;
// Refusals of one block in a row before a run gives up on it: one counted from an earlier
// block, one that leads to a cut, and one to spare.
constexpr int kMaxRetries = 3;

}  // namespace

BlockLimit::BlockLimit(uc_engine* uc, const GuestMemory& memory, uc_cb_eventmem_t on_fault,
                       void* fault_user)
    : uc_(uc), memory_(memory), on_fault_(on_fault), fault_user_(fault_user) {
  if (uc_hook_add(uc_, &fetch_hook_, UC_HOOK_MEM_FETCH_PROT, reinterpret_cast<void*>(on_fetch),
                  this, 1, 0) != UC_ERR_OK ||
      uc_hook_add(uc_, &new_block_hook_, UC_HOOK_EDGE_GENERATED,
                  reinterpret_cast<void*>(on_new_block), this, 1, 0) != UC_ERR_OK ||
      uc_ctl_exits_enable(uc_) != UC_ERR_OK) {
    throw std::runtime_error("cannot set up the i386 emulator's code fetches");
  }
}

bool BlockLimit::on_fetch(uc_engine* uc, uc_mem_type type, uint64_t address, int size,
                          int64_t value, void* user) {
  auto* self = static_cast<BlockLimit*>(user);
  const Region* r =
      address <= UINT32_MAX ? self->memory_.region_at(static_cast<uint32_t>(address)) : nullptr;
  if (r == nullptr || (r->perms & kExec) == 0) {
    return self->on_fault_(uc, type, address, size, value, self->fault_user_);
  }
  if (self->single_) {
    // The block's first fetch: an exit on every address its second instruction may begin at.
    if (!self->cut_exits_) {
      self->cut_from_ = static_cast<uint32_t>(address) + 1;
      self->cut_to_ = static_cast<uint32_t>(address) + kMaxInstruction;
      self->set_exits(true);
    }
    return true;
  }
  // The engine fetches a block's bytes in order, and only while it translates. Two blocks
  // translated back to back look like one: the count is then too high, never too low.
  if (address != self->next_fetch_) self->block_begin_ = address;
  self->next_fetch_ = address + static_cast<uint64_t>(size);
  if (self->next_fetch_ - self->block_begin_ <= kMaxBlockBytes) return true;
  self->refused_at_ = address;
  self->next_fetch_ = kNoFetch;
  return false;
}

void BlockLimit::on_new_block(uc_engine*, uc_tb* block, uc_tb*, void* user) {
  // Called once the engine translated a block, before it runs (the cut block is the first one
  // the cut's start translates). The next block's bytes are counted from its own start.
  auto* self = static_cast<BlockLimit*>(user);
  self->next_fetch_ = kNoFetch;
  if (self->cut_exits_ &&
      (self->single_ || (!self->cut_for_fault_ && self->cut_block_ == block->pc))) {
    self->set_exits(false);
  }
}

void BlockLimit::set_exits(bool with_cut) {
  std::vector<uint64_t> exits{until_};
  if (with_cut) {
    for (uint64_t a = cut_from_; a <= cut_to_; ++a) exits.push_back(a);
  }
  uc_ctl_set_exits(uc_, exits.data(), exits.size());
  cut_exits_ = with_cut;
}

void BlockLimit::start_run(uint32_t until) {
  if (until != until_ || cut_exits_) {
    until_ = until;
    set_exits(false);
  }
  cut_block_.reset();
  next_fetch_ = kNoFetch;
  refused_at_.reset();
  refused_block_.reset();
}

void BlockLimit::set_single_instructions(bool on) {
  single_ = on;
  cut_block_.reset();
  next_fetch_ = kNoFetch;
  if (cut_exits_) set_exits(false);
}

void BlockLimit::cut(uint32_t block, uint32_t from, uint32_t to, bool for_fault) {
  cut_block_ = block;
  cut_from_ = from;
  cut_to_ = to;
  cut_for_fault_ = for_fault;
  set_exits(true);
  if (for_fault) return;
  ++cuts_;
  cut_ends_[block] = {from, to};
}

void BlockLimit::end_cut() {
  cut_block_.reset();
  if (cut_exits_) set_exits(false);
}

bool BlockLimit::at_cut_end(uint32_t eip) const {
  if (cut_block_ && eip >= cut_from_ && eip <= cut_to_) return true;
  // The blocks that may end at EIP start at most kMaxBlockBytes before it.
  for (auto it = cut_ends_.lower_bound(eip > kMaxBlockBytes ? eip - kMaxBlockBytes : 0);
       it != cut_ends_.end() && it->first < eip; ++it) {
    if (eip >= it->second.first && eip <= it->second.second) return true;
  }
  return false;
}

std::optional<uint32_t> BlockLimit::resume_point(const Stop& stop) {
  std::optional<uint64_t> refused = std::exchange(refused_at_, std::nullopt);
  next_fetch_ = kNoFetch;
  std::optional<uint32_t> block = cut_block_;
  bool for_fault = cut_for_fault_;
  bool at_end = !stop.ended && stop.rc == UC_ERR_OK && at_cut_end(stop.eip);
  end_cut();
  if (stop.ended) {
    // A fetch it may not make, inside the block at EIP: none of the block ran. It runs again
    // up to the instruction that begins last before the address, then instruction by
    // instruction, until the block's first instruction is the one that makes the fetch.
    if (!stop.fetch_fault || (for_fault && block == stop.eip)) return std::nullopt;
    uint32_t to = *stop.fetch_fault;
    if (to <= stop.eip || to - stop.eip > kMaxBlockBytes + kMaxInstruction) return std::nullopt;
    uint32_t from = std::max(stop.eip + 1, to > kMaxInstruction ? to - kMaxInstruction : 0);
    cut(stop.eip, from, to, true);
    return stop.eip;
  }
  if (refused && stop.rc == UC_ERR_FETCH_PROT && *refused > stop.eip) {
    // The block at EIP was too long; none of it ran.
    retries_ = refused_block_ == stop.eip ? retries_ + 1 : 1;
    refused_block_ = stop.eip;
    if (retries_ > kMaxRetries) return std::nullopt;
    if (*refused - stop.eip + 4 < kMaxBlockBytes) return stop.eip;  // counted from a block before
    cut(stop.eip, stop.eip + kMaxBlockBytes / 2, static_cast<uint32_t>(*refused), false);
    return stop.eip;
  }
  if (!at_end || stop.budgeted) return std::nullopt;
  return stop.eip;
}

}  // namespace nuv
