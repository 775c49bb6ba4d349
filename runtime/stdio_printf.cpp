// The stream formatter: vfprintf and its front ends. It keeps no output buffer: every piece
// is its own append through file_write_bytes, so on a descriptor stream each piece is one
// kernel write. It keeps its own parser, since the two syntaxes differ, and shares the helpers of
// stdio_internal.h with the buffer formatter.
#include <stdint.h>

#include "stdio.h"
#include "stdio_internal.h"
#include "string.h"

namespace {

constexpr char kNullText[] = "(null)";
constexpr uint8_t kConsoleEscape = 0xFF;

struct Conversion {
  int32_t width;      // 0 when absent; negative means no padding
  int32_t precision;  // -1 when absent; any negative value means absent
  bool wide;          // "ll": a 64-bit argument in two slots
};

// The count only grows; it stops at the largest int instead of turning negative.
void add_count(int32_t *count, uint32_t n) {
  *count = static_cast<int32_t>(nuv::saturating_add(static_cast<uint32_t>(*count), n));
}

bool append(Stream *stream, const void *bytes, uint32_t n, int32_t *count) {
  if (file_write_bytes(stream, bytes, n) != 0) return false;
  add_count(count, n);
  return true;
}

bool append_char(Stream *stream, char c, int32_t *count) {
  char one[1] = {c};
  return append(stream, one, 1, count);
}

bool append_repeated(Stream *stream, char c, uint32_t n, int32_t *count) {
  for (uint32_t i = 0; i < n; i++) {
    if (!append_char(stream, c, count)) return false;
  }
  return true;
}

uint64_t take_integer(va_list *args, bool wide, bool sign_extend) {
  if (wide) {
    uint64_t low = va_arg(*args, uint32_t);
    uint64_t high = va_arg(*args, uint32_t);
    return high << 32 | low;
  }
  uint32_t slot = va_arg(*args, uint32_t);
  if (sign_extend) return static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(slot)));
  return slot;
}

bool put_integer(Stream *stream, const Conversion &conv, char letter, uint64_t value,
                 int32_t *count) {
  bool negative = (letter == 'd' || letter == 'i') && static_cast<int64_t>(value) < 0;
  // Unsigned negation, so the most negative value keeps its full magnitude.
  uint64_t magnitude = negative ? 0 - value : value;
  bool pointer = letter == 'p';
  char digits[nuv::kMaxDigits];
  uint32_t digit_count = static_cast<uint32_t>(
      nuv::render_unsigned(magnitude, letter == 'x' || pointer ? 16 : 10, false, digits));

  uint32_t zeros = 0;
  if (conv.precision >= 0 && static_cast<uint32_t>(conv.precision) > digit_count) {
    zeros = static_cast<uint32_t>(conv.precision) - digit_count;
  }
  // At most 3 + NUVRELOS_COUNT_MAX, so no wrap in 32 bits.
  uint32_t used = (negative ? 1u : 0u) + (pointer ? 2u : 0u) + zeros + digit_count;
  if (conv.width > 0 && static_cast<uint32_t>(conv.width) > used) {
    if (!append_repeated(stream, ' ', static_cast<uint32_t>(conv.width) - used, count)) {
      return false;
    }
  }
  if (negative && !append_char(stream, '-', count)) return false;
  if (pointer && !(append_char(stream, '0', count) && append_char(stream, 'x', count))) {
    return false;
  }
  if (!append_repeated(stream, '0', zeros, count)) return false;
  return append(stream, digits, digit_count, count);
}

bool put_string(Stream *stream, const Conversion &conv, const char *s, int32_t *count) {
  if (s == nullptr) s = kNullText;
  uint32_t n = static_cast<uint32_t>(strlen(s));
  if (conv.precision >= 0 && static_cast<uint32_t>(conv.precision) < n) {
    n = static_cast<uint32_t>(conv.precision);
  }
  if (conv.width > 0 && static_cast<uint32_t>(conv.width) > n) {
    if (!append_repeated(stream, ' ', static_cast<uint32_t>(conv.width) - n, count)) return false;
  }
  return append(stream, s, n, count);
}

}  // namespace

extern "C" {

int vfprintf(Stream *stream, const char *format, va_list args) {
  if (stream == nullptr || format == nullptr) return -1;

  const char *f = format;
  // The console takes a leading "%c" with three arguments as an escape of four bytes; it
  // belongs to the console's protocol, so it is not counted as text.
  if (stream->kind == STREAM_FD && stream->fd == 1 && f[0] == '%' && f[1] == 'c') {
    uint8_t escape[4] = {kConsoleEscape, 0, 0, 0};
    for (int i = 1; i < 4; i++) escape[i] = static_cast<uint8_t>(va_arg(args, int));
    if (file_write_bytes(stream, escape, 4) != 0) return -1;
    f += 2;
  }

  int32_t count = 0;
  while (*f != '\0') {
    if (*f != '%') {
      if (!append_char(stream, *f++, &count)) return -1;
      continue;
    }
    f++;
    if (*f == '\0') break;

    Conversion conv = {0, -1, false};
    nuv::parse_width_precision(f, &args, &conv.width, &conv.precision);
    if (f[0] == 'l' && f[1] == 'l') {
      conv.wide = true;
      f += 2;
    } else if (*f == 'l') {
      f++;
    }

    char letter = *f;
    if (letter == '\0') break;
    f++;
    bool ok = true;
    switch (letter) {
      case '%':
        ok = append_char(stream, '%', &count);
        break;
      case 'c':
        ok = append_char(stream, static_cast<char>(va_arg(args, int)), &count);
        break;
      case 's':
        ok = put_string(stream, conv, va_arg(args, const char *), &count);
        break;
      case 'd':
      case 'i':
        ok = put_integer(stream, conv, letter, take_integer(&args, conv.wide, true), &count);
        break;
      case 'u':
      case 'x':
      case 'p':
        ok = put_integer(stream, conv, letter, take_integer(&args, conv.wide, false), &count);
        break;
      default:
        ok = append_char(stream, '%', &count) && append_char(stream, letter, &count);
        break;
    }
    if (!ok) return -1;
  }
  return count;
}

int fprintf(Stream *stream, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int result = vfprintf(stream, format, args);
  va_end(args);
  return result;
}

int vprintf(const char *format, va_list args) { return vfprintf(stdout, format, args); }

int printf(const char *format, ...) {
  va_list args;
  va_start(args, format);
  int result = vfprintf(stdout, format, args);
  va_end(args);
  return result;
}

}  // extern "C"
