// The exact functions of math.h: sign, rounding to integers, remainders, scaling by powers of
// two, square roots. Each result is the exact one rounded once (most are exact outright), so
// the double and float forms are the long double one rounded.
#include <stdint.h>

#include "math.h"
#include "math_internal.h"

namespace nuv::math {

long double scale(long double x, int n) {
  // At most three steps; the last one alone may round, so a result that turns subnormal is
  // rounded once. 2^-16382 * 2^64 keeps an intermediate normal.
  if (n > 16383) {
    x *= power_of_two(16383);
    n -= 16383;
    if (n > 16383) {
      x *= power_of_two(16383);
      n -= 16383;
      if (n > 16383) n = 16383;
    }
  } else if (n < -16382) {
    x *= power_of_two(-16382 + 64);
    n += 16382 - 64;
    if (n < -16382) {
      x *= power_of_two(-16382 + 64);
      n += 16382 - 64;
      if (n < -16382) n = -16382;
    }
  }
  return x * power_of_two(n);
}

DD sqrt_dd(DD a) {
  long double s = __builtin_sqrtl(a.hi);
  // a - s^2 is small and exact as a pair; half of it over s corrects s.
  DD square = two_prod(s, s);
  long double rest = ((a.hi - square.hi) - square.lo) + a.lo;
  return fast_two_sum(s, rest / (2 * s));
}

}  // namespace nuv::math

namespace {

using namespace nuv::math;

// x without its fraction, towards zero; x itself when it has none (|x| >= 2^63, inf, NaN).
long double truncate(long double x) {
  Bits b = bits_of(x);
  int exponent = (b.sign_exponent & 0x7FFF) - 16383;
  if (exponent == 16384) return x + x;  // infinity as it is; a signalling NaN quieted
  if (exponent >= 63) return x;
  if (exponent < 0) return with_sign(0.0L, sign_of(x));
  uint64_t fraction = ~uint64_t{0} >> (exponent + 1);
  return from_bits(b.significand & ~fraction, b.sign_exponent);
}

// The rounding of sqrt's x87 instruction set to 53 or 24 bits, so the double and float square
// roots are rounded once, from the exact root.
long double sqrt_in_precision(long double x, uint16_t precision_bits) {
  uint16_t saved = 0;
  __asm__ volatile("fnstcw %0" : "=m"(saved));
  uint16_t control = static_cast<uint16_t>((saved & ~0x0300u) | precision_bits);
  __asm__ volatile("fldcw %0" : : "m"(control));
  long double root = __builtin_sqrtl(x);
  // Stored while the precision holds, so the register's rounding is the one kept.
  volatile long double kept = root;
  __asm__ volatile("fldcw %0" : : "m"(saved));
  return kept;
}

// The remainder of |x| / |y| for finite x and y, y not 0: exact, by the long division of the
// significands one bit at a time (a binary remainder never needs more than the bits it has).
long double remainder_of(long double x, long double y) {
  Bits bx = bits_of(x), by = bits_of(y);
  int ex = bx.sign_exponent & 0x7FFF, ey = by.sign_exponent & 0x7FFF;
  uint64_t mx = bx.significand, my = by.significand;
  // Subnormals: exponent field 0 means 2^-16382 with no leading bit; normalise.
  if (ex == 0) ex = 1;
  if (ey == 0) ey = 1;
  while ((mx >> 63) == 0) {
    mx <<= 1;
    --ex;
  }
  while ((my >> 63) == 0) {
    my <<= 1;
    --ey;
  }
  if (ex < ey) return fabs_ld(x);
  uint64_t r = mx >= my ? mx - my : mx;
  for (int i = ex - ey; i > 0; --i) {
    bool carry = (r >> 63) != 0;
    r <<= 1;
    // With the carry the true value exceeds my, and the wrapped difference is right.
    if (carry || r >= my) r -= my;
  }
  if (r == 0) return 0.0L;
  // r * 2^(ey - 16383 - 63), exact: the remainder is a multiple of y's last place.
  return scale(static_cast<long double>(r), ey - 16383 - 63);
}

}  // namespace

