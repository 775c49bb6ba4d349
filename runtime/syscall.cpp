#include "syscall.h"

extern "C" int32_t nuvrelos_syscall(uint32_t service, uint32_t slot1, uint32_t slot2,
                                    uint32_t slot3) {
  return nuvrelos_syscall_inline(service, slot1, slot2, slot3);
}
