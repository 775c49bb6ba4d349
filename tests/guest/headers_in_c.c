/* Every public C header of the runtime must compile as C, on its own and together
   (whole_runtime.cpp includes them as C++, with <new>). */
#include <assert.h>
#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <gui.h>
#include <inttypes.h>
#include <kernel_errors.h>
#include <kernel_services.h>
#include <limits.h>
#include <math.h>
#include <memory.h>
#include <nuvrelos.h>
#include <setjmp.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/types.h>
#include <syscall.h>
#include <time.h>
#include <unistd.h>
#include <user_crt0.h>

int nuv_headers_in_c(void) { return (int)sizeof(Stream) + (int)sizeof(GuiEvent); }
