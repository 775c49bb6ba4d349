/* Heap, process exit, text-to-number conversion and random numbers. */
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define EXIT_SUCCESS 0
#define EXIT_FAILURE 1
#define RAND_MAX 32767

/* A bump allocator over a 1 MiB static arena: free does nothing, realloc always moves. */
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

#ifdef __cplusplus
}
#endif