extern "C" {

long double fabsl(long double x) { return fabs_ld(x); }
double fabs(double x) { return to_double(fabs_ld(x)); }
float fabsf(float x) { return to_float(fabs_ld(x)); }

long double copysignl(long double x, long double y) { return with_sign(x, sign_of(y)); }
double copysign(double x, double y) { return to_double(copysignl(x, y)); }
float copysignf(float x, float y) { return to_float(copysignl(x, y)); }

long double truncl(long double x) { return truncate(x); }
double trunc(double x) { return to_double(truncate(x)); }
float truncf(float x) { return to_float(truncate(x)); }

long double floorl(long double x) {
  long double t = truncate(x);
  return t > x ? t - 1.0L : t;
}
double floor(double x) { return to_double(floorl(x)); }
float floorf(float x) { return to_float(floorl(x)); }

long double ceill(long double x) {
  // Truncation moves a negative x up already (-0.5 to -0, which keeps its sign).
  long double t = truncate(x);
  return t < x ? t + 1.0L : t;
}
double ceil(double x) { return to_double(ceill(x)); }
float ceilf(float x) { return to_float(ceill(x)); }

long double roundl(long double x) {
  long double t = truncate(x);
  // x - t is exact: both lie within the same power of two.
  if (fabs_ld(x - t) >= 0.5L) t += sign_of(x) ? -1.0L : 1.0L;
  return t;
}
double round(double x) { return to_double(roundl(x)); }
float roundf(float x) { return to_float(roundl(x)); }

long double modfl(long double x, long double *integral) {
  long double t = truncate(x);
  if (integral != nullptr) *integral = t;
  if (is_inf(x)) return with_sign(0.0L, sign_of(x));
  return with_sign(x - t, sign_of(x));
}
double modf(double x, double *integral) {
  long double t = 0;
  long double f = modfl(x, &t);
  if (integral != nullptr) *integral = to_double(t);
  return to_double(f);
}
float modff(float x, float *integral) {
  long double t = 0;
  long double f = modfl(x, &t);
  if (integral != nullptr) *integral = to_float(t);
  return to_float(f);
}

long double fmodl(long double x, long double y) {
  if (is_nan(x) || is_nan(y)) return x + y;
  if (is_inf(x) || y == 0) return (x * y) / (x * y);  // NaN
  if (is_inf(y) || x == 0) return x;
  return with_sign(remainder_of(x, y), sign_of(x));
}
double fmod(double x, double y) { return to_double(fmodl(x, y)); }
float fmodf(float x, float y) { return to_float(fmodl(x, y)); }

long double sqrtl(long double x) { return __builtin_sqrtl(x); }
double sqrt(double x) { return to_double(sqrt_in_precision(x, 0x0200)); }
float sqrtf(float x) { return to_float(sqrt_in_precision(x, 0x0000)); }

long double ldexpl(long double x, int exponent) {
  if (x == 0 || is_inf(x) || is_nan(x)) return x + x;
  return scale(x, exponent);
}
// Beyond +-2200 a double or float is infinite or zero either way; closer in, the long double
// result is exact and rounds once.
double ldexp(double x, int exponent) {
  int n = exponent > 2200 ? 2200 : exponent < -2200 ? -2200 : exponent;
  return to_double(ldexpl(x, n));
}
float ldexpf(float x, int exponent) {
  int n = exponent > 2200 ? 2200 : exponent < -2200 ? -2200 : exponent;
  return to_float(ldexpl(x, n));
}
long double scalbnl(long double x, int exponent) { return ldexpl(x, exponent); }
double scalbn(double x, int exponent) { return ldexp(x, exponent); }
float scalbnf(float x, int exponent) { return ldexpf(x, exponent); }

long double frexpl(long double x, int *exponent) {
  int e = 0;
  if (x != 0 && !is_inf(x) && !is_nan(x)) {
    Bits b = bits_of(x);
    if ((b.sign_exponent & 0x7FFF) == 0) {  // subnormal: make it normal first
      x *= power_of_two(64);
      e = -64;
      b = bits_of(x);
    }
    e += (b.sign_exponent & 0x7FFF) - 16382;
    x = from_bits(b.significand, static_cast<uint16_t>((b.sign_exponent & 0x8000) | 16382));
  } else {
    x = x + x;
  }
  if (exponent != nullptr) *exponent = e;
  return x;
}
double frexp(double x, int *exponent) { return to_double(frexpl(x, exponent)); }
float frexpf(float x, int *exponent) { return to_float(frexpl(x, exponent)); }

long double nanl(const char *) { return __builtin_nanl(""); }
double nan(const char *) { return __builtin_nan(""); }
float nanf(const char *) { return __builtin_nanf(""); }

long double fminl(long double x, long double y) {
  if (is_nan(x)) return y;
  if (is_nan(y)) return x;
  if (x == y) return sign_of(x) ? x : y;  // -0 is the smaller zero
  return x < y ? x : y;
}
double fmin(double x, double y) { return to_double(fminl(x, y)); }
float fminf(float x, float y) { return to_float(fminl(x, y)); }

long double fmaxl(long double x, long double y) {
  if (is_nan(x)) return y;
  if (is_nan(y)) return x;
  if (x == y) return sign_of(x) ? y : x;
  return x > y ? x : y;
}
double fmax(double x, double y) { return to_double(fmaxl(x, y)); }
float fmaxf(float x, float y) { return to_float(fmaxl(x, y)); }

long double fdiml(long double x, long double y) {
  if (is_nan(x) || is_nan(y)) return x + y;
  return x > y ? x - y : 0.0L;
}
double fdim(double x, double y) { return to_double(fdiml(x, y)); }
float fdimf(float x, float y) { return to_float(fdiml(x, y)); }

}  // extern "C"
