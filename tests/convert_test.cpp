// Text-to-number conversion and the random generator, run as i386 code in the emulator.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "tests/harness/guest.h"

namespace {

using nuv::test::Guest;

constexpr uint32_t kUntouched = 0xDEADBEEF;

// A text in guest memory with its address, so end pointers can be turned into offsets.
struct GuestText {
  uint32_t addr;
  uint32_t end_slot;
};

GuestText place(Guest& g, const std::string& text) {
  GuestText t{g.str(text), g.alloc(4)};
  g.set_u32(t.end_slot, kUntouched);
  return t;
}

TEST(Atoi, ParsesItsOwnWhiteSpaceSignAndWrapping) {
  struct Case {
    const char* text;
    int32_t want;
  };
  const Case cases[] = {
      {" -42x", -42},
      {"\r5", 0},
      {"- 5", 0},
      {"+", 0},
      {"", 0},
      {"2147483648", INT32_MIN},
      {"-2147483648", INT32_MIN},
      {"4294967297", 1},
      {"\t\n 7", 7},
      {"+12", 12},
      {"\v5", 0},
      {"\f5", 0},
      {"-0", 0},
      {"12abc", 12},
      {"+-3", 0},
      {"007", 7},
      {"x1", 0},
      {"99999999999", 1215752191},
  };
  Guest g;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.text << '"');
    const uint32_t text = g.str(c.text);
    EXPECT_EQ(g.calli("atoi", {text}), c.want);
    EXPECT_EQ(g.calli("atol", {text}), c.want);
  }
  EXPECT_EQ(g.calli("atoi", {0}), 0);
  EXPECT_EQ(g.calli("atol", {0}), 0);
}

TEST(Strtoul, PrefixesBasesAndEndPointer) {
  struct Case {
    const char* text;
    int32_t base;
    uint32_t want;
    uint32_t end;  // offset of the first character not used
  };
  const Case cases[] = {
      {"-5", 10, 0, 0},
      {"+5", 10, 0, 0},
      {"ff", 16, 255, 2},
      {"  0x1F", 0, 31, 6},
      {"0x1F", 16, 31, 4},
      {"0X10", 0, 16, 4},
      {"0x", 0, 0, 2},
      {"0xg", 0, 0, 2},
      {"0x", 16, 0, 2},
      {"08", 0, 0, 1},
      {"017", 0, 15, 3},
      {"0", 0, 0, 1},
      {"  abc", 10, 0, 2},
      {"   ", 10, 0, 3},
      {"z", 36, 0, 0},
      {"fF", 17, 270, 2},
      {"g", 17, 0, 0},
      {"4294967296", 10, 0, 10},
      {"4294967295", 10, 4294967295u, 10},
      {"4294967301", 10, 5, 10},
      {"\r\n\t 12", 10, 12, 6},
      {"\v12", 10, 0, 0},
      {"\f12", 10, 0, 0},
      {"0x10", 10, 0, 1},
      {"0x1F", 8, 0, 1},
      {"101", 2, 5, 3},
      {"102", 2, 2, 2},
      {"12", 16, 18, 2},
      {"12", 1, 0, 0},
      {"00", 1, 0, 2},
      {"777", -1, 0, 0},
      {"1234", 3, 5, 2},
  };
  Guest g;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.text << "\" base " << c.base);
    const GuestText t = place(g, c.text);
    EXPECT_EQ(g.call("strtoul", {t.addr, t.end_slot, static_cast<uint32_t>(c.base)}), c.want);
    EXPECT_EQ(g.u32(t.end_slot) - t.addr, c.end);
    g.set_u32(t.end_slot, kUntouched);
    // strtol is the same routine with the result read as signed.
    EXPECT_EQ(g.calli("strtol", {t.addr, t.end_slot, static_cast<uint32_t>(c.base)}),
              static_cast<int32_t>(c.want));
    EXPECT_EQ(g.u32(t.end_slot) - t.addr, c.end);
    EXPECT_EQ(g.call("strtoul", {t.addr, 0, static_cast<uint32_t>(c.base)}), c.want);
  }
}

