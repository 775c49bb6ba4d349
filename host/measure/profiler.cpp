#include "host/measure/profiler.h"

#include <unicorn/unicorn.h>

#include <algorithm>
#include <memory>

#include "host/machine/process.h"
#include "host/measure/code_span.h"

namespace nuv {

namespace {

// How far below the top a ret looks for the frame it returns from: a ret that matches none
// (code that pushes its own return address) must not cost a walk of the whole stack.
constexpr size_t kReturnSearch = 64;

bool is_prefix(uint8_t b) {
  switch (b) {
    case 0x26:
    case 0x2E:
    case 0x36:
    case 0x3E:
    case 0x64:
    case 0x65:
    case 0x66:
    case 0x67:
    case 0xF0:
    case 0xF2:
    case 0xF3:
      return true;
    default:
      return false;
  }
}

}  // namespace

void merge(RawProfile& into, const RawProfile& from) {
  if (from.instructions.empty()) {
  } else if (into.instructions.empty()) {
    into.base = from.base;
    into.instructions = from.instructions;
  } else {
    uint64_t begin = std::min(into.base, from.base);
    uint64_t end =
        std::max(into.base + into.instructions.size(), from.base + from.instructions.size());
    std::vector<uint64_t> counts(end - begin, 0);
    for (size_t i = 0; i < into.instructions.size(); ++i) {
      counts[into.base - begin + i] += into.instructions[i];
    }
    for (size_t i = 0; i < from.instructions.size(); ++i) {
      counts[from.base - begin + i] += from.instructions[i];
    }
    into.base = static_cast<uint32_t>(begin);
    into.instructions = std::move(counts);
  }
  for (const auto& [key, edge] : from.calls) {
    CallEdge& e = into.calls[key];
    e.calls += edge.calls;
    e.instructions += edge.instructions;
    e.kernel_calls += edge.kernel_calls;
  }
  for (const auto& [key, count] : from.kernel_calls) into.kernel_calls[key] += count;
  for (const auto& [key, count] : from.stacks) into.stacks[key] += count;
  into.total_instructions += from.total_instructions;
  into.total_kernel_calls += from.total_kernel_calls;
}

Profiler::Profiler(Process& process) : process_(process), uc_(process.engine()) {
  CodeSpan span = code_span(process.image());
  if (span.end == span.begin) return;
  p_.base = span.begin;
  p_.instructions.assign(span.end - span.begin, 0);
  kinds_.assign(span.end - span.begin, kUnknown);
  uc_ctl_remove_cache(uc_, span.begin, span.end);
  uc_hook_add(uc_, &hook_, UC_HOOK_CODE, reinterpret_cast<void*>(&Profiler::on_instruction), this,
              span.begin, span.end - 1);
  if (hook_ != 0) process.count_instruction_hook(+1);
  // The kernel outlives this profiler: its observer must find out when the profiler is gone.
  alive_ = std::make_shared<Profiler*>(this);
  std::weak_ptr<Profiler*> alive = alive_;
  // The observers are the machine's: only this process's calls are its.
  process.kernel().add_observer([alive, pid = process.kernel().pid()](const ServiceCall& call) {
    if (call.pid != pid) return;
    if (auto self = alive.lock()) (*self)->on_kernel_call(call.number);
  });
}

Profiler::~Profiler() {
  if (hook_ == 0) return;
  uc_hook_del(uc_, hook_);
  process_.count_instruction_hook(-1);
}

Profiler::Kind Profiler::classify(uint32_t address, uint32_t size) {
  uint8_t code[16] = {};
  size = std::min<uint32_t>(size, sizeof code);
  if (size == 0 || uc_mem_read(uc_, address, code, size) != UC_ERR_OK) return kPlain;
  uint32_t i = 0;
  while (i < size && is_prefix(code[i])) ++i;
  if (i >= size) return kPlain;
  uint8_t op = code[i];
  if (op == 0xE8 || op == 0x9A) return kCall;
  if (op == 0xFF && i + 1 < size) {
    uint8_t reg = (code[i + 1] >> 3) & 7;
    if (reg == 2 || reg == 3) return kCall;
  }
  if (op == 0xC3 || op == 0xC2 || op == 0xCB || op == 0xCA) return kRet;
  return kPlain;
}

void Profiler::on_instruction(uc_struct*, uint64_t address, uint32_t size, void* user) {
  auto* self = static_cast<Profiler*>(user);
  uint64_t at = address - self->p_.base;
  if (at >= self->kinds_.size()) return;
  auto addr = static_cast<uint32_t>(address);
  if (self->nodes_.empty()) {
    self->nodes_.push_back(Node{0, addr, 0});
  } else if (self->pending_ == kCall) {
    self->enter(addr);
  } else if (self->pending_ == kRet) {
    self->leave(addr);
  }
  ++self->p_.instructions[at];
  ++self->p_.total_instructions;
  Kind kind = self->kinds_[at];
  if (kind == kUnknown) kind = self->kinds_[at] = self->classify(addr, size);
  self->pending_ = kind;
  self->last_ = addr;
  self->last_end_ = addr + size;
}

void Profiler::on_kernel_call(uint32_t number) {
  ++p_.kernel_calls[{last_, number}];
  ++p_.total_kernel_calls;
}

uint32_t Profiler::child(uint32_t parent, uint32_t entry) {
  auto [it, fresh] = children_.try_emplace({parent, entry}, static_cast<uint32_t>(nodes_.size()));
  if (fresh) nodes_.push_back(Node{parent, entry, 0});
  return it->second;
}

void Profiler::switch_node(uint32_t node) {
  nodes_[node_].self += p_.total_instructions - node_since_;
  node_ = node;
  node_since_ = p_.total_instructions;
}

void Profiler::enter(uint32_t entry) {
  if (stack_.size() >= kMaxDepth) return;
  Frame f;
  f.call_site = last_;
  f.entry = entry;
  f.return_to = last_end_;
  f.instructions_before = p_.total_instructions;
  f.kernel_calls_before = p_.total_kernel_calls;
  f.node = child(node_, entry);
  stack_.push_back(f);
  switch_node(f.node);
}

void Profiler::close(const Frame& f) {
  CallEdge& edge = p_.calls[{f.call_site, f.entry}];
  ++edge.calls;
  edge.instructions += p_.total_instructions - f.instructions_before;
  edge.kernel_calls += p_.total_kernel_calls - f.kernel_calls_before;
}

void Profiler::leave(uint32_t landed) {
  size_t limit = std::min(stack_.size(), kReturnSearch);
  for (size_t k = 1; k <= limit; ++k) {
    if (stack_[stack_.size() - k].return_to != landed) continue;
    // Frames above the one returned from were left without a ret of their own (longjmp-like).
    for (size_t i = 0; i < k; ++i) {
      close(stack_.back());
      stack_.pop_back();
    }
    switch_node(stack_.empty() ? 0 : stack_.back().node);
    return;
  }
}

RawProfile Profiler::finish() {
  while (!stack_.empty()) {
    close(stack_.back());
    stack_.pop_back();
  }
  if (!nodes_.empty()) {
    switch_node(0);
    for (const Node& n : nodes_) {
      if (n.self == 0) continue;
      std::vector<uint32_t> chain;
      for (const Node* at = &n;; at = &nodes_[at->parent]) {
        chain.push_back(at->entry);
        if (at == &nodes_[0]) break;
      }
      std::reverse(chain.begin(), chain.end());
      p_.stacks[chain] += n.self;
    }
  }
  return std::move(p_);
}

}  // namespace nuv
