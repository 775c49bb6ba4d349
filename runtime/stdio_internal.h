/* Library-private parts of the stdio unit, shared by its source files. */
#pragma once

#include <stdarg.h>
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

/* The byte ungetc pushed back onto the stream (counted into its position), or -1 for none. */
int take_pushback(Stream *stream);

#ifdef __cplusplus
}

/* Helpers the stream code, the two formatters and the converters share. */
namespace nuv {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// a + b, stopping at the largest count instead of turning negative.
inline uint32_t saturating_add(uint32_t a, uint32_t b) {
  return b > NUVRELOS_COUNT_MAX - a ? NUVRELOS_COUNT_MAX : a + b;
}

// A width or precision one more digit long; it stops at the largest count.
inline int32_t accumulate_digit(int32_t value, char digit) {
  uint32_t d = static_cast<uint32_t>(digit - '0');
  uint32_t v = static_cast<uint32_t>(value);
  if (v > (NUVRELOS_COUNT_MAX - d) / 10) return static_cast<int32_t>(NUVRELOS_COUNT_MAX);
  return static_cast<int32_t>(v * 10 + d);
}

// A conversion's width and precision, each a number or "*" for the next argument: the width
// 0 when absent, the precision -1 when absent or negative. f moves past them.
inline void parse_width_precision(const char *&f, va_list *args, int32_t *width,
                                  int32_t *precision) {
  *width = 0;
  *precision = -1;
  if (*f == '*') {
    *width = va_arg(*args, int);
    f++;
  } else {
    while (is_digit(*f)) *width = accumulate_digit(*width, *f++);
  }
  if (*f != '.') return;
  f++;
  if (*f == '*') {
    *precision = va_arg(*args, int);
    f++;
  } else {
    *precision = 0;
    while (is_digit(*f)) *precision = accumulate_digit(*precision, *f++);
  }
  if (*precision < 0) *precision = -1;
}

// The library counts positions in signed 32 bits; they wrap rather than overflow.
inline void advance_position(Stream *stream, uint32_t bytes) {
  stream->position = static_cast<int>(static_cast<uint32_t>(stream->position) + bytes);
}

// The most digits render_unsigned writes (a 64-bit value in decimal).
constexpr int kMaxDigits = 20;

// The digits of value in base 10 or 16, most significant first, into out; returns how many.
int render_unsigned(uint64_t value, uint32_t base, bool upper, char *out);

}  // namespace nuv
#endif
