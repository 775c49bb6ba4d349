// atan, atan2, asin, acos and hypot. atan's argument is brought to |t| <= 7/16 through
// atan(x) = atan(c) + atan((x - c) / (1 + c x)) for c = 1/2, 1 and 3/2, or pi/2 - atan(1/x);
// every step is a pair, so asin and acos, which hand atan a quotient of pairs, keep 128 bits.
#include "math.h"
#include "math_internal.h"

namespace {

using namespace nuv::math;

constexpr DD kPi = {0xc90fdaa22168c235p-62L, -0xece675d1fc8f8cbbp-128L};
constexpr DD kPiOver2 = {0xc90fdaa22168c235p-63L, -0xece675d1fc8f8cbbp-129L};
constexpr DD kPiOver4 = {0xc90fdaa22168c235p-64L, -0xece675d1fc8f8cbbp-130L};
constexpr DD kAtanHalf = {0xed63382b0dda7b45p-65L, 0xdfc88bd978751a07p-130L};
constexpr DD kAtanThreeHalves = {0xfb985e940fb4d900p-64L, 0xf10f5e197793c283p-129L};

// (-1)^k / (2k + 5): atan(t) = t - t^3/3 + t^5 (1/5 - t^2/7 + ...), to 2^-72 for |t| <= 7/16.
constexpr long double kTail[] = {
    1.0L / 5,   -1.0L / 7,  1.0L / 9,   -1.0L / 11, 1.0L / 13,  -1.0L / 15, 1.0L / 17,
    -1.0L / 19, 1.0L / 21,  -1.0L / 23, 1.0L / 25,  -1.0L / 27, 1.0L / 29,  -1.0L / 31,
    1.0L / 33,  -1.0L / 35, 1.0L / 37,  -1.0L / 39, 1.0L / 41,  -1.0L / 43, 1.0L / 45,
    -1.0L / 47, 1.0L / 49,  -1.0L / 51, 1.0L / 53,  -1.0L / 55, 1.0L / 57};

DD atan_series(DD t) {
  DD t2 = mul(t, t);
  DD t3 = mul(t2, t);
  long double u = t2.hi;
  long double tail = t3.hi * u * horner(u, kTail, sizeof kTail / sizeof kTail[0]);
  return add(sub(t, div(t3, dd(3.0L))), tail);
}

// The mantissa in [1, 2) and the exponent of a finite x other than 0.
long double split_exponent(long double x, int *e) {
  long double m = frexpl(x, e);
  --*e;
  return m * 2;
}

// 1 - x^2 as a pair, exactly for |x| <= 1.
DD one_minus_square(long double x) { return sub(dd(1.0L), two_prod(x, x)); }

}  // namespace

namespace nuv::math {

DD atan_dd(DD x) {
  bool negative = x.hi < 0;
  DD a = negative ? neg(x) : x;
  DD result;
  if (a.hi > 0x1p66L) {
    // pi/2 - 1/a, 1/a below an ulp of pi/2 (and a too large for the pairs' products).
    result = add(kPiOver2, -1.0L / a.hi);
  } else if (a.hi > 39.0L / 16) {
    result = sub(kPiOver2, atan_series(div(dd(1.0L), a)));
  } else if (a.hi > 19.0L / 16) {
    DD t = div(add(a, -1.5L), add(mul(a, 1.5L), 1.0L));
    result = add(kAtanThreeHalves, atan_series(t));
  } else if (a.hi > 11.0L / 16) {
    DD t = div(add(a, -1.0L), add(a, 1.0L));
    result = add(kPiOver4, atan_series(t));
  } else if (a.hi > 7.0L / 16) {
    DD t = div(add(a, -0.5L), add(mul(a, 0.5L), 1.0L));
    result = add(kAtanHalf, atan_series(t));
  } else {
    result = atan_series(a);
  }
  return negative ? neg(result) : result;
}

}  // namespace nuv::math

