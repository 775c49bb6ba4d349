#include <stdint.h>

#include "stdio_internal.h"
#include "stdlib.h"

// Each converter skips its own set of white space, so no shared helper decides it.

namespace {

using nuv::is_digit;

// Worth of a digit in bases up to 16, or 16 for anything that is never a digit.
uint32_t hex_worth(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint32_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<uint32_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<uint32_t>(c - 'A' + 10);
  return 16;
}

bool is_hex_digit(char c) { return hex_worth(c) < 16; }

int32_t parse_decimal_int(const char *text) {
  const char *p = text;
  while (*p == '\t' || *p == '\n' || *p == ' ') ++p;
  bool negative = false;
  if (*p == '-' || *p == '+') {
    if (!is_digit(p[1])) return 0;
    negative = *p == '-';
    ++p;
  }
  uint32_t value = 0;
  while (is_digit(*p)) {
    value = value * 10u + static_cast<uint32_t>(*p - '0');
    ++p;
  }
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

uint32_t parse_unsigned(const char *text, char **end, int base) {
  if (text == nullptr) {
    if (end != nullptr) *end = nullptr;
    return 0;
  }
  const char *p = text;
  while (*p == '\t' || *p == '\n' || *p == '\r' || *p == ' ') ++p;
  const bool hex_prefix = p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
  if (base == 0) {
    if (hex_prefix) {
      p += 2;
      base = 16;
    } else if (p[0] == '0') {
      ++p;
      base = 8;
    } else {
      base = 10;
    }
  } else if (base == 16 && hex_prefix) {
    p += 2;
  }
  // A sign is no digit, so it stops the loop below at once.
  uint32_t value = 0;
  for (;;) {
    const uint32_t worth = hex_worth(*p);
    if (worth >= 16 || static_cast<int>(worth) >= base) break;
    value = value * static_cast<uint32_t>(base) + worth;
    ++p;
  }
  if (end != nullptr) *end = const_cast<char *>(p);
  return value;
}

// Exponent digits saturate at 4096 so a long run cannot overflow; the scaling loops stop at
// 1024 steps anyway.
int read_exponent_digits(const char *&p) {
  int e = 0;
  while (is_digit(*p)) {
    e = e * 10 + (*p - '0');
    if (e > 4096) e = 4096;
    ++p;
  }
  return e;
}

int min_1024(int n) { return n < 1024 ? n : 1024; }

// An exponent marker counts only with at least one digit after its optional sign; otherwise
// the number ends before the marker. Returns whether one was taken.
bool take_exponent(const char *&p, char lower, char upper, bool &negative, int &count) {
  if (*p != lower && *p != upper) return false;
  const char *q = p + 1;
  negative = false;
  if (*q == '+' || *q == '-') {
    negative = *q == '-';
    ++q;
  }
  if (!is_digit(*q)) return false;
  count = read_exponent_digits(q);
  p = q;
  return true;
}

// The value is built one digit and one power at a time in the x87's extended format, so its
// last bits are those of this sequence of roundings, not of a correctly rounded conversion.
bool parse_hex_float(const char *&p, long double &sum) {
  bool any_digit = false;
  while (is_hex_digit(*p)) {
    sum = sum * 16.0L + static_cast<long double>(hex_worth(*p));
    any_digit = true;
    ++p;
  }
  if (*p == '.') {
    ++p;
    int fraction_digits = 0;
    while (is_hex_digit(*p)) {
      sum = sum * 16.0L + static_cast<long double>(hex_worth(*p));
      any_digit = true;
      ++fraction_digits;
      ++p;
    }
    for (int i = min_1024(fraction_digits); i > 0; --i) sum = sum * 0.0625L;
  }
  if (!any_digit) return false;
  bool negative = false;
  int e = 0;
  if (take_exponent(p, 'p', 'P', negative, e)) {
    if (negative) {
      for (int i = min_1024(e); i > 0; --i) sum = sum * 0.5L;
    } else {
      for (int i = min_1024(e); i > 0; --i) sum = sum + sum;
    }
  }
  return true;
}

// Called at a digit or at a point that a digit follows.
void parse_decimal_float(const char *&p, long double &sum) {
  while (is_digit(*p)) {
    sum = sum * 10.0L + static_cast<long double>(*p - '0');
    ++p;
  }
  if (*p == '.') {
    ++p;
    int fraction_digits = 0;
    while (is_digit(*p)) {
      sum = sum * 10.0L + static_cast<long double>(*p - '0');
      if (fraction_digits < 1024) ++fraction_digits;
      ++p;
    }
    for (int i = fraction_digits; i > 0; --i) sum = sum / 10.0L;
  }
  bool negative = false;
  int e = 0;
  if (take_exponent(p, 'e', 'E', negative, e)) {
    if (negative) {
      for (int i = min_1024(e); i > 0; --i) sum = sum / 10.0L;
    } else {
      for (int i = min_1024(e); i > 0; --i) sum = sum * 10.0L;
    }
  }
}

}  // namespace

extern "C" {

uint32_t g_rand_state = 1;
int32_t g_rand_seeded = 0;

// The heap's running total; only its address is used, as a per-build seed ingredient.
extern uint32_t g_heap_used;

int atoi(const char *text) {
  if (text == nullptr) return 0;
  return parse_decimal_int(text);
}

long atol(const char *text) {
  if (text == nullptr) return 0;
  return parse_decimal_int(text);
}

unsigned long strtoul(const char *text, char **end, int base) {
  return parse_unsigned(text, end, base);
}

long strtol(const char *text, char **end, int base) {
  return static_cast<int32_t>(parse_unsigned(text, end, base));
}

long double strtold(const char *text, char **end) {
  if (text == nullptr) {
    if (end != nullptr) *end = nullptr;
    return 0.0L;
  }
  const char *p = text;
  while (*p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r' || *p == ' ') ++p;
  long double factor = 1.0L;
  if (*p == '+' || *p == '-') {
    if (*p == '-') factor = -1.0L;
    ++p;
  }
  long double sum = 0.0L;
  bool converted = false;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    p += 2;
    converted = parse_hex_float(p, sum);
  } else if (is_digit(p[0]) || (p[0] == '.' && is_digit(p[1]))) {
    parse_decimal_float(p, sum);
    converted = true;
  }
  if (!converted) {
    if (end != nullptr) *end = const_cast<char *>(text);
    return 0.0L;
  }
  if (end != nullptr) *end = const_cast<char *>(p);
  return sum * factor;
}

double strtod(const char *text, char **end) { return static_cast<double>(strtold(text, end)); }

int abs(int value) {
  const uint32_t bits = static_cast<uint32_t>(value);
  return static_cast<int32_t>(value < 0 ? 0u - bits : bits);
}

long labs(long value) { return abs(value); }

void srand(unsigned int seed) {
  g_rand_seeded = 1;
  g_rand_state = seed == 0 ? 1u : seed;
}

int rand(void) {
  if (g_rand_seeded == 0) {
    uint32_t low = 0;
    uint32_t high = 0;
    __asm__ volatile("rdtsc" : "=a"(low), "=d"(high));
    // Two addresses add variation where the counter alone might repeat between runs.
    uint32_t x = low ^ (high * 1664525u) ^ reinterpret_cast<uint32_t>(&low) ^
                 reinterpret_cast<uint32_t>(&g_heap_used) ^ 0x9E3779B9u;
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    g_rand_state = x == 0 ? 1u : x;
    g_rand_seeded = 1;
  }
  g_rand_state = g_rand_state * 1103515245u + 12345u;
  return static_cast<int>((g_rand_state >> 16) & 0x7FFFu);
}

}  // extern "C"
