/* Byte strings and memory. Most functions answer bad pointers with a fixed result. */
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

size_t strlen(const char *s);
size_t strnlen(const char *s, size_t max);
int strcmp(const char *a, const char *b);
int strncmp(const char *a, const char *b, size_t n);
char *strcpy(char *dst, const char *src);
char *strncpy(char *dst, const char *src, size_t n);
char *strcat(char *dst, const char *src);
char *strncat(char *dst, const char *src, size_t n);
char *strchr(const char *s, int c);
char *strrchr(const char *s, int c);
char *strstr(const char *haystack, const char *needle);
void *memcpy(void *dst, const void *src, size_t k);
void *memmove(void *dst, const void *src, size_t k);
void *memset(void *dst, int c, size_t k);
int memcmp(const void *a, const void *b, size_t k);
char *strdup(const char *s);
char *strndup(const char *s, size_t n);
int strcasecmp(const char *a, const char *b);
int strncasecmp(const char *a, const char *b, size_t n);
char *strtok(char *s, const char *delim);
/* Defined with errno: never null. */
char *strerror(int number);

/* The customary additions, after ISO C, POSIX and GNU (see docs/writing-programs.md). Unlike
   the functions above they take no bad pointers: arguments are what ISO C asks for. */
void *memchr(const void *s, int c, size_t n);
void *memrchr(const void *s, int c, size_t n);
void *rawmemchr(const void *s, int c);
void *memmem(const void *haystack, size_t haystack_length, const void *needle,
             size_t needle_length);
void *mempcpy(void *dst, const void *src, size_t n);
size_t strspn(const char *s, const char *accept);
size_t strcspn(const char *s, const char *reject);
char *strpbrk(const char *s, const char *accept);
char *strsep(char **s, const char *delim);
char *strtok_r(char *s, const char *delim, char **saved);
char *strchrnul(const char *s, int c);
char *stpcpy(char *dst, const char *src);
char *stpncpy(char *dst, const char *src, size_t n);
/* The "C" locale's collation is the byte order. */
int strcoll(const char *a, const char *b);
size_t strxfrm(char *dst, const char *src, size_t n);

#ifdef __cplusplus
}
#endif
