#include "host/debug/code_unwind.h"

#include <utility>
#include <vector>

namespace nuv {

namespace {

// How far above the stack pointer a return address is looked for, and how many instructions
// of a prologue are read.
constexpr uint32_t kScanBytes = 4096;
constexpr int kPrologueInstructions = 24;

std::optional<uint8_t> byte_at(uint32_t address, const ReadWord& read) {
  uint32_t word = 0;
  if (!read(address & ~3u, word)) return std::nullopt;
  return static_cast<uint8_t>(word >> (8 * (address & 3)));
}

// A two-byte ALU or move instruction between registers other than esp and ebp: it changes
// nothing a caller's frame depends on.
bool is_register_op(uint8_t op, uint8_t modrm) {
  switch (op) {
    case 0x01:
    case 0x03:
    case 0x09:
    case 0x0B:
    case 0x21:
    case 0x23:
    case 0x29:
    case 0x2B:
    case 0x31:
    case 0x33:
    case 0x89:
    case 0x8B:
      break;
    default:
      return false;
  }
  if ((modrm >> 6) != 3) return false;
  // The destination: the r/m field for the "to r/m" forms (odd opcodes 01..31, 89), else reg.
  int destination = (op & 2) ? (modrm >> 3) & 7 : modrm & 7;
  return destination != 4 && destination != 5;
}

// What the instructions from a function's entry up to `pc` did to the stack.
struct Prologue {
  uint32_t pushed = 0;  // bytes the stack grew by since the entry
  bool known = true;    // false after a realignment: the growth is no longer a constant
  bool frame = false;   // mov %esp,%ebp ran: ebp holds the stack pointer of that moment
  uint32_t frame_at = 0;
  std::vector<std::pair<int, uint32_t>> saved;  // register, growth once it was pushed
};

Prologue read_prologue(uint32_t entry, uint32_t pc, const ReadWord& read) {
  Prologue p;
  uint32_t at = entry;
  for (int n = 0; n < kPrologueInstructions && at < pc; ++n) {
    uint8_t b[4] = {};
    for (uint32_t i = 0; i < 4; ++i) b[i] = byte_at(at + i, read).value_or(0);
    if (b[0] >= 0x50 && b[0] <= 0x57) {  // push %reg (DWARF numbers the registers the same)
      p.pushed += 4;
      p.saved.emplace_back(b[0] - 0x50, p.pushed);
      at += 1;
    } else if ((b[0] == 0x89 && b[1] == 0xE5) || (b[0] == 0x8B && b[1] == 0xEC)) {
      p.frame = true;  // mov %esp,%ebp
      p.frame_at = p.pushed;
      at += 2;
    } else if (b[0] == 0x83 && b[1] == 0xEC) {  // sub $imm8,%esp
      p.pushed += b[2];
      at += 3;
    } else if (b[0] == 0x81 && b[1] == 0xEC) {  // sub $imm32,%esp
      uint32_t imm = 0;
      for (uint32_t i = 0; i < 4; ++i)
        imm |= uint32_t{byte_at(at + 2 + i, read).value_or(0)} << (8 * i);
      p.pushed += imm;
      at += 6;
    } else if (b[0] == 0x8D && b[1] == 0x4C && b[2] == 0x24 && b[3] == 0x04) {
      at += 4;  // lea 4(%esp),%ecx: main keeps its caller's stack pointer before realigning
    } else if (b[0] == 0x83 && b[1] == 0xE4) {  // and $imm8,%esp
      if (!p.frame) p.known = false;
      at += 3;
    } else if (b[0] == 0xFF && b[1] == 0x71 && b[2] == 0xFC) {  // push -4(%ecx)
      p.pushed += 4;
      at += 3;
    } else if (b[0] >= 0xB8 && b[0] <= 0xBF && b[0] != 0xBC) {  // mov $imm32,%reg (not esp)
      at += 5;
    } else if (is_register_op(b[0], b[1])) {
      at += 2;  // what the compiler moved into the prologue: xor %eax,%eax, mov %ecx,%edx...
    } else {
      break;
    }
  }
  return p;
}

}  // namespace

std::optional<uint32_t> direct_call_target(uint32_t address, const ReadWord& read) {
  if (byte_at(address - 5, read) != 0xE8) return std::nullopt;
  uint32_t rel = 0;
  for (uint32_t i = 0; i < 4; ++i) {
    auto b = byte_at(address - 4 + i, read);
    if (!b) return std::nullopt;
    rel |= uint32_t{*b} << (8 * i);
  }
  return address + rel;
}

bool follows_call(uint32_t address, const ReadWord& read) {
  auto b = [&](uint32_t back) { return byte_at(address - back, read); };
  auto modrm_call = [](uint8_t m) { return ((m >> 3) & 7) == 2; };
  if (b(5) == 0xE8) return true;  // call rel32
  // call through a register or memory: FF /2 with a ModRM of each length.
  for (uint32_t len = 2; len <= 7; ++len) {
    auto op = b(len), m = b(len - 1);
    if (op != 0xFF || !m || !modrm_call(*m)) continue;
    uint8_t mod = *m >> 6, rm = *m & 7;
    uint32_t want = 2;
    if (mod == 0 && rm == 5) want = 6;
    if (mod == 1) want = 3;
    if (mod == 2) want = 6;
    if (mod != 3 && rm == 4) {
      ++want;  // a SIB byte; with mod 0 and base 5 a disp32 follows it
      auto sib = b(len - 2);
      if (mod == 0 && sib && (*sib & 7) == 5) want += 4;
    }
    if (want == len) return true;
  }
  return false;
}

std::optional<Registers> step_by_code(const Registers& regs, const Function& function,
                                      const ReadWord& read,
                                      const std::function<bool(uint32_t)>& is_code) {
  Prologue p = read_prologue(function.low, regs[kEip], read);
  auto return_address = [&](uint32_t slot, uint32_t& ra) {
    return read(slot, ra) && is_code(ra) && follows_call(ra, read);
  };
  // A return address after a direct call of this very function: a stale one, left on the
  // stack by an earlier call of something else, is not that.
  auto calls_here = [&](uint32_t slot, uint32_t& ra) {
    return return_address(slot, ra) && direct_call_target(ra, read) == function.low;
  };
  Registers caller = regs;
  uint32_t entry_sp = 0;  // where the return address is
  uint32_t ra = 0;
  if (p.frame && return_address(regs[kEbp] + 4, ra)) {
    entry_sp = regs[kEbp] + 4;
    uint32_t saved_ebp = 0;
    if (!read(regs[kEbp], saved_ebp)) return std::nullopt;
    caller[kEbp] = saved_ebp;
    // Registers pushed after the frame was set up sit below it.
    for (auto [reg, growth] : p.saved) {
      uint32_t v = 0;
      if (growth > p.frame_at && read(regs[kEbp] - (growth - p.frame_at), v)) caller[reg] = v;
    }
  } else {
    bool found = p.known && return_address(regs[kEsp] + p.pushed, ra);
    entry_sp = regs[kEsp] + p.pushed;
    // The nearest call of this function above; else the nearest call of anything (a call
    // through a pointer, or a tail call in between).
    using Fits = std::function<bool(uint32_t, uint32_t&)>;
    for (const Fits& fits : {Fits(calls_here), Fits(return_address)}) {
      for (uint32_t slot = regs[kEsp]; !found && slot - regs[kEsp] < kScanBytes; slot += 4) {
        found = fits(slot, ra);
        entry_sp = slot;
      }
    }
    if (!found) return std::nullopt;
    for (auto [reg, growth] : p.saved) {
      uint32_t v = 0;
      if (read(entry_sp - growth, v)) caller[reg] = v;
    }
  }
  caller[kEsp] = entry_sp + 4;
  caller[kEip] = ra;
  return caller;
}

}  // namespace nuv
