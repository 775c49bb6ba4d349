/* The library's one error number, written only by the heap. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

#define ENOENT 2
#define ENOMEM 12
#define EINVAL 22
#define ENOSYS 38

extern int errno;

#ifdef __cplusplus
}
#endif
