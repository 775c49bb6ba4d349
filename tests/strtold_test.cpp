// strtold and strtod: the edge cases, and strtold bit for bit against a host reference that takes
// the same steps in the host's own 80-bit long double (same format, same round-to-nearest), so
// every intermediate rounding must match, not just the final value.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "tests/harness/guest.h"

namespace {

using nuv::test::Guest;

// Past the end a std::string reads as '\0', which is neither kind of digit.
bool dec(char c) { return c >= '0' && c <= '9'; }

int hex(char c) {
  const char lower = static_cast<char>(c | 0x20);
  return dec(c) ? c - '0' : lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// "<marker>[sign]digits" at i: on success moves i past it and returns the exponent, saturated at
// 4096 and negative after '-'; otherwise leaves i alone and returns 0.
int exponent_at(const std::string& s, size_t& i, char marker) {
  if ((s[i] | 0x20) != marker) return 0;
  size_t j = i + 1;
  const bool negative = s[j] == '-';
  if (s[j] == '+' || s[j] == '-') ++j;
  if (!dec(s[j])) return 0;
  int e = 0;
  for (; dec(s[j]); ++j) e = std::min(e * 10 + (s[j] - '0'), 4096);
  i = j;
  return negative ? -e : e;
}

struct Parsed {
  long double value;
  size_t end;
};

Parsed reference_strtold(const std::string& s) {
  size_t i = std::min(s.find_first_not_of("\t\n\v\f\r "), s.size());
  const long double factor = s[i] == '-' ? -1.0L : 1.0L;
  if (s[i] == '+' || s[i] == '-') ++i;
  const bool hexa = s[i] == '0' && (s[i + 1] | 0x20) == 'x';
  if (hexa) {
    i += 2;
  } else if (!dec(s[i]) && !(s[i] == '.' && dec(s[i + 1]))) {
    return {0.0L, 0};
  }
  auto digit = [&](char c) { return hexa ? hex(c) : dec(c) ? c - '0' : -1; };
  long double sum = 0.0L;
  int digits = 0, fraction = 0;
  for (; digit(s[i]) >= 0; ++i, ++digits) sum = sum * (hexa ? 16.0L : 10.0L) + digit(s[i]);
  if (s[i] == '.') {
    for (++i; digit(s[i]) >= 0; ++i, ++digits, fraction = std::min(fraction + 1, 1024)) {
      sum = sum * (hexa ? 16.0L : 10.0L) + digit(s[i]);
    }
    for (int k = 0; k < fraction; ++k) sum = hexa ? sum * 0.0625L : sum / 10.0L;
  }
  if (digits == 0) return {0.0L, 0};
  const int e = exponent_at(s, i, hexa ? 'p' : 'e');
  for (int k = 0; k < std::min(std::abs(e), 1024); ++k) {
    sum = e > 0 ? (hexa ? sum + sum : sum * 10.0L) : (hexa ? sum * 0.5L : sum / 10.0L);
  }
  return {sum * factor, i};
}

// The ten bytes of the 80-bit format, most significant first.
std::string bits(long double v) {
  unsigned char raw[10];
  std::memcpy(raw, &v, sizeof raw);
  char out[21];
  for (int k = 0; k < 10; ++k) std::snprintf(out + 2 * k, 3, "%02x", raw[9 - k]);
  return out;
}

void check_bits(Guest& g, const std::string& text) {
  SCOPED_TRACE(testing::Message() << '"' << text.substr(0, 80) << "\" (" << text.size()
                                  << " bytes)");
  const uint32_t buffer = g.str(text), end = g.alloc(4);
  const long double got = g.call_ld("strtold", {buffer, end});
  const Parsed want = reference_strtold(text);
  EXPECT_EQ(bits(got), bits(want.value)) << static_cast<double>(want.value);
  EXPECT_EQ(g.u32(end) - buffer, want.end);
}

// strtod rounds the strtold result to double: past the double range to infinity or zero.
TEST(Strtold, EdgeCasesEndPointerAndStrtod) {
  struct Case {
    const char* function;
    const char* text;
    long double want;
    uint32_t end;
  };
  const Case cases[] = {
      // clang-format off
      {"strtold", "  -12.5e1xyz", -125, 9}, {"strtold", "0x1.8p1", 3, 7},
      {"strtold", "0x.8", 0.5, 4}, {"strtold", "  0x", 0, 0}, {"strtold", "+-1", 0, 0},
      {"strtold", "inf", 0, 0}, {"strtold", "5.", 5, 2}, {"strtold", ".5", 0.5, 2},
      {"strtold", "1e+", 1, 1}, {"strtold", "0x1p-", 1, 3}, {"strtold", "-0", -0.0L, 2},
      {"strtod", "1e5000", HUGE_VAL, 6}, {"strtod", "1e-5000", 0, 7},
      {"strtod", "0.1", static_cast<long double>(0.1), 3},
      // clang-format on
  };
  Guest g;
  const uint32_t end = g.alloc(4);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.function << " \"" << c.text << '"');
    const uint32_t text = g.str(c.text);
    EXPECT_EQ(bits(g.call_ld(c.function, {text, end})), bits(c.want));
    EXPECT_EQ(g.u32(end) - text, c.end);
  }
  // Scaling stops after 1024 steps: about 10^1024 and 10^-1024, well inside long double.
  const long double huge = g.call_ld("strtold", {g.str("1e5000"), 0});
  const long double tiny = g.call_ld("strtold", {g.str("1e-5000"), 0});
  EXPECT_TRUE(huge > 1e1023L && huge < 1e1025L) << static_cast<double>(huge);
  EXPECT_TRUE(tiny > 1e-1025L && tiny < 1e-1023L);
  for (const char* function : {"strtold", "strtod"}) {
    g.set_u32(end, 0xDEADBEEF);
    EXPECT_EQ(g.call_ld(function, {0, end}), 0.0L) << function;
    EXPECT_EQ(g.u32(end), 0u) << function;
  }
}

