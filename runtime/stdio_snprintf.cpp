// The buffer formatter: vsnprintf and its front ends. It stands alone on purpose: no system
// call, no allocation, no call into other library functions, so it works before anything else
// of the library does and inside any of it.
#include <stdint.h>

#include "stdio.h"
#include "stdio_internal.h"

namespace {

// Lengths, widths and precisions stop here instead of wrapping into negative numbers.

constexpr char kLowerDigits[] = "0123456789abcdef";
constexpr char kUpperDigits[] = "0123456789ABCDEF";
constexpr char kNullText[] = "(null)";

struct Cursor {
  char *buffer;       // null: measure only
  uint32_t size;      // bytes the caller owns at buffer
  uint32_t position;  // characters produced so far, stored or not; saturates at NUVRELOS_COUNT_MAX
};

struct Conversion {
  bool left;
  bool zero;
  bool plus;
  int32_t width;      // 0 when absent; negative means no padding
  int32_t precision;  // -1 when absent; any negative value means absent
};

// Only positions below size - 1 are stored, so what is stored is always a prefix of the full
// output and there is room left for the terminator.
void put_char(Cursor *out, char c) {
  if (out->position >= NUVRELOS_COUNT_MAX) return;
  if (out->buffer != nullptr && out->position + 1 < out->size) out->buffer[out->position] = c;
  out->position++;
}

// Padding can be huge; once nothing more fits, the rest is only counted.
void put_repeated(Cursor *out, char c, uint32_t n) {
  while (n > 0 && out->buffer != nullptr && out->position < NUVRELOS_COUNT_MAX &&
         out->position + 1 < out->size) {
    out->buffer[out->position++] = c;
    n--;
  }
  out->position = nuv::saturating_add(out->position, n);
}

void put_bytes(Cursor *out, const char *bytes, uint32_t n) {
  for (uint32_t i = 0; i < n; i++) put_char(out, bytes[i]);
}

void put_integer(Cursor *out, const Conversion &conv, char letter, uint32_t raw) {
  bool is_signed = letter == 'd' || letter == 'i';
  bool negative = is_signed && static_cast<int32_t>(raw) < 0;
  // Unsigned negation, so the most negative int keeps its full magnitude.
  uint32_t magnitude = negative ? 0u - raw : raw;
  char sign = 0;
  if (negative) {
    sign = '-';
  } else if (is_signed && conv.plus) {
    sign = '+';
  }

  char digits[nuv::kMaxDigits];
  bool hex = letter == 'x' || letter == 'X';
  int count = nuv::render_unsigned(magnitude, hex ? 16 : 10, letter == 'X', digits);

  uint32_t digit_count = static_cast<uint32_t>(count);
  uint32_t zeros = 0;
  if (conv.precision >= 0 && static_cast<uint32_t>(conv.precision) > digit_count) {
    zeros = static_cast<uint32_t>(conv.precision) - digit_count;
  }
  // At most 1 + NUVRELOS_COUNT_MAX, so no wrap in 32 bits.
  uint32_t used = (sign != 0 ? 1u : 0u) + zeros + digit_count;
  uint32_t pad = 0;
  if (conv.width > 0 && static_cast<uint32_t>(conv.width) > used) {
    pad = static_cast<uint32_t>(conv.width) - used;
  }

  if (pad > 0 && !conv.left) {
    if (conv.zero && conv.precision < 0) {
      if (sign != 0) put_char(out, sign);
      put_repeated(out, '0', pad);
      put_bytes(out, digits, digit_count);
      return;
    }
    put_repeated(out, ' ', pad);
  }
  if (sign != 0) put_char(out, sign);
  put_repeated(out, '0', zeros);
  put_bytes(out, digits, digit_count);
  if (pad > 0 && conv.left) put_repeated(out, ' ', pad);
}

void put_string(Cursor *out, const Conversion &conv, const char *s) {
  if (s == nullptr) s = kNullText;
  uint32_t n = 0;
  while (s[n] != '\0') n++;
  if (conv.precision >= 0 && static_cast<uint32_t>(conv.precision) < n) {
    n = static_cast<uint32_t>(conv.precision);
  }
  uint32_t pad = 0;
  if (conv.width > 0 && static_cast<uint32_t>(conv.width) > n) {
    pad = static_cast<uint32_t>(conv.width) - n;
  }
  if (!conv.left) put_repeated(out, ' ', pad);
  put_bytes(out, s, n);
  if (conv.left) put_repeated(out, ' ', pad);
}

void put_pointer(Cursor *out, const void *p) {
  char digits[nuv::kMaxDigits];
  int count = nuv::render_unsigned(reinterpret_cast<uint32_t>(p), 16, false, digits);
  put_char(out, '0');
  put_char(out, 'x');
  put_bytes(out, digits, static_cast<uint32_t>(count));
}

}  // namespace

