// The function-level tests call the runtime's functions one by one in this program; main is
// only here because every program has one. Every public header compiles as C++ here.
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

#include <new>

int main(int, char **) { return 0; }