TEST(Strtoul, NullTextGivesZeroAndNullEnd) {
  Guest g;
  for (const char* function : {"strtoul", "strtol"}) {
    SCOPED_TRACE(function);
    const uint32_t end = g.alloc(4);
    g.set_u32(end, kUntouched);
    EXPECT_EQ(g.call(function, {0, end, 10}), 0u);
    EXPECT_EQ(g.u32(end), 0u);
    EXPECT_EQ(g.call(function, {0, 0, 10}), 0u);
  }
}

// Inputs with at least one digit, no sign and only the white space both skip: there the host
// library and ours must agree on the end and on the value modulo 2^32.
TEST(Strtoul, AgreesWithHostLibraryOnPlainNumbers) {
  std::mt19937 rng(20240611);
  auto pick = [&](const std::string& set) { return set[rng() % set.size()]; };
  Guest g;
  const uint32_t buffer = g.alloc(64);
  const uint32_t end_slot = g.alloc(4);
  for (int i = 0; i < 3000; ++i) {
    std::string text(rng() % 4, ' ');
    for (char& c : text) c = pick(" \t\n\r");
    const int bases[] = {0, 8, 10, 16};
    const int base = bases[rng() % 4];
    int digits_base = base;
    int leading = 0;  // digits already placed by the prefix choice
    if (base == 0) {
      switch (rng() % 3) {
        case 0:
          text += rng() % 2 ? "0x" : "0X";
          digits_base = 16;
          break;
        case 1:
          text += '0';
          digits_base = 8;
          leading = 1;
          break;
        default:
          text += pick("123456789");
          digits_base = 10;
          leading = 1;
      }
    } else if (base == 16 && rng() % 2) {
      text += rng() % 2 ? "0x" : "0X";
    }
    const std::string digit_set = digits_base == 8    ? "01234567"
                                  : digits_base == 10 ? "0123456789"
                                                      : "0123456789abcdefABCDEF";
    // One digit short of 64 bits, as the trailing character may be a digit too.
    const int max_digits = (digits_base == 8 ? 20 : digits_base == 10 ? 18 : 15) - leading;
    const int count = 1 + static_cast<int>(rng() % max_digits);
    for (int d = 0; d < count; ++d) text += pick(digit_set);
    // In base 16 a lone "0" before an 'x' is where the two libraries part: the host backs up
    // to the '0', ours keeps the "0x" consumed.
    text += pick(base == 16 ? "yz .+-9g" : "xyz .+-9g");
    SCOPED_TRACE(testing::Message() << '"' << text << "\" base " << base);

    char* host_end = nullptr;
    const unsigned long host = std::strtoul(text.c_str(), &host_end, base);
    g.write(buffer, text.c_str(), static_cast<uint32_t>(text.size() + 1));
    const uint32_t got = g.call("strtoul", {buffer, end_slot, static_cast<uint32_t>(base)});
    EXPECT_EQ(got, static_cast<uint32_t>(host));
    EXPECT_EQ(g.u32(end_slot) - buffer, static_cast<uint32_t>(host_end - text.c_str()));
  }
}

TEST(Atoi, AgreesWithHostLibraryInRange) {
  std::mt19937 rng(7);
  auto pick = [&](const std::string& set) { return set[rng() % set.size()]; };
  Guest g;
  const uint32_t buffer = g.alloc(64);
  for (int i = 0; i < 2000; ++i) {
    std::string text(rng() % 3, ' ');
    for (char& c : text) c = pick(" \t\n");
    const int sign = static_cast<int>(rng() % 3);
    if (sign == 1) text += '-';
    if (sign == 2) text += '+';
    const int count = 1 + static_cast<int>(rng() % 9);
    for (int d = 0; d < count; ++d) text += pick("0123456789");
    text += pick("x -+.");
    SCOPED_TRACE(testing::Message() << '"' << text << '"');
    g.write(buffer, text.c_str(), static_cast<uint32_t>(text.size() + 1));
    EXPECT_EQ(g.calli("atoi", {buffer}), std::atoi(text.c_str()));
  }
}

