/* Library-private parts of the math units: the bits of a long double, and arithmetic on
   unevaluated pairs of long doubles (hi + lo, about 128 bits) for the steps where 64 bits would
   not give a result within an ulp. Only +, -, * and / of the x87 are used, each rounded to
   nearest in the 64-bit precision the process starts with, so the pairs are exact where the
   error-free transformations say so. */
#pragma once

#include <stdint.h>

namespace nuv::math {

/* The 80-bit format: a 64-bit significand with an explicit leading bit, then sign and a 15-bit
   biased exponent. Copied in and out, never type-punned. */
struct Bits {
  uint64_t significand;
  uint16_t sign_exponent;
};

inline Bits bits_of(long double x) {
  Bits b;
  __builtin_memcpy(&b.significand, &x, 8);
  __builtin_memcpy(&b.sign_exponent, reinterpret_cast<const char *>(&x) + 8, 2);
  return b;
}

inline long double from_bits(uint64_t significand, uint16_t sign_exponent) {
  long double x = 0;
  __builtin_memcpy(&x, &significand, 8);
  __builtin_memcpy(reinterpret_cast<char *>(&x) + 8, &sign_exponent, 2);
  return x;
}

inline bool is_nan(long double x) { return x != x; }
inline bool is_inf(long double x) { return x - x != x - x && x == x; }
inline long double fabs_ld(long double x) {
  Bits b = bits_of(x);
  return from_bits(b.significand, b.sign_exponent & 0x7FFF);
}
inline bool sign_of(long double x) { return (bits_of(x).sign_exponent & 0x8000) != 0; }
inline long double with_sign(long double magnitude, bool negative) {
  Bits b = bits_of(magnitude);
  return from_bits(b.significand, (b.sign_exponent & 0x7FFF) | (negative ? 0x8000 : 0));
}

/* 2^n for -16382 <= n <= 16383, exactly. */
inline long double power_of_two(int n) {
  return from_bits(uint64_t{1} << 63, static_cast<uint16_t>(n + 16383));
}

/* x * 2^n, correctly rounded however far n reaches. */
long double scale(long double x, int n);

/* Rounding to the nearest double or float, with nothing of the 80-bit value left over in the
   register the caller receives (the x87 would otherwise hand back extra precision). */
inline double to_double(long double x) {
  volatile double d = static_cast<double>(x);
  return d;
}
inline float to_float(long double x) {
  volatile float f = static_cast<float>(x);
  return f;
}

/* hi + lo with |lo| at most half an ulp of hi. */
struct DD {
  long double hi;
  long double lo;
};

/* a + b exactly, for any a and b. */
inline DD two_sum(long double a, long double b) {
  long double s = a + b;
  long double bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

/* a + b exactly, when |a| >= |b| or a is 0. */
inline DD fast_two_sum(long double a, long double b) {
  long double s = a + b;
  return {s, b - (s - a)};
}

/* The operations below are functions of their own, not inline: each call ends the block of
   straight-line x87 code the emulator translates at once, which it cannot take beyond about
   250 instructions. */

/* a * b exactly (no overflow or underflow): Veltkamp's split into 32-bit halves. */
DD two_prod(long double a, long double b);

inline DD dd(long double x) { return {x, 0.0L}; }

DD add(DD a, DD b);
DD add(DD a, long double b);
inline DD neg(DD a) { return {-a.hi, -a.lo}; }
inline DD sub(DD a, DD b) { return add(a, neg(b)); }
DD mul(DD a, DD b);
DD mul(DD a, long double b);
DD div(DD a, DD b);

/* sqrt(a) for a > 0, one Newton step past the x87's square root. */
DD sqrt_dd(DD a);

/* The value, rounded once. */
inline long double value(DD a) { return a.hi + a.lo; }

/* The polynomial c[0] + c[1] t + ... + c[n-1] t^(n-1), by Horner's rule. */
long double horner(long double t, const long double *c, int n);

/* e^x - 1 as a pair, for |x| up to about 11357 (the pair's hi may be infinite beyond). */
DD expm1_dd(DD x);
/* e^x = 2^k * m: m as a pair near 1 and the power k, for any finite x; never overflows. */
DD exp_split(DD x, int *k);
/* log(x) as a pair, for finite x > 0. */
DD log_dd(long double x);
/* atan(x) as a pair, for any x given as a pair. */
DD atan_dd(DD x);

}  // namespace nuv::math
