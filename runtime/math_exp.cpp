// Exponentials and the hyperbolic functions. e^x = 2^k * e^r with |r| <= ln2 / 2, r found as a
// pair (ln 2 to 128 bits), and e^r - 1 = r + r^2/2 + r^3/6 summed as a pair before the short
// tail of the series: about 120 bits, so the one rounding at the end is the result's only error
// worth counting.
#include "math.h"
#include "math_internal.h"

namespace nuv::math {

namespace {

constexpr DD kLn2 = {0xb17217f7d1cf79acp-64L, -0xd871319ff0342543p-130L};
constexpr long double kLog2E = 0xb8aa3b295c17f0bcp-63L;

// 1/4!, 1/5!, ... 1/17!: enough for |r| <= 0.35 to 2^-72 of the result.
constexpr long double kTail[] = {
    1.0L / 24,
    1.0L / 120,
    1.0L / 720,
    1.0L / 5040,
    1.0L / 40320,
    1.0L / 362880,
    1.0L / 3628800,
    1.0L / 39916800,
    1.0L / 479001600,
    1.0L / 6227020800,
    1.0L / 87178291200,
    1.0L / 1307674368000,
    1.0L / 20922789888000,
    1.0L / 355687428096000,
};

// e^r - 1 for |r| <= 0.35.
DD expm1_reduced(DD r) {
  DD r2 = mul(r, r);
  DD r3 = mul(r2, r);
  DD head = add(add(r, mul(r2, 0.5L)), div(r3, dd(6.0L)));
  long double t = r.hi;
  long double r4 = r2.hi * r2.hi;
  return add(head, r4 * horner(t, kTail, sizeof kTail / sizeof kTail[0]));
}

int nearest_int(long double t) { return static_cast<int>(t + (t >= 0 ? 0.5L : -0.5L)); }

}  // namespace

DD exp_split(DD x, int *k) {
  // Far beyond both ends the result is infinite or zero whatever k is; keep k an int.
  if (x.hi > 12000) x = dd(12000);
  if (x.hi < -12000) x = dd(-12000);
  int n = nearest_int(x.hi * kLog2E);
  DD r = sub(sub(x, two_prod(static_cast<long double>(n), kLn2.hi)), dd(n * kLn2.lo));
  *k = n;
  return add(dd(1.0L), expm1_reduced(r));
}

DD expm1_dd(DD x) {
  if (fabs_ld(x.hi) <= 0.35L) return expm1_reduced(x);
  int k = 0;
  DD m = exp_split(x, &k);
  // 2^k * m - 1, the scaling exact while the result is finite.
  return add(DD{scale(m.hi, k), scale(m.lo, k)}, -1.0L);
}

}  // namespace nuv::math

namespace {

using namespace nuv::math;

// e^|x| / 2, for |x| large enough that e^-|x| no longer counts.
long double half_exp(long double x) {
  int k = 0;
  DD m = exp_split(dd(fabs_ld(x)), &k);
  return scale(value(m), k - 1);
}

}  // namespace

extern "C" {

long double expl(long double x) {
  if (is_nan(x)) return x + x;
  if (is_inf(x)) return sign_of(x) ? 0.0L : x;
  int k = 0;
  DD m = exp_split(dd(x), &k);
  return scale(value(m), k);
}
double exp(double x) { return to_double(expl(x)); }
float expf(float x) { return to_float(expl(x)); }

long double exp2l(long double x) {
  if (is_nan(x)) return x + x;
  if (is_inf(x)) return sign_of(x) ? 0.0L : x;
  // 2^x = 2^k * e^(f ln 2), f the exact difference of x and its nearest integer.
  long double clamped = x > 17000 ? 17000 : x < -17000 ? -17000 : x;
  int k = static_cast<int>(clamped + (clamped >= 0 ? 0.5L : -0.5L));
  long double f = clamped - k;
  DD m = add(dd(1.0L), expm1_dd(mul(kLn2, f)));
  return scale(value(m), k);
}
double exp2(double x) { return to_double(exp2l(x)); }
float exp2f(float x) { return to_float(exp2l(x)); }

long double expm1l(long double x) {
  if (is_nan(x) || x == 0) return x + x;  // -0 stays -0
  if (x < -50) return -1.0L;              // e^x below half an ulp of 1
  if (x > 50) return expl(x);             // 1 below half an ulp of e^x
  return value(expm1_dd(dd(x)));
}
double expm1(double x) { return to_double(expm1l(x)); }
float expm1f(float x) { return to_float(expm1l(x)); }

long double sinhl(long double x) {
  if (is_nan(x) || is_inf(x)) return x + x;
  long double a = fabs_ld(x);
  if (a < 0x1p-32L) return x;  // x^3/6 is below half an ulp
  long double result;
  if (a > 23) {
    result = half_exp(a);
  } else {
    // (E + E / (E + 1)) / 2 with E = e^|x| - 1: no cancellation near 0.
    DD e = expm1_dd(dd(a));
    result = value(mul(add(e, div(e, add(e, 1.0L))), 0.5L));
  }
  return with_sign(result, sign_of(x));
}
double sinh(double x) { return to_double(sinhl(x)); }
float sinhf(float x) { return to_float(sinhl(x)); }

long double coshl(long double x) {
  if (is_nan(x)) return x + x;
  long double a = fabs_ld(x);
  if (is_inf(a)) return a;
  if (a > 23) return half_exp(a);
  // 1 + E^2 / (2 (E + 1)) with E = e^|x| - 1.
  DD e = expm1_dd(dd(a));
  return value(add(div(mul(e, e), mul(add(e, 1.0L), 2.0L)), 1.0L));
}
double cosh(double x) { return to_double(coshl(x)); }
float coshf(float x) { return to_float(coshl(x)); }

long double tanhl(long double x) {
  if (is_nan(x)) return x + x;
  long double a = fabs_ld(x);
  long double result;
  if (a > 23) {
    result = 1.0L;  // 1 - 2e^-46 rounds to 1
  } else if (a < 0x1p-32L) {
    return x;
  } else {
    // E / (E + 2) with E = e^(2|x|) - 1.
    DD e = expm1_dd(dd(2 * a));
    result = value(div(e, add(e, 2.0L)));
  }
  return with_sign(result, sign_of(x));
}
double tanh(double x) { return to_double(tanhl(x)); }
float tanhf(float x) { return to_float(tanhl(x)); }

}  // extern "C"
