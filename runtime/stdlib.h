/* Heap, process exit, text-to-number conversion and random numbers. */
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define EXIT_SUCCESS 0
#define EXIT_FAILURE 1
#define RAND_MAX 32767
/* One byte per character: the "C" locale only. */
#define MB_CUR_MAX 1

/* A bump allocator over a 1 MiB static arena: free does nothing, realloc always moves. A
   program linked with the heap that frees (nuvrelos-cc --nuvrelos-heap=SIZE) gets these four
   from it instead. */
void *malloc(size_t size);
void *calloc(size_t count, size_t size);
void *realloc(void *pointer, size_t size);
void free(void *pointer);

/* exit runs no handlers and flushes nothing: atexit keeps nothing. */
void exit(int status) __attribute__((noreturn));
void abort(void) __attribute__((noreturn));
int atexit(void (*function)(void));
char *getenv(const char *name);

int atoi(const char *text);
long atol(const char *text);
unsigned long strtoul(const char *text, char **end, int base);
long strtol(const char *text, char **end, int base);
long double strtold(const char *text, char **end);
double strtod(const char *text, char **end);
int abs(int value);
long labs(long value);
void srand(unsigned int seed);
int rand(void);

/* The customary additions, after ISO C and POSIX (see docs/writing-programs.md). They take a
   sign, saturate on overflow and set errno to ERANGE, as the system's strtol does not. */
typedef struct {
  int quot;
  int rem;
} div_t;
typedef struct {
  long quot;
  long rem;
} ldiv_t;
typedef struct {
  long long quot;
  long long rem;
} lldiv_t;
long long strtoll(const char *text, char **end, int base);
unsigned long long strtoull(const char *text, char **end, int base);
long long atoll(const char *text);
float strtof(const char *text, char **end);
double atof(const char *text);
long long llabs(long long value);
div_t div(int numerator, int denominator);
ldiv_t ldiv(long numerator, long denominator);
lldiv_t lldiv(long long numerator, long long denominator);
void qsort(void *base, size_t count, size_t size, int (*compare)(const void *, const void *));
void *bsearch(const void *key, const void *base, size_t count, size_t size,
              int (*compare)(const void *, const void *));
/* A block whose address is a multiple of alignment (a power of two); free and realloc take it. */
void *aligned_alloc(size_t alignment, size_t size);
int posix_memalign(void **block, size_t alignment, size_t size);
void _Exit(int status) __attribute__((noreturn));

#ifdef __cplusplus
}
#endif
