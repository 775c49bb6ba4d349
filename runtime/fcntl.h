/* Opening files. */
#pragma once

/* The flag values, shared with the kernel, which reads them under their NUVRELOS_O_ names. */
#include "abi/open_flags.h"

#define O_RDONLY NUVRELOS_O_RDONLY
#define O_WRONLY NUVRELOS_O_WRONLY
#define O_RDWR NUVRELOS_O_RDWR
#define O_ACCMODE NUVRELOS_O_ACCMODE
#define O_CREAT NUVRELOS_O_CREAT
#define O_EXCL NUVRELOS_O_EXCL
#define O_TRUNC NUVRELOS_O_TRUNC
#define O_APPEND NUVRELOS_O_APPEND

#ifdef __cplusplus
extern "C" {
#endif

/* A third argument may be passed; it is never read. */
int open(const char *path, int flags, ...);
int creat(const char *path, int mode);

#ifdef __cplusplus
}
#endif
