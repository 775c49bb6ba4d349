// The ISO C conversions and integer arithmetic beside the system's own: strtoll and strtoull
// take a sign and any base from 2 to 36, saturate on overflow and say so in errno.
#include <limits.h>
#include <stdint.h>

#include "ctype.h"
#include "errno.h"
#include "inttypes.h"
#include "stdlib.h"
#include "unistd.h"

namespace {

uint32_t digit_worth(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint32_t>(c - '0');
  if (c >= 'a' && c <= 'z') return static_cast<uint32_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'Z') return static_cast<uint32_t>(c - 'A' + 10);
  return 36;
}

// The magnitude strtoull and strtoll share: at most `limit`, with `overflow` set past it.
struct Parsed {
  uint64_t magnitude;
  bool negative;
  bool overflow;
  const char *end;  // the text itself when nothing was converted
};

Parsed parse(const char *text, int base, uint64_t limit) {
  Parsed r = {0, false, false, text};
  if (text == nullptr || base < 0 || base == 1 || base > 36) {
    errno = EINVAL;
    return r;
  }
  const char *p = text;
  while (isspace(static_cast<unsigned char>(*p))) ++p;
  if (*p == '+' || *p == '-') {
    r.negative = *p == '-';
    ++p;
  }
  // "0x" counts only when a hex digit follows; otherwise the number is the "0".
  if ((base == 0 || base == 16) && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') &&
      digit_worth(p[2]) < 16) {
    p += 2;
    base = 16;
  } else if (base == 0) {
    base = p[0] == '0' ? 8 : 10;
  }
  const uint64_t b = static_cast<uint64_t>(base);
  bool any = false;
  for (uint32_t d = digit_worth(*p); d < b; d = digit_worth(*++p)) {
    any = true;
    if (r.overflow) continue;
    if (r.magnitude > (limit - d) / b) {
      r.overflow = true;
    } else {
      r.magnitude = r.magnitude * b + d;
    }
  }
  if (any) r.end = p;
  return r;
}

}  // namespace

extern "C" {

unsigned long long strtoull(const char *text, char **end, int base) {
  Parsed r = parse(text, base, UINT64_MAX);
  if (end != nullptr) *end = const_cast<char *>(r.end);
  if (r.overflow) {
    errno = ERANGE;
    return UINT64_MAX;
  }
  // ISO: a minus sign negates the value in the unsigned type.
  return r.negative ? 0 - r.magnitude : r.magnitude;
}

long long strtoll(const char *text, char **end, int base) {
  // The magnitude of the most negative value is one more than the largest.
  Parsed r = parse(text, base, uint64_t{INT64_MAX} + 1);
  if (end != nullptr) *end = const_cast<char *>(r.end);
  if (!r.negative && r.magnitude > uint64_t{INT64_MAX}) r.overflow = true;
  if (r.overflow) {
    errno = ERANGE;
    return r.negative ? INT64_MIN : INT64_MAX;
  }
  if (!r.negative) return static_cast<long long>(r.magnitude);
  if (r.magnitude == uint64_t{INT64_MAX} + 1) return INT64_MIN;
  return -static_cast<long long>(r.magnitude);
}

long long atoll(const char *text) { return strtoll(text, nullptr, 10); }

float strtof(const char *text, char **end) { return static_cast<float>(strtold(text, end)); }

double atof(const char *text) { return strtod(text, nullptr); }

long long llabs(long long value) {
  uint64_t bits = static_cast<uint64_t>(value);
  return static_cast<long long>(value < 0 ? 0 - bits : bits);
}

// The most negative value over -1 has no quotient of its type: it wraps, as the processor's
// negation would, instead of faulting. A zero denominator faults, as division does.
div_t div(int numerator, int denominator) {
  if (denominator == -1) return {static_cast<int>(0u - static_cast<uint32_t>(numerator)), 0};
  return {numerator / denominator, numerator % denominator};
}

ldiv_t ldiv(long numerator, long denominator) {
  div_t d = div(numerator, denominator);
  return {d.quot, d.rem};
}

lldiv_t lldiv(long long numerator, long long denominator) {
  if (denominator == -1) {
    return {static_cast<long long>(0 - static_cast<uint64_t>(numerator)), 0};
  }
  return {numerator / denominator, numerator % denominator};
}

void _Exit(int status) { _exit(status); }

intmax_t imaxabs(intmax_t value) { return llabs(value); }

imaxdiv_t imaxdiv(intmax_t numerator, intmax_t denominator) {
  lldiv_t d = lldiv(numerator, denominator);
  return {d.quot, d.rem};
}

intmax_t strtoimax(const char *text, char **end, int base) { return strtoll(text, end, base); }

uintmax_t strtoumax(const char *text, char **end, int base) { return strtoull(text, end, base); }

}  // extern "C"
