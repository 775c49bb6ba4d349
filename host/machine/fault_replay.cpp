#include "host/machine/fault_replay.h"

#include <unicorn/unicorn.h>

#include <array>
#include <vector>

namespace nuv {

namespace {

constexpr int kGprIds[] = {UC_X86_REG_EAX, UC_X86_REG_ECX, UC_X86_REG_EDX, UC_X86_REG_EBX,
                           UC_X86_REG_ESP, UC_X86_REG_EBP, UC_X86_REG_ESI, UC_X86_REG_EDI};
using Gprs = std::array<uint32_t, std::size(kGprIds)>;
// The engine ends a block after at most this many instructions.
constexpr size_t kMaxBlockInstructions = 512;
// Rounds of correcting the entry state of a replay (each register that a prefix moves by a
// constant needs one).
constexpr int kEntryRounds = 4;

struct Instruction {
  uint32_t address = 0;
  uint32_t size = 0;
  bool interrupt = false;  // int n: never replayed, as it would call the kernel
};

class Replay {
 public:
  Replay(uc_engine* uc, uint32_t until, const std::function<void()>& drop_translations)
      : uc_(uc), until_(until), drop_translations_(drop_translations) {}

  ~Replay() {
    undo();
    if (saved_) {
      uc_context_restore(uc_, saved_);
      uc_context_free(saved_);
    }
    for (uc_hook h : hooks_) uc_hook_del(uc_, h);
    // The replay's hooks live on in code translated meanwhile.
    if (!hooks_.empty()) drop_translations_();
  }
  Replay(const Replay&) = delete;
  Replay& operator=(const Replay&) = delete;

  bool start() {
    if (uc_context_alloc(uc_, &saved_) != UC_ERR_OK || uc_context_save(uc_, saved_) != UC_ERR_OK) {
      return false;
    }
    at_fault_ = gprs();
    uc_hook h = 0;
    if (uc_hook_add(uc_, &h, UC_HOOK_CODE, reinterpret_cast<void*>(&on_code), this, 1, 0) !=
        UC_ERR_OK) {
      return false;
    }
    hooks_.push_back(h);
    if (uc_hook_add(uc_, &h, UC_HOOK_MEM_WRITE, reinterpret_cast<void*>(&on_write), this, 1, 0) !=
        UC_ERR_OK) {
      return false;
    }
    hooks_.push_back(h);
    if (uc_hook_add(uc_, &h, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(&on_invalid), this, 1,
                    0) != UC_ERR_OK) {
      return false;
    }
    hooks_.push_back(h);
    // Hooks reach only code translated after them.
    drop_translations_();
    return true;
  }

  // The block's instructions from `begin` to `end`, read without running any of them.
  std::vector<Instruction> instructions(uint32_t begin, uint32_t end) {
    std::vector<Instruction> out;
    for (uint32_t pc = begin; pc < end && out.size() < kMaxBlockInstructions;) {
      restore();
      calls_ = 0;
      peek_ = true;
      size_ = 0;
      uc_emu_start(uc_, pc, until_, 0, 0);
      if (calls_ == 0 || size_ == 0) break;
      out.push_back({pc, size_, is_interrupt(pc, size_)});
      pc += size_;
    }
    return out;
  }

  // Runs the one instruction at `pc` from the state set; true when it completed without a
  // fault (the fault it met, if any, is in fault_).
  bool step(uint32_t pc) {
    calls_ = 0;
    peek_ = false;
    fault_.reset();
    uc_err rc = uc_emu_start(uc_, pc, until_, 0, 0);
    return rc == UC_ERR_OK && !fault_;
  }

  // Whether the instruction, run alone from the state at the fault, makes the faulting access.
  bool makes(const Instruction& insn, const FaultingAccess& access) {
    if (insn.interrupt) return false;
    restore();
    step(insn.address);
    undo();
    if (!fault_ || fault_->type != access.type || fault_->address != access.address ||
        fault_->size != access.size) {
      return false;
    }
    bool write = access.type == UC_MEM_WRITE_UNMAPPED || access.type == UC_MEM_WRITE_PROT;
    return !write || fault_->value == access.value;
  }

  // Whether the instructions before the k-th can have led to the registers at the fault: replays
  // them from an entry state that starts as the fault's and is corrected, register by register,
  // by how far the replay missed (a push, a pop, an add of a constant move a register by a fixed
  // amount; a load overwrites it, and a wrong guess of the entry then cannot matter).
  bool leads_to_fault(const std::vector<Instruction>& block, size_t k) {
    Gprs entry = at_fault_;
    for (int round = 0; round < kEntryRounds; ++round) {
      restore();
      set_gprs(entry);
      bool ran = true;
      for (size_t m = 0; m < k && ran; ++m) {
        uint32_t eip = 0;
        ran = !block[m].interrupt && step(block[m].address) &&
              uc_reg_read(uc_, UC_X86_REG_EIP, &eip) == UC_ERR_OK &&
              eip == block[m].address + block[m].size;
      }
      Gprs reached = gprs();
      undo();
      if (!ran) return false;
      if (reached == at_fault_) return true;
      for (size_t r = 0; r < entry.size(); ++r) entry[r] += at_fault_[r] - reached[r];
    }
    return false;
  }

