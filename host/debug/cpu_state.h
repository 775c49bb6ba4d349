// The i386 CPU's registers as a debugger numbers them: the general registers, EIP, EFLAGS,
// the segment selectors, the x87 stack and its control words, and the SSE registers, read
// from and written to Unicorn.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "host/debug/debug_info.h"

struct uc_struct;

namespace nuv {

struct RegisterInfo {
  const char* name;
  int bytes;
  int uc_id;
  const char* type;   // as the target description names it
  const char* group;  // nullptr: general
};

// gdb's i386 order: eax ecx edx ebx esp ebp esi edi eip eflags cs ss ds es fs gs, st0-st7,
// fctrl fstat ftag fiseg fioff foseg fooff fop, xmm0-xmm7, mxcsr.
std::span<const RegisterInfo> i386_registers();
constexpr int kGdbEflags = 9;
constexpr int kGdbCs = 10;
constexpr int kGdbGs = 15;

// Little-endian bytes of register `index` (i386_registers() order) into out (bytes long).
void read_register(uc_struct* uc, size_t index, uint8_t* out);
// False where the CPU cannot take the value: the segment selectors are fixed here.
bool write_register(uc_struct* uc, size_t index, const uint8_t* in);

// The nine registers call-frame information speaks of, from the CPU.
Registers read_unwind_registers(uc_struct* uc);

// An XML target description of the registers above, for gdb's qXfer:features:read.
const std::string& i386_target_xml();

}  // namespace nuv
