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

#define FORMS(name) \
  { name##f, name, name##l }
static const struct Unary kUnary[] = {
    FORMS(fabs),  FORMS(floor), FORMS(ceil),  FORMS(trunc), FORMS(round), FORMS(sqrt),
    FORMS(exp),   FORMS(exp2),  FORMS(expm1), FORMS(log),   FORMS(log2),  FORMS(log10),
    FORMS(log1p), FORMS(sin),   FORMS(cos),   FORMS(tan),   FORMS(asin),  FORMS(acos),
    FORMS(atan),  FORMS(sinh),  FORMS(cosh),  FORMS(tanh),
};
static const struct Binary kBinary[] = {
    FORMS(fmod), FORMS(pow), FORMS(atan2), FORMS(hypot), FORMS(copysign),
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
