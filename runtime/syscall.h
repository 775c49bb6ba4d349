/* The one way into the kernel: software interrupt 0x80. This header is the only place that
   issues it; every wrapper inlines it, so a kernel call costs no extra call frame. */
#pragma once

#include <stdint.h>

#include "kernel_services.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Service number in EAX, slots in EBX, ECX, EDX; the kernel's signed result comes back. */
static inline int32_t nuvrelos_syscall_inline(uint32_t service, uint32_t slot1, uint32_t slot2,
                                              uint32_t slot3) {
  int32_t result;
  /* "memory": the kernel may read or write any buffer the slots point to. */
  __asm__ volatile("int $0x80"
                   : "=a"(result)
                   : "a"(service), "b"(slot1), "c"(slot2), "d"(slot3)
                   : "memory");
  return result;
}

/* The same, as a function of its own, for programs that call a service by number. */
int32_t nuvrelos_syscall(uint32_t service, uint32_t slot1, uint32_t slot2, uint32_t slot3);

#ifdef __cplusplus
}
#endif