extern "C" {

long double atanl(long double x) {
  if (is_nan(x)) return x + x;
  if (is_inf(x)) return with_sign(value(kPiOver2), sign_of(x));
  if (fabs_ld(x) < 0x1p-32L) return x;  // x^3/3 is below half an ulp
  return value(atan_dd(dd(x)));
}
double atan(double x) { return to_double(atanl(x)); }
float atanf(float x) { return to_float(atanl(x)); }

long double atan2l(long double y, long double x) {
  if (is_nan(x) || is_nan(y)) return x + y;
  bool left = sign_of(x);  // x < 0 or x = -0: the angle lies towards pi
  DD angle;
  if (y == 0) {
    angle = left ? kPi : dd(0.0L);
  } else if (x == 0) {
    angle = kPiOver2;
  } else if (is_inf(y)) {
    angle = is_inf(x) ? (left ? add(kPiOver2, kPiOver4) : kPiOver4) : kPiOver2;
  } else if (is_inf(x)) {
    angle = left ? kPi : dd(0.0L);
  } else {
    // |y| / |x| from the mantissas, then scaled: neither the quotient nor the pair
    // arithmetic can overflow on the way.
    int ey = 0, ex = 0;
    long double my = split_exponent(fabs_ld(y), &ey), mx = split_exponent(fabs_ld(x), &ex);
    int e = ey - ex;
    if (e > 16400) {
      angle = kPiOver2;
    } else {
      DD q = div(dd(my), dd(mx));
      q = fast_two_sum(scale(q.hi, e), scale(q.lo, e));
      angle = e < -16400 || q.hi == 0 ? dd(scale(my / mx, e)) : atan_dd(q);
    }
    if (left) angle = sub(kPi, angle);
  }
  return with_sign(value(angle), sign_of(y));
}
double atan2(double y, double x) { return to_double(atan2l(y, x)); }
float atan2f(float y, float x) { return to_float(atan2l(y, x)); }

long double asinl(long double x) {
  if (is_nan(x)) return x + x;
  long double a = fabs_ld(x);
  if (a > 1) return (x - x) / (x - x);  // NaN
  if (a < 0x1p-32L) return x;           // x^3/6 is below half an ulp
  if (a == 1) return with_sign(value(kPiOver2), sign_of(x));
  // asin(a) = atan(a / sqrt(1 - a^2)).
  DD angle = atan_dd(div(dd(a), sqrt_dd(one_minus_square(a))));
  return with_sign(value(angle), sign_of(x));
}
double asin(double x) { return to_double(asinl(x)); }
float asinf(float x) { return to_float(asinl(x)); }

long double acosl(long double x) {
  if (is_nan(x)) return x + x;
  long double a = fabs_ld(x);
  if (a > 1) return (x - x) / (x - x);  // NaN
  if (x == 1) return 0.0L;
  if (x == -1) return value(kPi);
  if (a < 0x1p-70L) return value(kPiOver2);  // pi/2 - x rounds to pi/2
  // acos(a) = atan(sqrt(1 - a^2) / a), and pi less that for negative x.
  DD angle = atan_dd(div(sqrt_dd(one_minus_square(a)), dd(a)));
  return value(sign_of(x) ? sub(kPi, angle) : angle);
}
double acos(double x) { return to_double(acosl(x)); }
float acosf(float x) { return to_float(acosl(x)); }

long double hypotl(long double x, long double y) {
  if (is_inf(x) || is_inf(y)) return 1.0L / 0.0L;  // even beside a NaN
  if (is_nan(x) || is_nan(y)) return x + y;
  long double a = fabs_ld(x), b = fabs_ld(y);
  if (a < b) {
    long double t = a;
    a = b;
    b = t;
  }
  if (b == 0) return a;
  int e = 0;
  split_exponent(a, &e);
  if (a > b * 0x1p70L) return a + b;  // b^2 / 2a is below half an ulp of a
  // Both scaled near 1, so the squares neither overflow nor underflow.
  long double as = scale(a, -e), bs = scale(b, -e);
  DD root = sqrt_dd(add(two_prod(as, as), two_prod(bs, bs)));
  return scale(value(root), e);
}
double hypot(double x, double y) { return to_double(hypotl(x, y)); }
float hypotf(float x, float y) { return to_float(hypotl(x, y)); }

}  // extern "C"
