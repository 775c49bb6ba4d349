/* Opening files. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

#define O_RDONLY 0x000
#define O_WRONLY 0x001
#define O_RDWR 0x002
#define O_CREAT 0x040
#define O_TRUNC 0x200
#define O_APPEND 0x400

/* A third argument may be passed; it is never read. */
int open(const char *path, int flags, ...);
int creat(const char *path, int mode);

#ifdef __cplusplus
}
#endif
