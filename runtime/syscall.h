/* The one way into the kernel: software interrupt 0x80. */
#pragma once

#include <stdint.h>

#include "kernel_services.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Service number in EAX, slots in EBX, ECX, EDX; the kernel's signed result comes back. */
int32_t nuvrelos_syscall(uint32_t service, uint32_t slot1, uint32_t slot2, uint32_t slot3);

#ifdef __cplusplus
}
#endif
