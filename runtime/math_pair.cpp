// Arithmetic on pairs of long doubles (math_internal.h): Dekker's and Knuth's error-free
// transformations, about 128 bits of precision from the x87's 64.
#include "math_internal.h"

namespace nuv::math {

DD two_prod(long double a, long double b) {
  const long double split = 4294967297.0L;  // 2^32 + 1
  long double ca = split * a, cb = split * b;
  long double ah = ca - (ca - a), al = a - ah;
  long double bh = cb - (cb - b), bl = b - bh;
  long double p = a * b;
  return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

DD add(DD a, DD b) {
  DD s = two_sum(a.hi, b.hi);
  DD t = two_sum(a.lo, b.lo);
  s.lo += t.hi;
  s = fast_two_sum(s.hi, s.lo);
  s.lo += t.lo;
  return fast_two_sum(s.hi, s.lo);
}

DD add(DD a, long double b) {
  DD s = two_sum(a.hi, b);
  s.lo += a.lo;
  return fast_two_sum(s.hi, s.lo);
}

DD mul(DD a, DD b) {
  DD p = two_prod(a.hi, b.hi);
  p.lo += a.hi * b.lo + a.lo * b.hi;
  return fast_two_sum(p.hi, p.lo);
}

DD mul(DD a, long double b) {
  DD p = two_prod(a.hi, b);
  p.lo += a.lo * b;
  return fast_two_sum(p.hi, p.lo);
}

DD div(DD a, DD b) {
  long double q = a.hi / b.hi;
  // The remainder a - q * b, with q * b.hi exact.
  DD r = sub(a, mul(b, q));
  long double q2 = r.hi / b.hi;
  return fast_two_sum(q, q2);
}

long double horner(long double t, const long double *c, int n) {
  long double sum = c[n - 1];
  for (int i = n - 2; i >= 0; --i) sum = sum * t + c[i];
  return sum;
}

}  // namespace nuv::math
