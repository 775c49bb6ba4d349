#include "host/timetravel/rdtsc_hooks.h"

#include <unicorn/unicorn.h>
#include <x86intrin.h>

namespace nuv {

RdtscHooks::RdtscHooks(Process& process, Journal*& journal) : process_(process), journal_(journal) {
  for (const Segment& seg : process.image().segments()) {
    if ((seg.perms & kExec) == 0) continue;
    const std::vector<uint8_t>& b = seg.bytes;
    for (size_t i = 0; i + 1 < b.size(); ++i) {
      bool rdtsc = b[i] == 0x0F && b[i + 1] == 0x31;
      bool rdtscp = i + 2 < b.size() && b[i] == 0x0F && b[i + 1] == 0x01 && b[i + 2] == 0xF9;
      if (!rdtsc && !rdtscp) continue;
      uint64_t at = uint64_t{seg.vaddr} + i;
      uc_hook hook = 0;
      if (uc_hook_add(process.engine(), &hook, UC_HOOK_CODE, reinterpret_cast<void*>(&on_code),
                      this, at, at) == UC_ERR_OK) {
        hooks_.push_back(hook);
      }
    }
  }
  if (!hooks_.empty()) process.drop_translations();
}

RdtscHooks::~RdtscHooks() {
  for (uint64_t hook : hooks_) uc_hook_del(process_.engine(), hook);
  if (!hooks_.empty()) process_.drop_translations();
}

void RdtscHooks::on_code(uc_struct* uc, uint64_t address, uint32_t size, void* user) {
  auto* self = static_cast<RdtscHooks*>(user);
  if (self->journal_ == nullptr || self->process_.replaying() || self->process_.pause_pending()) {
    return;
  }
  uint8_t op[3] = {};
  if (uc_mem_read(uc, address, op, size < 3 ? size : 3) != UC_ERR_OK) return;
  bool rdtsc = size == 2 && op[0] == 0x0F && op[1] == 0x31;
  bool rdtscp = size == 3 && op[0] == 0x0F && op[1] == 0x01 && op[2] == 0xF9;
  if (!rdtsc && !rdtscp) return;
  // The instruction is done here: its result comes from the journal, and the run goes on
  // after it.
  uint64_t value =
      self->journal_->rdtsc(self->process_.kernel(), static_cast<uint32_t>(address), __rdtsc());
  uint32_t low = static_cast<uint32_t>(value), high = static_cast<uint32_t>(value >> 32);
  uint32_t next = static_cast<uint32_t>(address + size);
  uc_reg_write(uc, UC_X86_REG_EAX, &low);
  uc_reg_write(uc, UC_X86_REG_EDX, &high);
  if (rdtscp) {
    uint32_t cpu = 0;
    uc_reg_write(uc, UC_X86_REG_ECX, &cpu);
  }
  uc_reg_write(uc, UC_X86_REG_EIP, &next);
}

}  // namespace nuv