 private:
  static void on_code(uc_engine* uc, uint64_t, uint32_t size, void* user) {
    auto* self = static_cast<Replay*>(user);
    if (++self->calls_ == 1) {
      self->size_ = size;
      if (!self->peek_) return;
    }
    // Stopped here, the instruction does not run: the next one is reached, or only looked at.
    uc_emu_stop(uc);
  }

  static void on_write(uc_engine* uc, uc_mem_type, uint64_t address, int size, int64_t,
                       void* user) {
    auto* self = static_cast<Replay*>(user);
    Saved s{static_cast<uint32_t>(address), std::vector<uint8_t>(static_cast<size_t>(size))};
    if (size > 0 && uc_mem_read(uc, address, s.bytes.data(), s.bytes.size()) == UC_ERR_OK) {
      self->written_.push_back(std::move(s));
    }
  }

  static bool on_invalid(uc_engine*, uc_mem_type type, uint64_t address, int size, int64_t value,
                         void* user) {
    auto* self = static_cast<Replay*>(user);
    if (!self->fault_) {
      self->fault_ = FaultingAccess{type, static_cast<uint32_t>(address), size, value};
    }
    return false;
  }

  bool is_interrupt(uint32_t pc, uint32_t size) {
    uint8_t code[16] = {};
    if (size > sizeof code || uc_mem_read(uc_, pc, code, size) != UC_ERR_OK) return true;
    uint32_t i = 0;
    while (i < size && (code[i] == 0x66 || code[i] == 0x67 || code[i] == 0xF0 || code[i] == 0xF2 ||
                        code[i] == 0xF3 || code[i] == 0x26 || code[i] == 0x2E || code[i] == 0x36 ||
                        code[i] == 0x3E || code[i] == 0x64 || code[i] == 0x65)) {
      ++i;
    }
    return i < size && (code[i] == 0xCD || code[i] == 0xCC || code[i] == 0xCE || code[i] == 0xF1);
  }

  void restore() { uc_context_restore(uc_, saved_); }

  void undo() {
    for (auto it = written_.rbegin(); it != written_.rend(); ++it) {
      uc_mem_write(uc_, it->address, it->bytes.data(), it->bytes.size());
    }
    written_.clear();
  }

  Gprs gprs() {
    Gprs v{};
    for (size_t r = 0; r < v.size(); ++r) uc_reg_read(uc_, kGprIds[r], &v[r]);
    return v;
  }

  void set_gprs(const Gprs& v) {
    for (size_t r = 0; r < v.size(); ++r) uc_reg_write(uc_, kGprIds[r], &v[r]);
  }

  struct Saved {
    uint32_t address;
    std::vector<uint8_t> bytes;
  };

  uc_engine* uc_;
  uint32_t until_;
  const std::function<void()>& drop_translations_;
  uc_context* saved_ = nullptr;
  std::vector<uc_hook> hooks_;
  Gprs at_fault_{};
  std::vector<Saved> written_;
  std::optional<FaultingAccess> fault_;
  int calls_ = 0;
  bool peek_ = false;
  uint32_t size_ = 0;
};

}  // namespace

std::optional<uint32_t> replay_faulting_block(uc_engine* uc, uint32_t block_start,
                                              const FaultingAccess& access, uint32_t until,
                                              const std::function<void()>& drop_translations) {
  // The block as the engine translated it: where it ends.
  uc_tb tb{};
  if (uc_ctl_request_cache(uc, block_start, &tb) != UC_ERR_OK || tb.size == 0) return std::nullopt;
  Replay replay(uc, until, drop_translations);
  if (!replay.start()) return std::nullopt;
  std::vector<Instruction> block = replay.instructions(block_start, block_start + tb.size);
  std::vector<size_t> fitting;
  for (size_t m = 0; m < block.size(); ++m) {
    if (replay.makes(block[m], access)) fitting.push_back(m);
  }
  if (fitting.empty()) return std::nullopt;
  if (fitting.size() > 1) {
    for (auto it = fitting.rbegin(); it != fitting.rend(); ++it) {
      if (replay.leads_to_fault(block, *it)) return block[*it].address;
    }
  }
  return block[fitting.back()].address;
}

}  // namespace nuv
