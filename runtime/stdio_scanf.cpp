#include <stdarg.h>
#include <stdint.h>

#include "stdio.h"
#include "stdio_internal.h"
#include "unistd.h"

namespace {

// fscanf keeps one token of at most this many bytes; the rest of a longer token is dropped.
constexpr uint32_t kTokenBytes = 255;

bool is_format_space(char c) { return c == '\t' || c == '\n' || c == ' '; }

// Conversions skip only these before their input: a line feed in front of a field is
// crossed only by white space in the format.
const char *skip_blanks(const char *p) {
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

bool is_token_space(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

uint32_t digit_worth(char c, uint32_t base) {
  uint32_t worth = 16;
  if (c >= '0' && c <= '9') worth = static_cast<uint32_t>(c - '0');
  if (base == 16 && c >= 'a' && c <= 'f') worth = static_cast<uint32_t>(c - 'a' + 10);
  if (base == 16 && c >= 'A' && c <= 'F') worth = static_cast<uint32_t>(c - 'A' + 10);
  return worth;
}

// Reads the signed forms 'd', 'i', 'x' and 'X'. Returns false when no number is there.
bool scan_signed(const char *&in, char conversion, int32_t &out) {
  const char *p = skip_blanks(in);
  bool negative = false;
  if (*p == '-' || *p == '+') {
    negative = *p == '-';
    ++p;
  }
  uint32_t base = conversion == 'd' ? 10 : 16;
  if (conversion == 'i') {
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
      p += 2;
      base = 16;
    } else if (p[0] == '0') {
      base = 8;
    } else {
      base = 10;
    }
  }
  if (*p == '\0') return false;
  uint32_t value = 0;
  bool any_digit = false;
  for (uint32_t worth = digit_worth(*p, base); worth < base; worth = digit_worth(*p, base)) {
    value = value * base + worth;
    any_digit = true;
    ++p;
  }
  if (!any_digit) return false;
  in = p;
  out = static_cast<int32_t>(negative ? 0u - value : value);
  return true;
}

bool scan_unsigned(const char *&in, uint32_t &out) {
  const char *p = skip_blanks(in);
  if (*p < '0' || *p > '9') return false;
  uint32_t value = 0;
  while (nuv::is_digit(*p)) {
    value = value * 10u + static_cast<uint32_t>(*p - '0');
    ++p;
  }
  in = p;
  out = value;
  return true;
}

bool ends_word(char c) { return c == '\0' || c == ' ' || c == '\t' || c == '\n'; }

// One byte of a reading stream, the one ungetc pushed back first; false at the end.
bool next_byte(Stream *stream, char &byte) {
  int pushed = take_pushback(stream);
  if (pushed >= 0) {
    byte = static_cast<char>(pushed);
    return true;
  }
  if (read(stream->fd, &byte, 1) <= 0) return false;
  nuv::advance_position(stream, 1);
  return true;
}

}  // namespace

extern "C" {

int vsscanf(const char *input, const char *format, va_list args) {
  const char *in = input;
  const char *f = format;
  int assigned = 0;
  while (*f != '\0') {
    if (is_format_space(*f)) {
      while (is_format_space(*in)) ++in;
      while (is_format_space(*f)) ++f;
      continue;
    }
    if (*f != '%') {
      if (*in == '\0' || *in != *f) return assigned;
      ++in;
      ++f;
      continue;
    }
    ++f;
    bool suppress = false;
    if (*f == '*') {
      suppress = true;
      ++f;
    }
    // Only 's' honours the width: it is how a caller bounds the destination buffer.
    // Zero, like no width at all, means the whole word.
    uint32_t width = 0;
    while (nuv::is_digit(*f)) {
      if (width < 0x10000000u) width = width * 10u + static_cast<uint32_t>(*f - '0');
      ++f;
    }
    const char conversion = *f;
    switch (conversion) {
      case '%':
        if (*in != '%') return assigned;
        ++in;
        break;
      case 'c':
        if (*in == '\0') return assigned;
        if (!suppress) {
          *va_arg(args, char *) = *in;
          ++assigned;
        }
        ++in;
        break;
      case 's': {
        in = skip_blanks(in);
        if (*in == '\0') return assigned;
        char *out = suppress ? nullptr : va_arg(args, char *);
        uint32_t taken = 0;
        while (!ends_word(*in) && (width == 0 || taken < width)) {
          if (out != nullptr) out[taken] = *in;
          ++taken;
          ++in;
        }
        if (out != nullptr) {
          out[taken] = '\0';
          ++assigned;
        }
        break;
      }
      case 'd':
      case 'i':
      case 'x':
      case 'X': {
        int32_t value = 0;
        if (!scan_signed(in, conversion, value)) return assigned;
        if (!suppress) {
          *va_arg(args, int32_t *) = value;
          ++assigned;
        }
        break;
      }
      case 'u': {
        uint32_t value = 0;
        if (!scan_unsigned(in, value)) return assigned;
        if (!suppress) {
          *va_arg(args, uint32_t *) = value;
          ++assigned;
        }
        break;
      }
      default:
        // Length modifiers, other conversions and a format ending after '%' all stop here.
        return assigned;
    }
    ++f;
  }
  return assigned;
}

int sscanf(const char *input, const char *format, ...) {
  va_list args;
  va_start(args, format);
  const int result = vsscanf(input, format, args);
  va_end(args);
  return result;
}

int fscanf(Stream *stream, const char *format, ...) {
  if (stream == nullptr || format == nullptr || stream->kind != STREAM_FD) return -1;
  char byte = 0;
  for (;;) {
    if (!next_byte(stream, byte)) {
      stream->eof = 1;
      return -1;
    }
    if (!is_token_space(byte)) break;
  }
  char token[kTokenBytes + 1];
  uint32_t length = 0;
  for (;;) {
    if (length < kTokenBytes) token[length++] = byte;
    if (!next_byte(stream, byte)) {
      stream->eof = 1;
      break;
    }
    if (is_token_space(byte)) break;
  }
  token[length] = '\0';
  va_list args;
  va_start(args, format);
  const int result = vsscanf(token, format, args);
  va_end(args);
  return result;
}

}  // extern "C"
