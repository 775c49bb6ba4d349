/* The library's one error number, written only by the heap, and the kernel's error numbers. */
#pragma once

#include "kernel_errors.h"

#ifdef __cplusplus
extern "C" {
#endif

#define NUVRELOS_ERRNO_CONSTANT(num, name) name = num,
enum NuvrelosErrno { NUVRELOS_ERRORS(NUVRELOS_ERRNO_CONSTANT) };
#undef NUVRELOS_ERRNO_CONSTANT

extern int errno;

#ifdef __cplusplus
}
#endif
