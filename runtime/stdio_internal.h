/* Library-private parts of the stdio unit, shared by its source files. */
#pragma once

#include <stdint.h>

#include "kernel_services.h"
#include "stdio.h"

#ifdef __cplusplus
extern "C" {
#endif

extern Stream g_stdin;
extern Stream g_stdout;
extern Stream g_stderr;

/* The one append primitive of all stream output: 0 when every byte was taken, else -1. */
int file_write_bytes(Stream *stream, const void *source, uint32_t count);

void snbuf_render_unsigned(char *scratch, int *count, uint32_t value, uint32_t base, int upper);

#ifdef __cplusplus
}
#endif
