/* Limits of the integer types: the compiler's own, and what POSIX adds for this system. */
#pragma once

/* Tells the compiler's limits.h that this is the C library's, so it looks for no other. */
#define _LIBC_LIMITS_H_ 1
#include_next <limits.h>

/* The longest path the kernel takes, its terminator included. */
#define PATH_MAX 4096
/* ssize_t is int. */
#define SSIZE_MAX INT_MAX
