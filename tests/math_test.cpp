// math.h on the real i386 code, judged by the host's glibc and, where glibc itself errs, by
// the host's 113-bit libquadmath: every function in its float, double and long double form, on
// a large random sample of its domain, is within one ulp of the exact result and within one ulp
// of glibc's (or nearer the exact result than glibc is: glibc's tanhf, tanhl and a few others
// are off by up to three). The special arguments (zeros, infinities, NaN, subnormals, the edges
// of each domain) give exactly glibc's answer.
#include <gtest/gtest.h>
#include <quadmath.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/harness/guest.h"

namespace nuv::test {
namespace {

enum Form { kFloat, kDouble, kLongDouble };
constexpr const char* kFormNames[] = {"float", "double", "long double"};
constexpr uint32_t kGuestLongDouble = 12;  // sizeof(long double) on the i386
constexpr int kBatch = 4096;

// How the sample is drawn: magnitudes 2^lo .. 2^hi (clipped to the form), or uniform in
// [lo, hi] when `uniform`; `sign`: negative values too.
struct Domain {
  double lo, hi;
  bool uniform;
  bool sign;
};

struct Function {
  const char* name;
  int index;  // in math_batch.c: unary, or 100 + binary
  float (*f1)(float);
  double (*d1)(double);
  long double (*l1)(long double);
  __float128 (*q1)(__float128);
  float (*f2)(float, float);
  double (*d2)(double, double);
  long double (*l2)(long double, long double);
  __float128 (*q2)(__float128, __float128);
  Domain x, y;
};

#define UNARY(name, index, x)                                                                \
  {                                                                                          \
#name, index, name##f, name, name##l, name##q, nullptr, nullptr, nullptr, nullptr, x, {} \
  }
#define BINARY(name, index, x, y) \
  { #name, 100 + index, nullptr, nullptr, nullptr, nullptr, name##f, name, name##l, name##q, x, y }

// The host's forms of the functions that answer through a pointer or take an int.
#define HOST_WRAPPERS(suffix, type)                                      \
  type frexp_mantissa##suffix(type x) {                                  \
    int e;                                                               \
    return ::frexp##suffix(x, &e);                                       \
  }                                                                      \
  type frexp_exponent##suffix(type x) {                                  \
    int e = 0;                                                           \
    ::frexp##suffix(x, &e);                                              \
    return static_cast<type>(e);                                         \
  }                                                                      \
  type modf_fraction##suffix(type x) {                                   \
    type i;                                                              \
    return ::modf##suffix(x, &i);                                        \
  }                                                                      \
  type modf_integral##suffix(type x) {                                   \
    type i;                                                              \
    ::modf##suffix(x, &i);                                               \
    return i;                                                            \
  }                                                                      \
  type ldexp_up##suffix(type x) { return ::ldexp##suffix(x, 100); }      \
  type ldexp_down##suffix(type x) { return ::scalbn##suffix(x, -2000); } \
  type sincos_sin##suffix(type x) { return ::sin##suffix(x); }           \
  type sincos_cos##suffix(type x) { return ::cos##suffix(x); }
HOST_WRAPPERS(f, float)
HOST_WRAPPERS(, double)
HOST_WRAPPERS(l, long double)
HOST_WRAPPERS(q, __float128)

constexpr Domain kAnywhere = {-60, 16383, false, true};
constexpr Domain kPositive = {-16445, 16383, false, false};

