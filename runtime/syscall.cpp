#include "syscall.h"

extern "C" int32_t nuvrelos_syscall(uint32_t service, uint32_t slot1, uint32_t slot2,
                                    uint32_t slot3) {
  int32_t result;
  // "memory": the kernel may read or write any buffer the slots point to.
  __asm__ volatile("int $0x80"
                   : "=a"(result)
                   : "a"(service), "b"(slot1), "c"(slot2), "d"(slot3)
                   : "memory");
  return result;
}
