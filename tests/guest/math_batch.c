/* Runs one math function over a batch of arguments inside the guest, so the accuracy test
   makes one call per batch instead of one per argument. Arguments and results travel as long
   doubles; the double and float forms get theirs converted first (the test picks arguments the
   form can hold exactly). */
#include <math.h>

enum Form { kFloat, kDouble, kLongDouble };

struct Unary {
  float (*f)(float);
  double (*d)(double);
  long double (*l)(long double);
};
struct Binary {
  float (*f)(float, float);
  double (*d)(double, double);
  long double (*l)(long double, long double);
};

/* The functions that answer through a pointer or take an int, as plain unary ones. */
#define WRAPPERS(suffix, type)                                                \
  static type frexp_mantissa##suffix(type x) {                                \
    int e;                                                                    \
    return frexp##suffix(x, &e);                                              \
  }                                                                           \
  static type frexp_exponent##suffix(type x) {                                \
    int e = 0;                                                                \
    frexp##suffix(x, &e);                                                     \
    return (type)e;                                                           \
  }                                                                           \
  static type modf_fraction##suffix(type x) {                                 \
    type i;                                                                   \
    return modf##suffix(x, &i);                                               \
  }                                                                           \
  static type modf_integral##suffix(type x) {                                 \
    type i;                                                                   \
    modf##suffix(x, &i);                                                      \
    return i;                                                                 \
  }                                                                           \
  static type ldexp_up##suffix(type x) { return ldexp##suffix(x, 100); }      \
  static type ldexp_down##suffix(type x) { return scalbn##suffix(x, -2000); } \
  static type sincos_sin##suffix(type x) {                                    \
    type s, c;                                                                \
    sincos##suffix(x, &s, &c);                                                \
    return s;                                                                 \
  }                                                                           \
  static type sincos_cos##suffix(type x) {                                    \
    type s, c;                                                                \
    sincos##suffix(x, &s, &c);                                                \
    return c;                                                                 \
  }
WRAPPERS(f, float)
WRAPPERS(, double)
WRAPPERS(l, long double)

#define FORMS(name) \
  { name##f, name, name##l }
static const struct Unary kUnary[] = {
    FORMS(fabs),
    FORMS(floor),
    FORMS(ceil),
    FORMS(trunc),
    FORMS(round),
    FORMS(sqrt),
    FORMS(exp),
    FORMS(exp2),
    FORMS(expm1),
    FORMS(log),
    FORMS(log2),
    FORMS(log10),
    FORMS(log1p),
    FORMS(sin),
    FORMS(cos),
    FORMS(tan),
    FORMS(asin),
    FORMS(acos),
    FORMS(atan),
    FORMS(sinh),
    FORMS(cosh),
    FORMS(tanh),
    FORMS(frexp_mantissa),
    FORMS(frexp_exponent),
    FORMS(modf_fraction),
    FORMS(modf_integral),
    FORMS(ldexp_up),
    FORMS(ldexp_down),
    FORMS(sincos_sin),
    FORMS(sincos_cos),
};
static const struct Binary kBinary[] = {
    FORMS(fmod),     FORMS(pow),  FORMS(atan2), FORMS(hypot),
    FORMS(copysign), FORMS(fmin), FORMS(fmax),  FORMS(fdim),
};

/* function: an index into kUnary, or 100 + an index into kBinary. */
void nuv_math_batch(int function, int form, const long double *x, const long double *y,
                    long double *out, int count) {
  for (int i = 0; i < count; ++i) {
    if (function < 100) {
      const struct Unary *u = &kUnary[function];
      out[i] = form == kFloat    ? u->f((float)x[i])
               : form == kDouble ? u->d((double)x[i])
                                 : u->l(x[i]);
    } else {
      const struct Binary *b = &kBinary[function - 100];
      out[i] = form == kFloat    ? b->f((float)x[i], (float)y[i])
               : form == kDouble ? b->d((double)x[i], (double)y[i])
                                 : b->l(x[i], y[i]);
    }
  }
}

/* The classification macros on x in the form: isnan, isinf, isfinite, fpclassify, signbit. */
void nuv_math_classify(int form, const long double *x, int *out) {
  if (form == kFloat) {
    float v = (float)*x;
    out[0] = isnan(v), out[1] = isinf(v), out[2] = isfinite(v), out[3] = fpclassify(v);
    out[4] = signbit(v) != 0;
  } else if (form == kDouble) {
    double v = (double)*x;
    out[0] = isnan(v), out[1] = isinf(v), out[2] = isfinite(v), out[3] = fpclassify(v);
    out[4] = signbit(v) != 0;
  } else {
    long double v = *x;
    out[0] = isnan(v), out[1] = isinf(v), out[2] = isfinite(v), out[3] = fpclassify(v);
    out[4] = signbit(v) != 0;
  }
}