TEST(Strtold, EdgeCasesAndEndPointer) {
  struct Case {
    const char* text;
    long double want;
    uint32_t end;
  };
  const Case cases[] = {
      {"  -12.5e1xyz", -125.0L, 9},
      {"0x1.8p1", 3.0L, 7},
      {"0x.8", 0.5L, 4},
      {"0xA", 10.0L, 3},
      {"0XaP+2", 40.0L, 6},
      {"0x", 0.0L, 0},
      {" 0x.p1", 0.0L, 0},
      {".", 0.0L, 0},
      {"  .", 0.0L, 0},
      {"+-1", 0.0L, 0},
      {"--1", 0.0L, 0},
      {"inf", 0.0L, 0},
      {"nan", 0.0L, 0},
      {"", 0.0L, 0},
      {"5.", 5.0L, 2},
      {".5", 0.5L, 2},
      {"-.25", -0.25L, 4},
      {"0123", 123.0L, 4},
      {"1e", 1.0L, 1},
      {"1e+", 1.0L, 1},
      {"1ex", 1.0L, 1},
      {"25E-2x", 0.25L, 5},
      {"5.e2", 500.0L, 4},
      {"0x1p-", 1.0L, 3},
      {"0x1p-2", 0.25L, 6},
      {"0x1p", 1.0L, 3},
      {"\v\f\r\t\n 7", 7.0L, 7},
      {"+3", 3.0L, 2},
      {"0x10.", 16.0L, 5},
  };
  Guest g;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.text << '"');
    const GuestText t = place(g, c.text);
    EXPECT_EQ(g.call_ld("strtold", {t.addr, t.end_slot}), c.want);
    EXPECT_EQ(g.u32(t.end_slot) - t.addr, c.end);
  }
}

TEST(Strtold, NegativeZeroNullAndHugeExponents) {
  Guest g;
  const GuestText minus_zero = place(g, "-0");
  const long double z = g.call_ld("strtold", {minus_zero.addr, minus_zero.end_slot});
  EXPECT_EQ(z, 0.0L);
  EXPECT_TRUE(std::signbit(z));

  const uint32_t end = g.alloc(4);
  g.set_u32(end, kUntouched);
  EXPECT_EQ(g.call_ld("strtold", {0, end}), 0.0L);
  EXPECT_EQ(g.u32(end), 0u);
  EXPECT_EQ(g.call_ld("strtold", {0, 0}), 0.0L);

  // Scaling stops after 1024 steps: finite in long double, beyond double.
  const GuestText big = place(g, "1e5000");
  const long double huge = g.call_ld("strtold", {big.addr, big.end_slot});
  EXPECT_TRUE(std::isfinite(huge));
  EXPECT_GT(huge, 1e1023L);
  EXPECT_LT(huge, 1e1025L);
  EXPECT_EQ(g.u32(big.end_slot) - big.addr, 6u);
  const GuestText small = place(g, "1e-5000");
  const long double tiny = g.call_ld("strtold", {small.addr, small.end_slot});
  EXPECT_GT(tiny, 1e-1025L);
  EXPECT_LT(tiny, 1e-1023L);
}

TEST(Strtod, RoundsTheLongDoubleResultToDouble) {
  struct Case {
    const char* text;
    double want;
    uint32_t end;
  };
  const Case cases[] = {
      {"1e5000", HUGE_VAL, 6}, {"-1e5000", -HUGE_VAL, 7}, {"1e-5000", 0.0, 7}, {"2.5", 2.5, 3},
      {"0x1p-1", 0.5, 6},      {"1e22", 1e22, 4},         {"abc", 0.0, 0},     {"0.5e1q", 5.0, 5},
  };
  Guest g;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.text << '"');
    const GuestText t = place(g, c.text);
    // The double comes back on the x87 stack; it must already be a double there.
    const long double got = g.call_ld("strtod", {t.addr, t.end_slot});
    EXPECT_EQ(got, static_cast<long double>(static_cast<double>(got)));
    EXPECT_EQ(static_cast<double>(got), c.want);
    EXPECT_EQ(g.u32(t.end_slot) - t.addr, c.end);
  }
  // 0.1 is not a double: the long double result must be rounded, not passed through.
  const GuestText tenth = place(g, "0.1");
  const long double got = g.call_ld("strtod", {tenth.addr, tenth.end_slot});
  EXPECT_EQ(got, static_cast<long double>(0.1));
  const uint32_t end = g.alloc(4);
  g.set_u32(end, kUntouched);
  EXPECT_EQ(g.call_ld("strtod", {0, end}), 0.0L);
  EXPECT_EQ(g.u32(end), 0u);
}