const Function kFunctions[] = {
    UNARY(fabs, 0, kAnywhere),
    UNARY(floor, 1, (Domain{-8, 70, false, true})),
    UNARY(ceil, 2, (Domain{-8, 70, false, true})),
    UNARY(trunc, 3, (Domain{-8, 70, false, true})),
    UNARY(round, 4, (Domain{-8, 70, false, true})),
    UNARY(sqrt, 5, kPositive),
    UNARY(exp, 6, (Domain{-11400, 11357, true, false})),
    UNARY(exp2, 7, (Domain{-16440, 16383, true, false})),
    UNARY(expm1, 8, (Domain{-70, 13, false, true})),
    UNARY(log, 9, kPositive),
    UNARY(log2, 10, kPositive),
    UNARY(log10, 11, kPositive),
    UNARY(log1p, 12, (Domain{-1, 60, true, false})),
    UNARY(sin, 13, kAnywhere),
    UNARY(cos, 14, kAnywhere),
    UNARY(tan, 15, kAnywhere),
    UNARY(asin, 16, (Domain{-1, 1, true, false})),
    UNARY(acos, 17, (Domain{-1, 1, true, false})),
    UNARY(atan, 18, kAnywhere),
    UNARY(sinh, 19, (Domain{-11357, 11357, true, false})),
    UNARY(cosh, 20, (Domain{-11357, 11357, true, false})),
    UNARY(tanh, 21, (Domain{-40, 6, false, true})),
    BINARY(fmod, 0, kAnywhere, kAnywhere),
    BINARY(pow, 1, (Domain{-30, 30, false, false}), (Domain{-300, 300, true, false})),
    BINARY(atan2, 2, kAnywhere, kAnywhere),
    BINARY(hypot, 3, kAnywhere, kAnywhere),
    BINARY(copysign, 4, kAnywhere, kAnywhere),
    BINARY(fmin, 5, kAnywhere, kAnywhere),
    BINARY(fmax, 6, kAnywhere, kAnywhere),
    BINARY(fdim, 7, kAnywhere, kAnywhere),
    UNARY(frexp_mantissa, 22, kAnywhere),
    UNARY(frexp_exponent, 23, kAnywhere),
    UNARY(modf_fraction, 24, (Domain{-8, 70, false, true})),
    UNARY(modf_integral, 25, (Domain{-8, 70, false, true})),
    UNARY(ldexp_up, 26, kAnywhere),
    UNARY(ldexp_down, 27, kAnywhere),
    UNARY(sincos_sin, 28, kAnywhere),
    UNARY(sincos_cos, 29, kAnywhere),
};

// The value rounded to the form, as a long double.
long double in_form(long double v, Form form) {
  if (form == kFloat) return static_cast<float>(v);
  if (form == kDouble) return static_cast<double>(v);
  return v;
}

// Ordinal of a value of the form: adjacent values differ by 1, -0 and +0 are both 0.
__int128 ordinal(long double v, Form form) {
  __int128 magnitude;
  bool negative = std::signbit(v);
  if (form == kFloat) {
    float f = std::fabs(static_cast<float>(v));
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    magnitude = bits;
  } else if (form == kDouble) {
    double d = std::fabs(static_cast<double>(v));
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    magnitude = bits;
  } else {
    long double l = std::fabs(v);
    uint64_t significand;
    uint16_t exponent;
    std::memcpy(&significand, &l, 8);
    std::memcpy(&exponent, reinterpret_cast<char*>(&l) + 8, 2);
    magnitude = (static_cast<__int128>(exponent) << 63) | (significand & ~(uint64_t{1} << 63));
  }
  return negative ? -magnitude : magnitude;
}

// Ulps between two results of the form; NaN only matches NaN, infinities only themselves.
double ulps(long double a, long double b, Form form) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) ? 0 : 1e30;
  if (std::isinf(a) || std::isinf(b)) {
    // One ulp past the largest finite value rounds to infinity.
    __int128 d = ordinal(a, form) - ordinal(b, form);
    return static_cast<double>(d < 0 ? -d : d);
  }
  __int128 d = ordinal(a, form) - ordinal(b, form);
  return static_cast<double>(d < 0 ? -d : d);
}

long double draw(std::mt19937_64& rng, const Domain& d, Form form) {
  static const int kMinExponent[] = {-149, -1074, -16445};
  static const int kMaxExponent[] = {127, 1023, 16383};
  long double v;
  if (d.uniform) {
    double lo = d.lo, hi = d.hi;
    // Clip an exponential's range to what the form can reach.
    double limit = form == kFloat ? 100 : form == kDouble ? 720 : 1e9;
    if (hi > limit) hi = limit;
    if (lo < -limit) lo = -limit;
    if (d.hi == 16383 && form != kLongDouble) hi = kMaxExponent[form] + 2;
    if (d.lo < -16000 && form != kLongDouble) lo = kMinExponent[form] - 2;
    v = std::uniform_real_distribution<long double>(lo, hi)(rng);
  } else {
    int lo = std::max(static_cast<int>(d.lo), kMinExponent[form]);
    int hi = std::min(static_cast<int>(d.hi), kMaxExponent[form]);
    int e = std::uniform_int_distribution<int>(lo, hi)(rng);
    long double m = 1 + std::uniform_real_distribution<long double>(0, 1)(rng);
    v = std::ldexp(m, e);
    if (d.sign && (rng() & 1)) v = -v;
  }
  return in_form(v, form);
}

