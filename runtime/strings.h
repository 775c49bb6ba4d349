/* The BSD and POSIX byte-string functions. */
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Also declared by string.h, where the system defines them. */
int strcasecmp(const char *a, const char *b);
int strncasecmp(const char *a, const char *b, size_t n);
/* 0 when the n bytes are equal, non-zero otherwise. */
int bcmp(const void *a, const void *b, size_t n);
void bcopy(const void *src, void *dst, size_t n);
void bzero(void *dst, size_t n);
/* The position (from 1) of the lowest bit set, 0 for none. */
int ffs(int value);
char *index(const char *s, int c);
char *rindex(const char *s, int c);

#ifdef __cplusplus
}
#endif
