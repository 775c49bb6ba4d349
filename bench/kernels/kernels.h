/* What each build of the kernels provides for itself: standard output and the cheapest call
   into its kernel. nuvrelos programs get both from the runtime; the Linux build from
   linux_start.S. */
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

void bench_out(const char *text, size_t length);
/* A write of no bytes to standard output: a full trip into the kernel that does nothing. */
int bench_kernel_call(void);

#ifdef __cplusplus
}
#endif
