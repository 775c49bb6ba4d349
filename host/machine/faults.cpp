#include "host/machine/faults.h"

#include <cinttypes>
#include <csignal>
#include <cstdio>

namespace nuv {

const char* exception_name(uint32_t vector) {
  switch (vector) {
    case 0:
      return "divide error";
    case 1:
      return "debug trap";
    case 3:
      return "breakpoint";
    case 4:
      return "overflow trap";
    case 5:
      return "bound range exceeded";
    case 6:
      return "invalid instruction";
    case 7:
      return "no floating-point unit";
    case 8:
      return "double fault";
    case 12:
      return "stack fault";
    case 13:
      return "general protection fault";
    case 14:
      return "page fault";
    case 16:
      return "floating-point error";
    case 17:
      return "alignment check";
    default:
      return nullptr;
  }
}

int exception_signal(uint32_t vector) {
  switch (vector) {
    case 0:
    case 16:
    case 19:
      return SIGFPE;
    case 1:
    case 3:
      return SIGTRAP;
    case 6:
    case 7:
      return SIGILL;
    default:
      return SIGSEGV;
  }
}

MemoryFault memory_fault(uc_mem_type type) {
  switch (type) {
    case UC_MEM_READ_UNMAPPED:
      return {"read from unmapped memory", "read"};
    case UC_MEM_WRITE_UNMAPPED:
      return {"write to unmapped memory", "write"};
    case UC_MEM_FETCH_UNMAPPED:
      return {"execution of unmapped memory", "execute"};
    case UC_MEM_READ_PROT:
      return {"read from protected memory", "read"};
    case UC_MEM_WRITE_PROT:
      return {"write to read-only memory", "write"};
    case UC_MEM_FETCH_PROT:
      return {"execution of non-executable memory", "execute"};
    default:
      return {"memory fault", ""};
  }
}

std::string at_eip(const std::string& what, uint32_t eip) {
  char buf[32];
  std::snprintf(buf, sizeof buf, " at eip 0x%08" PRIx32, eip);
  return what + buf;
}

}  // namespace nuv
