// Text to integers, abs and the random generator, run as i386 code in the emulator.

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "tests/harness/guest.h"

namespace {

using nuv::test::Guest;

constexpr uint32_t kUntouched = 0xDEADBEEF;

struct Case {
  const char* text;
  int base;
  int64_t want;
  int end;  // offset of the first character not used; -1: atoi and atol, which report none
};

// What the host comparisons below hold (digits, signs and white space both take, prefixes, bases
// 8, 10 and 16, wrapping past 32 bits) is left to them.
const Case kCases[] = {
    // clang-format off
    {"\r5", 0, 0, -1}, {"- 5", 0, 0, -1}, {"+", 0, 0, -1}, {"", 0, 0, -1},
    {"2147483648", 0, INT32_MIN, -1}, {"99999999999", 0, 1215752191, -1},
    {"-5", 10, 0, 0}, {"+5", 10, 0, 0}, {"0x", 0, 0, 2}, {"0xg", 0, 0, 2}, {"0x", 16, 0, 2},
    {"08", 0, 0, 1}, {"  abc", 10, 0, 2}, {"\v12", 10, 0, 0}, {"z", 36, 0, 0}, {"fF", 17, 270, 2},
    {"777", -1, 0, 0},
    // clang-format on
};

TEST(IntegerConversion, WhiteSpacePrefixesBasesWrappingAndEndPointer) {
  Guest g;
  const uint32_t end = g.alloc(4);
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << '"' << c.text << "\" base " << c.base);
    const uint32_t text = g.str(c.text), base = static_cast<uint32_t>(c.base);
    const uint32_t want = static_cast<uint32_t>(c.want);
    if (c.end < 0) {
      EXPECT_EQ(g.call("atoi", {text}), want);
      EXPECT_EQ(g.call("atol", {text}), want);
      continue;
    }
    for (const char* function : {"strtoul", "strtol"}) {  // one routine, no sign taken
      g.set_u32(end, kUntouched);
      EXPECT_EQ(g.call(function, {text, end, base}), want) << function;
      EXPECT_EQ(g.u32(end) - text, static_cast<uint32_t>(c.end)) << function;
    }
    EXPECT_EQ(g.call("strtoul", {text, 0, base}), want);
  }
  for (const char* function : {"atoi", "atol", "strtoul", "strtol"}) {
    g.set_u32(end, kUntouched);
    EXPECT_EQ(g.call(function, {0, end, 10}), 0u) << function;
    EXPECT_EQ(g.u32(end), function[0] == 'a' ? kUntouched : 0u) << function;
  }
}

// Only where both libraries mean the same: strtoul on digits within 64 bits (the host's result
// modulo 2^32 is ours) with no sign and white space both skip; atoi within the int range.
TEST(IntegerConversion, AgreesWithTheHostLibrary) {
  std::mt19937 rng(20240611);
  auto pick = [&](const char* set) { return set[rng() % std::strlen(set)]; };
  Guest g;
  const uint32_t buffer = g.alloc(64), end = g.alloc(4);
  for (int i = 0; i < 3000; ++i) {
    const int base = std::array{0, 8, 10, 16}[rng() % 4];
    std::string text(rng() % 4, ' ');
    for (char& c : text) c = pick(" \t\n\r");
    const char* digits = base == 8    ? "01234567"
                         : base == 16 ? "0123456789abcdefABCDEF"
                                      : "0123456789";
    if ((base == 0 || base == 16) && rng() % 2) {
      text += rng() % 2 ? "0x" : "0X";
      digits = "0123456789abcdefABCDEF";
    } else if (base == 0) {
      text += rng() % 2 ? '0' : pick("123456789");
      digits = text.back() == '0' ? "01234567" : "0123456789";
    }
    for (int count = 1 + static_cast<int>(rng() % 15); count > 0; --count) text += pick(digits);
    // In base 16 a lone "0" before an 'x' is where the two part: ours keeps "0x" consumed.
    text += pick(base == 16 ? "yz .+-g" : "xyz .+-g");
    SCOPED_TRACE(testing::Message() << '"' << text << "\" base " << base);
    char* host_end = nullptr;
    const unsigned long host = std::strtoul(text.c_str(), &host_end, base);
    g.write(buffer, text.c_str(), static_cast<uint32_t>(text.size() + 1));
    EXPECT_EQ(g.call("strtoul", {buffer, end, static_cast<uint32_t>(base)}),
              static_cast<uint32_t>(host));
    EXPECT_EQ(g.u32(end) - buffer, static_cast<uint32_t>(host_end - text.c_str()));

    std::string number(rng() % 3, ' ');
    for (char& c : number) c = pick(" \t\n");
    number += std::array{"", "-", "+"}[rng() % 3];
    for (int count = 1 + static_cast<int>(rng() % 9); count > 0; --count) {
      number += pick("0123456789");
    }
    number += pick("x -+.");
    g.write(buffer, number.c_str(), static_cast<uint32_t>(number.size() + 1));
    EXPECT_EQ(g.calli("atoi", {buffer}), std::atoi(number.c_str())) << '"' << number << '"';
  }
}

TEST(Abs, MagnitudeWithTheMostNegativeUnchanged) {
  Guest g;
  for (int32_t v : {0, -1, INT32_MAX, -INT32_MAX, INT32_MIN}) {
    for (const char* function : {"abs", "labs"}) {
      EXPECT_EQ(g.calli(function, {static_cast<uint32_t>(v)}), v == INT32_MIN ? v : std::abs(v))
          << function << "(" << v << ")";
    }
  }
}

TEST(Rand, FixedSequencesAfterSrand) {
  Guest g;
  for (uint32_t seed : {1u, 0u}) {
    g.call("srand", {seed});
    for (int32_t want : {16838, 5758, 10113, 17515, 31051}) EXPECT_EQ(g.calli("rand"), want);
  }
  g.call("srand", {42});
  for (int32_t want : {19081, 17033, 15269}) EXPECT_EQ(g.calli("rand"), want);
}

// Without srand the first rand seeds the generator once, differently in each process, and every
// later call steps it from there.
TEST(Rand, SeedsItselfOnceDifferentlyInEachProcess) {
  uint32_t seeds[2];
  for (uint32_t& seed : seeds) {
    Guest g;
    const int32_t first = g.calli("rand");
    seed = g.u32(g.sym("g_rand_state"));
    EXPECT_EQ(first, static_cast<int32_t>((seed >> 16) & 0x7FFF));
    EXPECT_EQ(g.calli("rand"),
              static_cast<int32_t>(((seed * 1103515245u + 12345u) >> 16) & 0x7FFF));
  }
  EXPECT_NE(seeds[0], seeds[1]);
}

}  // namespace
