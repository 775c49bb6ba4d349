// strtold bit for bit: the guest's x87 result against a host reference that takes the same
// steps in the host's own 80-bit long double (same format, same round-to-nearest), so every
// intermediate rounding must match, not just the final value.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "tests/harness/guest.h"

namespace {

using nuv::test::Guest;

struct Parsed {
  long double value;
  size_t end;
};

bool dec(char c) { return c >= '0' && c <= '9'; }

int hex(char c) {
  if (dec(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads "<marker>[sign]digits" at i; on success moves i past it and returns the exponent
// (saturated at 4096), otherwise leaves i alone and returns 0 with `taken` false.
int exponent_at(const std::string& s, size_t& i, char marker, bool& negative, bool& taken) {
  taken = false;
  negative = false;
  if (i >= s.size() || (s[i] != marker && s[i] != marker - 32)) return 0;
  size_t j = i + 1;
  if (j < s.size() && (s[j] == '+' || s[j] == '-')) negative = s[j++] == '-';
  if (j >= s.size() || !dec(s[j])) return 0;
  int e = 0;
  for (; j < s.size() && dec(s[j]); ++j) e = std::min(e * 10 + (s[j] - '0'), 4096);
  i = j;
  taken = true;
  return e;
}

Parsed reference_strtold(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && std::strchr("\t\n\v\f\r ", s[i]) != nullptr) ++i;
  long double factor = 1.0L;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) factor = s[i++] == '-' ? -1.0L : 1.0L;
  long double sum = 0.0L;
  bool negative = false;
  bool taken = false;
  if (s.compare(i, 2, "0x") == 0 || s.compare(i, 2, "0X") == 0) {
    i += 2;
    int digits = 0;
    for (; i < s.size() && hex(s[i]) >= 0; ++i, ++digits) sum = sum * 16.0L + hex(s[i]);
    if (i < s.size() && s[i] == '.') {
      int fraction = 0;
      for (++i; i < s.size() && hex(s[i]) >= 0; ++i, ++fraction) sum = sum * 16.0L + hex(s[i]);
      for (int k = 0; k < std::min(fraction, 1024); ++k) sum *= 0.0625L;
      digits += fraction;
    }
    if (digits == 0) return {0.0L, 0};
    const int e = exponent_at(s, i, 'p', negative, taken);
    for (int k = 0; k < std::min(e, 1024); ++k) sum = negative ? sum * 0.5L : sum + sum;
  } else if (i < s.size() && (dec(s[i]) || (s[i] == '.' && i + 1 < s.size() && dec(s[i + 1])))) {
    for (; i < s.size() && dec(s[i]); ++i) sum = sum * 10.0L + (s[i] - '0');
    if (i < s.size() && s[i] == '.') {
      int fraction = 0;
      for (++i; i < s.size() && dec(s[i]); ++i) {
        sum = sum * 10.0L + (s[i] - '0');
        fraction = std::min(fraction + 1, 1024);
      }
      for (int k = 0; k < fraction; ++k) sum /= 10.0L;
    }
    const int e = exponent_at(s, i, 'e', negative, taken);
    for (int k = 0; k < std::min(e, 1024); ++k) sum = negative ? sum / 10.0L : sum * 10.0L;
  } else {
    return {0.0L, 0};
  }
  return {sum * factor, i};
}

// The ten bytes that hold an 80-bit value: significand, then sign and exponent.
std::string bits(long double v) {
  unsigned char raw[10];
  std::memcpy(raw, &v, sizeof raw);
  char out[32];
  std::snprintf(out, sizeof out, "%02x%02x:%02x%02x%02x%02x%02x%02x%02x%02x", raw[9], raw[8],
                raw[7], raw[6], raw[5], raw[4], raw[3], raw[2], raw[1], raw[0]);
  return out;
}

// Runs strtold in the guest over one reused buffer and compares value bits and end.
class Checker {
 public:
  Checker() : buffer_(g_.alloc(kCapacity)), end_slot_(g_.alloc(4)) {}

  void check(const std::string& text) {
    ASSERT_LT(text.size(), kCapacity);
    SCOPED_TRACE(testing::Message() << '"' << (text.size() > 80 ? text.substr(0, 80) + "..." : text)
                                    << "\" (" << text.size() << " bytes)");
    g_.write(buffer_, text.c_str(), static_cast<uint32_t>(text.size() + 1));
    const long double got = g_.call_ld("strtold", {buffer_, end_slot_});
    const Parsed want = reference_strtold(text);
    EXPECT_EQ(bits(got), bits(want.value)) << static_cast<double>(want.value);
    EXPECT_EQ(g_.u32(end_slot_) - buffer_, want.end);
  }

 private:
  static constexpr uint32_t kCapacity = 16384;
  Guest g_;
  uint32_t buffer_;
  uint32_t end_slot_;
};

class TextMaker {
 public:
  explicit TextMaker(uint32_t seed) : rng_(seed) {}

  std::string decimal() {
    std::string s = prefix();
    s += run("0123456789", below(4) == 0 ? 40 : 22);
    if (below(3) != 0) {
      s += '.';
      s += run("0123456789", below(4) == 0 ? 40 : 22);
    }
    if (below(2) != 0) s += exponent("eE", 5);
    return s + junk();
  }

  std::string hexadecimal() {
    std::string s = prefix();
    s += below(2) ? "0x" : "0X";
    s += run("0123456789abcdefABCDEF", 20);
    if (below(3) != 0) {
      s += '.';
      s += run("0123456789abcdefABCDEF", 20);
    }
    if (below(2) != 0) s += exponent("pP", 5);
    return s + junk();
  }

 private:
  uint32_t below(uint32_t n) { return rng_() % n; }
  char pick(const std::string& set) { return set[below(static_cast<uint32_t>(set.size()))]; }

  std::string run(const std::string& set, uint32_t max) {
    std::string s(below(max + 1), ' ');
    for (char& c : s) c = pick(set);
    return s;
  }

  std::string prefix() {
    std::string s(below(3), ' ');
    for (char& c : s) c = pick("\t\n\v\f\r ");
    const uint32_t sign = below(5);
    if (sign == 1) s += '-';
    if (sign == 2) s += '+';
    if (sign == 3 && below(10) == 0) s += "+-";
    return s;
  }

  std::string exponent(const std::string& markers, uint32_t max_digits) {
    std::string s(1, pick(markers));
    const uint32_t sign = below(3);
    if (sign == 1) s += '-';
    if (sign == 2) s += '+';
    return s + run("0123456789", max_digits);
  }

  std::string junk() { return below(2) ? std::string(1, pick("x.eEpP+- 9aG")) : std::string(); }

  std::mt19937 rng_;
};

TEST(StrtoldBits, RandomDecimalTextsMatchTheHostSteps) {
  Checker checker;
  TextMaker maker(0x5eed0001);
  for (int i = 0; i < 4000; ++i) checker.check(maker.decimal());
}

TEST(StrtoldBits, RandomHexadecimalTextsMatchTheHostSteps) {
  Checker checker;
  TextMaker maker(0x5eed0002);
  for (int i = 0; i < 3000; ++i) checker.check(maker.hexadecimal());
}

TEST(StrtoldBits, ExponentsAtTheStepAndSaturationLimits) {
  Checker checker;
  for (const char* mantissa : {"1", "7.25", "0x1", "0x1.8", "0xF.Fp0", "9.9999"}) {
    const bool is_hex = mantissa[1] == 'x';
    for (const char* sign : {"", "+", "-"}) {
      for (int e : {1023, 1024, 1025, 4095, 4096, 4097, 99999}) {
        checker.check(std::string(mantissa) + (is_hex ? "p" : "e") + sign + std::to_string(e));
      }
    }
  }
  checker.check("1e000000000000000000000000000001");
  checker.check("1e40960000000000000000000000");
}

TEST(StrtoldBits, FractionDigitCountsAroundTheCap) {
  Checker checker;
  for (size_t n : {1023u, 1024u, 1025u, 1100u}) {
    checker.check("0." + std::string(n - 1, '0') + "1");
    checker.check("0." + std::string(n, '3'));
    checker.check("0x0." + std::string(n - 1, '0') + "1");
    checker.check("0x." + std::string(n, 'c'));
    checker.check("." + std::string(n, '9') + "e-4096");
  }
}

TEST(StrtoldBits, LongDigitRunsReachInfinity) {
  Checker checker;
  checker.check(std::string(4931, '9'));
  checker.check(std::string(4933, '9'));
  checker.check("-" + std::string(6000, '1'));
  checker.check("0x" + std::string(4097, 'f'));
  checker.check(std::string(2000, '9') + "e4096");
}

}  // namespace