// Here, so the buffer formatter still calls nothing outside its own unit.
int nuv::render_unsigned(uint64_t value, uint32_t base, bool upper, char *out) {
  const char *table = upper ? kUpperDigits : kLowerDigits;
  char reversed[kMaxDigits];
  int n = 0;
  // Values that fit 32 bits skip the software 64-bit division; the digits are the same.
  if (value >> 32 == 0) {
    uint32_t v = static_cast<uint32_t>(value);
    do {
      reversed[n++] = table[v % base];
      v /= base;
    } while (v != 0);
  } else {
    do {
      reversed[n++] = table[value % base];
      value /= base;
    } while (value != 0);
  }
  for (int i = 0; i < n; i++) out[i] = reversed[n - 1 - i];
  return n;
}

extern "C" {

int vsnprintf(char *buffer, size_t size, const char *format, va_list args) {
  Cursor out = {buffer, static_cast<uint32_t>(size), 0};
  if (format == nullptr) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    return 0;
  }

  const char *f = format;
  while (*f != '\0') {
    if (*f != '%') {
      put_char(&out, *f++);
      continue;
    }
    f++;
    if (*f == '\0') break;

    Conversion conv = {false, false, false, 0, -1};
    for (;; f++) {
      if (*f == '-') {
        conv.left = true;
      } else if (*f == '0') {
        conv.zero = true;
      } else if (*f == '+') {
        conv.plus = true;
      } else {
        break;
      }
    }
    nuv::parse_width_precision(f, &args, &conv.width, &conv.precision);
    // Length letters are accepted for compatibility; every integer here is 32-bit anyway.
    if (f[0] == 'l' && f[1] == 'l') {
      f += 2;
    } else if (*f == 'l' || *f == 'z') {
      f++;
    }

    char letter = *f;
    if (letter == '\0') break;
    f++;
    switch (letter) {
      case 'd':
      case 'i':
      case 'u':
      case 'x':
      case 'X':
        put_integer(&out, conv, letter, va_arg(args, unsigned int));
        break;
      case 'p':
        put_pointer(&out, va_arg(args, void *));
        break;
      case 's':
        put_string(&out, conv, va_arg(args, const char *));
        break;
      case 'c':
        put_char(&out, static_cast<char>(va_arg(args, int)));
        break;
      case '%':
        put_char(&out, '%');
        break;
      default:
        put_char(&out, '%');
        put_char(&out, letter);
        break;
    }
  }

  if (buffer != nullptr && size > 0) {
    if (out.position < out.size) {
      buffer[out.position] = '\0';
    } else {
      buffer[out.size - 1] = '\0';
    }
  }
  return static_cast<int>(out.position);
}

int snprintf(char *buffer, size_t size, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int result = vsnprintf(buffer, size, format, args);
  va_end(args);
  return result;
}

int vsprintf(char *buffer, const char *format, va_list args) {
  return vsnprintf(buffer, SPRINTF_CAPACITY, format, args);
}

int sprintf(char *buffer, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int result = vsnprintf(buffer, SPRINTF_CAPACITY, format, args);
  va_end(args);
  return result;
}

}  // extern "C"