void put_long_doubles(Guest& g, uint32_t at, const std::vector<long double>& values) {
  std::vector<uint8_t> bytes(values.size() * kGuestLongDouble);
  for (size_t i = 0; i < values.size(); ++i) {
    std::memcpy(&bytes[i * kGuestLongDouble], &values[i], 10);
  }
  g.write(at, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

// The guest's results for these arguments (y unused by unary functions).
std::vector<long double> guest_results(Guest& g, const Function& fn, Form form,
                                       const std::vector<long double>& x,
                                       const std::vector<long double>& y) {
  static uint32_t buffers[3] = {};
  static Guest* owner = nullptr;
  if (owner != &g) {
    for (uint32_t& b : buffers) b = g.alloc(kBatch * kGuestLongDouble);
    owner = &g;
  }
  put_long_doubles(g, buffers[0], x);
  put_long_doubles(g, buffers[1], y.empty() ? x : y);
  g.call("nuv_math_batch", {static_cast<uint32_t>(fn.index), static_cast<uint32_t>(form),
                            buffers[0], buffers[1], buffers[2], static_cast<uint32_t>(x.size())});
  std::vector<uint8_t> raw = g.read(buffers[2], static_cast<uint32_t>(x.size()) * kGuestLongDouble);
  std::vector<long double> out(x.size());
  for (size_t i = 0; i < x.size(); ++i) {
    out[i] = 0;
    std::memcpy(&out[i], &raw[i * kGuestLongDouble], 10);
  }
  return out;
}

// The exact result, as near as 113 bits come, rounded to the form.
long double exact_result(const Function& fn, Form form, long double x, long double y) {
  __float128 q = fn.q1 != nullptr ? fn.q1(x) : fn.q2(x, y);
  return in_form(static_cast<long double>(q), form);
}

long double host_result(const Function& fn, Form form, long double x, long double y) {
  if (fn.f1 != nullptr) {
    if (form == kFloat) return fn.f1(static_cast<float>(x));
    if (form == kDouble) return fn.d1(static_cast<double>(x));
    return fn.l1(x);
  }
  if (form == kFloat) return fn.f2(static_cast<float>(x), static_cast<float>(y));
  if (form == kDouble) return fn.d2(static_cast<double>(x), static_cast<double>(y));
  return fn.l2(x, y);
}

// Within an ulp of the exact result, and of glibc's unless glibc is further from it than we are.
bool within_an_ulp(const Function& fn, Form form, long double x, long double y, long double got) {
  long double glibc = host_result(fn, form, x, y);
  long double exact = exact_result(fn, form, x, y);
  double from_exact = ulps(got, exact, form);
  return from_exact <= 1 && (ulps(got, glibc, form) <= 1 || from_exact < ulps(glibc, exact, form));
}

std::string describe(long double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.21Lg (%La)", v, v);
  return text;
}

TEST(Math, EveryFunctionAndFormIsWithinAnUlpOfGlibcOnARandomSample) {
  Guest g;
  std::mt19937_64 rng(20261207);
  for (const Function& fn : kFunctions) {
    for (Form form : {kFloat, kDouble, kLongDouble}) {
      SCOPED_TRACE(std::string(fn.name) + " in " + kFormNames[form]);
      std::vector<long double> x(kBatch), y;
      for (long double& v : x) v = draw(rng, fn.x, form);
      if (fn.f2 != nullptr) {
        y.resize(kBatch);
        for (long double& v : y) v = draw(rng, fn.y, form);
      }
      std::vector<long double> got = guest_results(g, fn, form, x, y);
      for (size_t i = 0; i < x.size(); ++i) {
        long double yi = y.empty() ? 0 : y[i];
        bool fine = within_an_ulp(fn, form, x[i], yi, got[i]);
        if (!fine) {
          ADD_FAILURE() << "x = " << describe(x[i]) << (y.empty() ? "" : ", y = " + describe(yi))
                        << ": got " << describe(got[i]) << ", glibc "
                        << describe(host_result(fn, form, x[i], yi)) << ", exact "
                        << describe(exact_result(fn, form, x[i], yi));
          break;
        }
      }
    }
  }
}

// Zeros, infinities and NaN, the smallest subnormal, 1 and the largest value, each with both
// signs, for every argument. Where an argument is a zero, an infinity or NaN, or glibc answers
// one, the result must be glibc's to the bit, the sign of a zero included (NaN matches any
// NaN); the others are judged as the random sample is.
TEST(Math, SpecialArgumentsGiveExactlyGlibcsAnswer) {
  Guest g;
  for (Form form : {kFloat, kDouble, kLongDouble}) {
    long double tiny = form == kFloat    ? std::numeric_limits<float>::denorm_min()
                       : form == kDouble ? std::numeric_limits<double>::denorm_min()
                                         : std::numeric_limits<long double>::denorm_min();
    long double huge = form == kFloat    ? std::numeric_limits<float>::max()
                       : form == kDouble ? std::numeric_limits<double>::max()
                                         : std::numeric_limits<long double>::max();
    std::vector<long double> specials;
    for (long double v : {0.0L, static_cast<long double>(INFINITY), tiny, 1.0L, huge}) {
      specials.push_back(v);
      specials.push_back(-v);
    }
    specials.push_back(NAN);
    for (const Function& fn : kFunctions) {
      SCOPED_TRACE(std::string(fn.name) + " in " + kFormNames[form]);
      std::vector<long double> x, y;
      for (long double a : specials) {
        if (fn.f2 == nullptr) {
          x.push_back(a);
          continue;
        }
        for (long double b : specials) {
          x.push_back(a);
          y.push_back(b);
        }
      }
      std::vector<long double> got = guest_results(g, fn, form, x, y);
      for (size_t i = 0; i < x.size(); ++i) {
        long double yi = y.empty() ? 0 : y[i];
        long double want = host_result(fn, form, x[i], yi);
        auto special = [](long double v) { return v == 0 || std::isinf(v) || std::isnan(v); };
        if (special(x[i]) || (!y.empty() && special(yi)) || special(want)) {
          // ISO C leaves the sign of fmin's and fmax's zero from two zeros open (glibc's forms
          // differ among themselves): ours is IEEE 754's, -0 the smaller.
          bool either_zero = (fn.name == std::string("fmin") || fn.name == std::string("fmax")) &&
                             want == 0 && got[i] == 0;
          bool same = std::isnan(want)
                          ? std::isnan(got[i])
                          : ordinal(got[i], form) == ordinal(want, form) &&
                                (either_zero || std::signbit(got[i]) == std::signbit(want));
          EXPECT_TRUE(same) << "x = " << describe(x[i])
                            << (y.empty() ? "" : ", y = " + describe(yi)) << ": got "
                            << describe(got[i]) << ", glibc " << describe(want);
        } else {
          EXPECT_TRUE(within_an_ulp(fn, form, x[i], yi, got[i]))
              << "x = " << describe(x[i]) << (y.empty() ? "" : ", y = " + describe(yi)) << ": got "
              << describe(got[i]) << ", glibc " << describe(want);
        }
      }
    }
  }
}

// The classification macros on each kind of value in each form, as glibc's classify it (the
// FP_ numbers are glibc's too; isinf gives -1 for -inf there), and nan's forms give a quiet
// NaN, positive, whatever the tag.
TEST(Math, ClassificationAndNanAnswerAsGlibcDoes) {
  Guest g;
  uint32_t x = g.alloc(kGuestLongDouble), out = g.alloc(5 * 4);
  for (Form form : {kFloat, kDouble, kLongDouble}) {
    long double tiny = form == kFloat    ? std::numeric_limits<float>::denorm_min()
                       : form == kDouble ? std::numeric_limits<double>::denorm_min()
                                         : std::numeric_limits<long double>::denorm_min();
    long double least = form == kFloat    ? std::numeric_limits<float>::min()
                        : form == kDouble ? std::numeric_limits<double>::min()
                                          : std::numeric_limits<long double>::min();
    for (long double v : {0.0L, static_cast<long double>(INFINITY), tiny, least, 1.5L,
                          static_cast<long double>(NAN)}) {
      for (long double signed_v : {v, -v}) {
        SCOPED_TRACE(describe(signed_v) + " in " + kFormNames[form]);
        put_long_doubles(g, x, {signed_v});
        g.call("nuv_math_classify", {static_cast<uint32_t>(form), x, out});
        std::vector<uint8_t> raw = g.read(out, 5 * 4);
        int32_t got[5];
        std::memcpy(got, raw.data(), sizeof got);
        auto expect = [&](auto in_form) {
          EXPECT_EQ(got[0] != 0, std::isnan(in_form));
          EXPECT_EQ(got[1], std::isinf(in_form) ? (std::signbit(in_form) ? -1 : 1) : 0);
          EXPECT_EQ(got[2] != 0, std::isfinite(in_form));
          EXPECT_EQ(got[3], std::fpclassify(in_form));
          EXPECT_EQ(got[4] != 0, std::signbit(in_form));
        };
        if (form == kFloat) expect(static_cast<float>(signed_v));
        if (form == kDouble) expect(static_cast<double>(signed_v));
        if (form == kLongDouble) expect(signed_v);
      }
    }
  }
  for (const char* fn : {"nan", "nanf", "nanl"}) {
    for (const char* tag : {"", "0", "123", "junk"}) {
      SCOPED_TRACE(std::string(fn) + "(\"" + tag + "\")");
      long double v = g.call_ld(fn, {g.str(tag)});
      EXPECT_TRUE(std::isnan(v)) << describe(v);
      EXPECT_FALSE(std::signbit(v));
    }
  }
}

}  // namespace
}  // namespace nuv::test
