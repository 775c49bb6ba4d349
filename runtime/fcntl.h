/* Opening files. */
#pragma once

/* The flag values, shared with the simulated kernel, which reads them under these names. */
#define NUVRELOS_O_RDONLY 0x000
#define NUVRELOS_O_WRONLY 0x001
#define NUVRELOS_O_RDWR 0x002
#define NUVRELOS_O_ACCMODE 0x003
#define NUVRELOS_O_CREAT 0x040
#define NUVRELOS_O_EXCL 0x080
#define NUVRELOS_O_TRUNC 0x200
#define NUVRELOS_O_APPEND 0x400

/* The host defines NUVRELOS_HOST: it has its own O_ constants and its own open. */
#ifndef NUVRELOS_HOST

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

#endif /* NUVRELOS_HOST */