TEST(Abs, MagnitudeWithTheMostNegativeUnchanged) {
  const int32_t cases[][2] = {{0, 0},
                              {1, 1},
                              {-1, 1},
                              {INT32_MAX, INT32_MAX},
                              {-INT32_MAX, INT32_MAX},
                              {INT32_MIN, INT32_MIN}};
  Guest g;
  for (const auto& c : cases) {
    SCOPED_TRACE(c[0]);
    EXPECT_EQ(g.calli("abs", {static_cast<uint32_t>(c[0])}), c[1]);
    EXPECT_EQ(g.calli("labs", {static_cast<uint32_t>(c[0])}), c[1]);
  }
}

TEST(Rand, SequencesAfterSrand) {
  struct Case {
    uint32_t seed;
    std::vector<int32_t> want;
  };
  const Case cases[] = {
      {1, {16838, 5758, 10113, 17515, 31051}},
      {0, {16838, 5758, 10113, 17515, 31051}},
      {42, {19081, 17033, 15269}},
  };
  Guest g;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seed);
    g.call("srand", {c.seed});
    EXPECT_EQ(g.calli("rand"), c.want[0]);
    for (size_t i = 1; i < c.want.size(); ++i) EXPECT_EQ(g.calli("rand"), c.want[i]);
  }
}

TEST(Rand, StaysInRangeAndFollowsTheGenerator) {
  Guest g;
  g.call("srand", {12345});
  uint32_t state = 12345;
  int max_seen = 0;
  for (int i = 0; i < 5000; ++i) {
    state = state * 1103515245u + 12345u;
    const int32_t r = g.calli("rand");
    ASSERT_EQ(r, static_cast<int32_t>((state >> 16) & 0x7FFF)) << "call " << i;
    max_seen = std::max(max_seen, r);
  }
  EXPECT_EQ(g.u32(g.sym("g_rand_state")), state);
  EXPECT_GT(max_seen, 32000);
}

TEST(Rand, SeedsItselfOnceWithoutSrand) {
  Guest g;
  const uint32_t seeded = g.sym("g_rand_seeded");
  const uint32_t state_addr = g.sym("g_rand_state");
  EXPECT_EQ(g.u32(seeded), 0u);
  EXPECT_EQ(g.u32(state_addr), 1u);

  const int32_t first = g.calli("rand");
  EXPECT_EQ(g.u32(seeded), 1u);
  uint32_t state = g.u32(state_addr);
  EXPECT_EQ(first, static_cast<int32_t>((state >> 16) & 0x7FFF));
  // Later calls step the generator from there: no second seeding.
  for (int i = 0; i < 100; ++i) {
    state = state * 1103515245u + 12345u;
    ASSERT_EQ(g.calli("rand"), static_cast<int32_t>((state >> 16) & 0x7FFF));
  }
  EXPECT_EQ(g.u32(state_addr), state);

  // srand after the self-seed still fixes the sequence.
  g.call("srand", {1});
  EXPECT_EQ(g.calli("rand"), 16838);
}

TEST(Rand, SelfSeedDiffersBetweenProcesses) {
  uint32_t states[2];
  for (uint32_t& s : states) {
    Guest g;
    g.call("rand");
    s = g.u32(g.sym("g_rand_state"));
  }
  EXPECT_NE(states[0], states[1]);
}

TEST(Srand, SetsSeededAndState) {
  Guest g;
  g.call("srand", {0});
  EXPECT_EQ(g.u32(g.sym("g_rand_seeded")), 1u);
  EXPECT_EQ(g.u32(g.sym("g_rand_state")), 1u);
  g.call("srand", {0xFFFFFFFF});
  EXPECT_EQ(g.u32(g.sym("g_rand_state")), 0xFFFFFFFFu);
}

}  // namespace
