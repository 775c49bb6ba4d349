// Logarithms and pow. x = 2^e * m with m in [sqrt(1/2), sqrt(2)), and log(m) = 2 atanh(s) with
// s = (m - 1) / (m + 1), |s| < 0.172: the series' first two terms as a pair, the rest in 64
// bits. pow is exp(y log|x|) with the logarithm's 128 bits, which keeps e^(y log x) exact to
// well past the last place even where y log x is in the thousands.
#include "math.h"
#include "math_internal.h"

namespace {

using namespace nuv::math;

constexpr DD kLn2 = {0xb17217f7d1cf79acp-64L, -0xd871319ff0342543p-130L};
constexpr DD kLog2E = {0xb8aa3b295c17f0bcp-63L, -0x82f0025f2dc582eep-128L};
constexpr DD kLog10E = {0xde5bd8a937287195p-65L, 0xd56eaabeb4cf70c9p-131L};
constexpr DD kLog10Of2 = {0x9a209a84fbcff799p-65L, -0xe0ed4ca7e906dd10p-130L};
constexpr long double kSqrt2 = 0xb504f333f9de6484p-63L;

// 1/5, 1/7, ... 1/27: the tail of 2 atanh(s) / (2 s^5).
constexpr long double kTail[] = {
    1.0L / 5,  1.0L / 7,  1.0L / 9,  1.0L / 11, 1.0L / 13, 1.0L / 15,
    1.0L / 17, 1.0L / 19, 1.0L / 21, 1.0L / 23, 1.0L / 25, 1.0L / 27,
};

// log(m) for finite x > 0 = 2^e * m, with e.
DD log_parts(long double x, int *e) {
  Bits b = bits_of(x);
  int exponent = b.sign_exponent & 0x7FFF;
  int bias = 16383;
  if (exponent == 0) {  // subnormal
    b = bits_of(x * power_of_two(64));
    exponent = b.sign_exponent & 0x7FFF;
    bias += 64;
  }
  long double m = from_bits(b.significand, 16383);
  *e = exponent - bias;
  if (m > kSqrt2) {
    m *= 0.5L;
    *e += 1;
  }
  long double f = m - 1.0L;  // exact: m is within a factor 2 of 1
  DD s = div(dd(f), two_sum(m, 1.0L));
  DD s2 = mul(s, s);
  DD head = add(mul(s, 2.0L), div(mul(mul(s2, s), 2.0L), dd(3.0L)));
  long double t = s2.hi;
  return add(head, 2 * s.hi * t * t * horner(t, kTail, sizeof kTail / sizeof kTail[0]));
}

// NaN, negative, zero and infinite arguments of the logarithms; false for the rest.
bool log_special(long double x, long double *result) {
  if (is_nan(x)) {
    *result = x + x;
  } else if (x < 0) {
    *result = (x - x) / (x - x);  // NaN
  } else if (x == 0) {
    *result = -1.0L / fabs_ld(x);  // -inf
  } else if (is_inf(x)) {
    *result = x;
  } else {
    return false;
  }
  return true;
}

bool is_integer(long double y) { return y == truncl(y); }
bool is_odd_integer(long double y) {
  return is_integer(y) && fabs_ld(y) < 0x1p64L && truncl(y * 0.5L) * 2 != y;
}

}  // namespace

namespace nuv::math {

DD log_dd(long double x) {
  int e = 0;
  DD m = log_parts(x, &e);
  return add(mul(kLn2, static_cast<long double>(e)), m);
}

}  // namespace nuv::math

extern "C" {

long double logl(long double x) {
  long double special = 0;
  if (log_special(x, &special)) return special;
  return value(log_dd(x));
}
double log(double x) { return to_double(logl(x)); }
float logf(float x) { return to_float(logl(x)); }

long double log2l(long double x) {
  long double special = 0;
  if (log_special(x, &special)) return special;
  int e = 0;
  DD m = log_parts(x, &e);
  // Exact for powers of two: log(m) is then 0.
  return value(add(mul(m, kLog2E), static_cast<long double>(e)));
}
double log2(double x) { return to_double(log2l(x)); }
float log2f(float x) { return to_float(log2l(x)); }

long double log10l(long double x) {
  long double special = 0;
  if (log_special(x, &special)) return special;
  int e = 0;
  DD m = log_parts(x, &e);
  return value(add(mul(kLog10Of2, static_cast<long double>(e)), mul(m, kLog10E)));
}
double log10(double x) { return to_double(log10l(x)); }
float log10f(float x) { return to_float(log10l(x)); }

long double log1pl(long double x) {
  if (x == -1) return -1.0L / 0.0L;
  long double special = 0;
  if (x < -1 || is_nan(x) || is_inf(x)) {
    log_special(x < -1 ? -1.0L : x, &special);
    return special;
  }
  if (fabs_ld(x) < 0x1p-65L) return x;  // x^2/2 is below half an ulp
  // 1 + x = u.hi + u.lo exactly; log(u.hi + u.lo) = log(u.hi) + u.lo / u.hi to 2^-128.
  DD u = two_sum(1.0L, x);
  return value(add(log_dd(u.hi), u.lo / u.hi));
}
double log1p(double x) { return to_double(log1pl(x)); }
float log1pf(float x) { return to_float(log1pl(x)); }

long double powl(long double x, long double y) {
  if (y == 0 || x == 1) return 1.0L;
  if (is_nan(x) || is_nan(y)) return x + y;
  long double ax = fabs_ld(x);
  if (is_inf(y) || fabs_ld(y) >= 0x1p64L) {
    // So large a y is an even integer: only |x| counts, and the result is 1, 0 or infinite.
    if (ax == 1) return 1.0L;
    if (is_inf(x)) return sign_of(y) ? 0.0L : 1.0L / 0.0L;
    return (ax < 1) == sign_of(y) ? 1.0L / 0.0L : 0.0L;
  }
  bool odd = is_odd_integer(y);
  bool negative = sign_of(x) && odd;
  if (x == 0 || is_inf(x)) {
    // 0^y and inf^y: 0 or inf by the sign of y (inverted for zero), signed for odd y.
    bool infinite = (x == 0) == sign_of(y);
    return with_sign(infinite ? 1.0L / 0.0L : 0.0L, negative);
  }
  if (sign_of(x) && !is_integer(y)) return (x - x) / (x - x);  // NaN
  DD z = mul(log_dd(ax), y);
  long double result;
  if (z.hi > 12000) {
    result = 0x1p16383L * 2;
  } else if (z.hi < -12000) {
    result = 0.0L;
  } else {
    int k = 0;
    DD m = exp_split(z, &k);
    result = scale(value(m), k);
  }
  return with_sign(result, negative);
}
double pow(double x, double y) { return to_double(powl(x, y)); }
float powf(float x, float y) { return to_float(powl(x, y)); }

}  // extern "C"