TEST(StrtoldBits, RandomDecimalAndHexadecimalTextsMatchTheHostSteps) {
  Guest g;
  std::mt19937 rng(0x5eed0001);
  auto below = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  auto run = [&](const char* set, uint32_t max) {
    std::string s(below(max + 1), ' ');
    for (char& c : s) c = set[below(static_cast<uint32_t>(std::strlen(set)))];
    return s;
  };
  for (int i = 0; i < 7000; ++i) {
    const bool is_hex = i % 2 == 1;
    const char* digits = is_hex ? "0123456789abcdefABCDEF" : "0123456789";
    const uint32_t longest = is_hex ? 20 : below(4) == 0 ? 40 : 22;
    std::string s = run("\t\n\v\f\r ", 2) + std::array{"", "", "", "-", "+", "+-"}[below(6)];
    if (is_hex) s += below(2) ? "0x" : "0X";
    s += run(digits, longest);
    if (below(3) != 0) s += "." + run(digits, longest);
    if (below(2) != 0) {
      s += (is_hex ? "pP" : "eE")[below(2)];
      s += std::array{"", "-", "+"}[below(3)] + run("0123456789", 5);
    }
    if (below(2) != 0) s += "x.eEpP+- 9aG"[below(12)];
    check_bits(g, s);
  }
}

TEST(StrtoldBits, ExponentsFractionsAndDigitRunsAtTheLimits) {
  Guest g;
  for (const char* mantissa : {"1", "7.25", "9.9999", "0x1", "0x1.8", "0xF.F"}) {
    for (const char* sign : {"", "-"}) {
      for (int e : {1023, 1024, 1025, 4095, 4096, 4097, 99999}) {
        check_bits(
            g, mantissa + std::string(mantissa[1] == 'x' ? "p" : "e") + sign + std::to_string(e));
      }
    }
  }
  for (size_t n : {1023u, 1024u, 1025u}) {  // fraction digits around the 1024 cap
    check_bits(g, "0." + std::string(n - 1, '0') + "1");
    check_bits(g, "0x." + std::string(n, 'c'));
    check_bits(g, "." + std::string(n, '9') + "e-4096");
  }
  for (const std::string& s : {std::string("1e40960000000000000000000000"), std::string(4933, '9'),
                               "-" + std::string(6000, '1'), "0x" + std::string(4097, 'f'),
                               std::string(2000, '9') + "e4096"}) {
    check_bits(g, s);
  }
}

}  // namespace
