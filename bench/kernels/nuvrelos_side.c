/* The kernels' output and kernel call on nuvrelos, through the runtime. */
#include <unistd.h>

#include "kernels.h"

void bench_out(const char *text, size_t length) { write(1, text, length); }

int bench_kernel_call(void) { return (int)write(1, "", 0); }
