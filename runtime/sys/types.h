/* The system's primitive types, shared by unistd.h, time.h and the rest. */
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int ssize_t;
typedef int off_t;
typedef int pid_t;
typedef unsigned int mode_t;
typedef unsigned int uid_t;
typedef unsigned int gid_t;
typedef unsigned int ino_t;
typedef unsigned int dev_t;
typedef unsigned int nlink_t;
typedef int blksize_t;
typedef int blkcnt_t;
typedef unsigned int useconds_t;
typedef int suseconds_t;

#ifndef NUVRELOS_TIME_TYPES_
#define NUVRELOS_TIME_TYPES_
/* Seconds and clock ticks, 32-bit as on every i386 system of the customary kind. */
typedef long time_t;
typedef long clock_t;
#endif

#ifdef __cplusplus
}
#endif
