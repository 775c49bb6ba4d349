// What the processor's refusals are called, and the signal Linux sends a process for each:
// the one place that names a fault, for the run's message and the crash report.
#pragma once

#include <unicorn/unicorn.h>

#include <cstdint>
#include <string>

namespace nuv {

// An exception of the processor: its name ("divide error"; null for one without a name of
// ours) and the signal a native process gets for it (SIGFPE, SIGTRAP, SIGILL, else SIGSEGV).
const char* exception_name(uint32_t vector);
int exception_signal(uint32_t vector);

// An access the engine refused: what it was ("write to read-only memory") and which access
// ("read", "write", "execute"; empty for none of those).
struct MemoryFault {
  const char* what;
  const char* access;
};
MemoryFault memory_fault(uc_mem_type type);

// "WHAT at eip 0x0804800c", the form of every fault's line.
std::string at_eip(const std::string& what, uint32_t eip);

}  // namespace nuv
