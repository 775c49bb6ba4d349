// String and memory functions on the real i386 code: results, pointer guards and what they
// write (and don't write) around the destination.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/harness/guest.h"

namespace {

using nuv::test::Guest;

constexpr uint32_t kNull = 0;
constexpr uint32_t kLow = 16;       // a pointer into the first page: never to be read
constexpr uint32_t kLowTop = 4095;  // the last such address

// A string argument of a case: absent means a fixed pointer (null or low) instead.
struct Arg {
  const char* text = nullptr;
  uint32_t fixed = kNull;
};

Arg S(const char* text) { return {text, 0}; }
Arg P(uint32_t address) { return {nullptr, address}; }

uint32_t place(Guest& g, const Arg& a) { return a.text != nullptr ? g.str(a.text) : a.fixed; }

std::string bytes(Guest& g, uint32_t addr, uint32_t n) {
  auto v = g.read(addr, n);
  return std::string(v.begin(), v.end());
}

TEST(StringLength, CountsBytesAndAnswersLowPointersWithZero) {
  struct Case {
    Arg s;
    int64_t max;  // < 0: strlen
    uint32_t expected;
  } cases[] = {
      {S("abc"), -1, 3},   {S(""), -1, 0},         {P(kNull), -1, 0}, {P(kLow), -1, 0},
      {P(kLowTop), -1, 0}, {S("abc"), 2, 2},       {S("abc"), 10, 3}, {S("abc"), 0, 0},
      {P(kLow), 5, 0},     {S("\xff\x01"), -1, 2},
  };
  Guest g;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.s.text ? c.s.text : "fixed pointer");
    uint32_t s = place(g, c.s);
    uint32_t got =
        c.max < 0 ? g.call("strlen", {s}) : g.call("strnlen", {s, static_cast<uint32_t>(c.max)});
    EXPECT_EQ(got, c.expected);
  }
}

TEST(StringLength, StrnlenWithZeroMaxReadsNothing) {
  Guest g;
  // An unmapped address: any read would fault the call.
  EXPECT_EQ(g.call("strnlen", {0x7000'0000u, 0}), 0u);
}

TEST(StringCompare, OrdersByUnsignedBytesWithGuards) {
  struct Case {
    const char* fn;
    Arg a, b;
    uint32_t n;
    int32_t expected;
  } cases[] = {
      {"strcmp", P(kNull), P(kNull), 0, 0},
      {"strcmp", P(kNull), S("a"), 0, -1},
      {"strcmp", S("a"), P(kNull), 0, 1},
      {"strcmp", P(kLow), S("a"), 0, -1},
      {"strcmp", S("a"), P(kLowTop), 0, 1},
      {"strcmp", P(kLow), P(kLow), 0, 0},
      {"strcmp", S("a"), S("ab"), 0, -98},
      {"strcmp", S("ab"), S("a"), 0, 98},
      {"strcmp", S("\xff"), S("a"), 0, 158},
      {"strcmp", S("abc"), S("abc"), 0, 0},
      {"strcmp", S(""), S(""), 0, 0},
      {"strncmp", S("abc"), S("abd"), 2, 0},
      {"strncmp", S("abc"), S("abd"), 3, -1},
      {"strncmp", P(kNull), S("x"), 0, 0},
      {"strncmp", P(kNull), S("x"), 1, -1},
      {"strncmp", S("x"), P(kLow), 1, 1},
      {"strncmp", S("ab"), S("ab"), 100, 0},
      {"strncmp", S("a"), S("a\xff"), 5, -255},
      {"strcasecmp", S("HeLLo"), S("hello"), 0, 0},
      {"strcasecmp", S("a"), S("B"), 0, -1},
      {"strcasecmp", S("["), S("A"), 0, -6},
      {"strcasecmp", S("\xc4"), S("\xe4"), 0, -32},  // bytes above 0x7F are not folded
      {"strcasecmp", P(kNull), P(kNull), 0, 0},
      {"strcasecmp", P(kNull), S("a"), 0, -1},
      {"strcasecmp", S("a"), P(kNull), 0, 1},
      {"strcasecmp", S("ab"), S("A"), 0, 98},
      {"strncasecmp", S("ABCx"), S("abcy"), 3, 0},
      {"strncasecmp", S("ABCx"), S("abcy"), 4, -1},
      {"strncasecmp", P(kNull), S("a"), 0, 0},
      {"strncasecmp", P(kNull), S("a"), 1, -1},
      {"strncasecmp", S("a"), P(kNull), 1, 1},
      {"memcmp", S("abc"), S("abd"), 3, -1},
      {"memcmp", S("abc"), S("abd"), 2, 0},
      {"memcmp", S("\xff"), S("\x01"), 1, 254},
      {"memcmp", P(kNull), P(kNull), 0, 0},
  };
  Guest g;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fn) + " " + (c.a.text ? c.a.text : "<ptr>") + " / " +
                 (c.b.text ? c.b.text : "<ptr>") + " n=" + std::to_string(c.n));
    uint32_t a = place(g, c.a), b = place(g, c.b);
    std::string fn = c.fn;
    int32_t got =
        (fn == "strcmp" || fn == "strcasecmp") ? g.calli(c.fn, {a, b}) : g.calli(c.fn, {a, b, c.n});
    EXPECT_EQ(got, c.expected);
  }
}

// Copying functions write into a 12-byte destination pre-filled with '#', so bytes they must
// not touch show up.
TEST(StringCopy, WritesExactlyTheExpectedBytes) {
  struct Case {
    const char* fn;
    const char* initial;  // destination's starting string (before the '#' fill)
    Arg src;
    uint32_t n;
    std::string after;  // all 12 bytes of the destination afterwards
  } cases[] = {
      {"strcpy", "", S("abc"), 0, std::string("abc\0########", 12)},
      {"strcpy", "xyz", P(kNull), 0, std::string("\0yz\0########", 12)},
      {"strncpy", "", S("ab"), 5, std::string("ab\0\0\0#######", 12)},
      {"strncpy", "", S("abcdef"), 3, std::string("abc#########", 12)},
      {"strncpy", "", P(kNull), 4, std::string("\0\0\0\0########", 12)},
      {"strncpy", "qq", S("abc"), 0, std::string("qq\0#########", 12)},
      {"strcat", "x", S("abc"), 0, std::string("xabc\0#######", 12)},
      {"strcat", "x", P(kNull), 0, std::string("x\0##########", 12)},
      {"strcat", "", S("ab"), 0, std::string("ab\0#########", 12)},
      {"strncat", "x", S("abc"), 2, std::string("xab\0########", 12)},
      {"strncat", "x", S("abc"), 9, std::string("xabc\0#######", 12)},
      {"strncat", "x", S("abc"), 0, std::string("x\0##########", 12)},
      {"strncat", "x", P(kNull), 3, std::string("x\0##########", 12)},
  };
  Guest g;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fn) + " onto \"" + c.initial + "\" n=" + std::to_string(c.n));
    uint32_t dst = g.alloc(12);
    std::string fill(12, '#');
    fill.replace(0, strlen(c.initial) + 1, std::string(c.initial) + '\0');
    g.write(dst, fill.data(), 12);
    uint32_t src = place(g, c.src);
    std::string fn = c.fn;
    uint32_t got = (fn == "strcpy" || fn == "strcat") ? g.call(c.fn, {dst, src})
                                                      : g.call(c.fn, {dst, src, c.n});
    EXPECT_EQ(got, dst);
    EXPECT_EQ(bytes(g, dst, 12), c.after);
  }
}

TEST(StringCopy, BadDestinationsGetNullAndNothingWritten) {
  struct Case {
    const char* fn;
    uint32_t dst;
    uint32_t n;
    uint32_t expected;
  } cases[] = {
      {"strcpy", kNull, 0, 0},
      {"strncpy", kNull, 3, 0},
      {"strcat", kNull, 0, 0},
      {"strncat", kNull, 3, 0},
      {"strcat", kLow, 0, 0},
      {"strncat", kLow, 3, 0},
      {"strcat", kLowTop, 0, 0},
      {"strncat", kLowTop, 3, 0},
      // n 0 hands the destination back untouched, whatever it is.
      {"strncpy", kLow, 0, kLow},
  };
  Guest g;
  uint32_t src = g.str("abc");
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fn) + " dst=" + std::to_string(c.dst));
    std::string fn = c.fn;
    // The first page is unmapped, so a write there would fault the call.
    uint32_t got = (fn == "strcpy" || fn == "strcat") ? g.call(c.fn, {c.dst, src})
                                                      : g.call(c.fn, {c.dst, src, c.n});
    EXPECT_EQ(got, c.expected);
  }
}

TEST(StringSearch, FindsBytesAndSubstrings) {
  struct Case {
    const char* fn;
    Arg s;
    Arg needle;      // strstr only
    uint32_t c;      // strchr/strrchr only
    int64_t offset;  // into s, or < 0 for null
  } cases[] = {
      {"strchr", S("abc"), {}, 'b', 1},        {"strchr", S("abc"), {}, 0, 3},
      {"strchr", S("abc"), {}, 256, 3},        {"strchr", S("abc"), {}, 0x162, 1},
      {"strchr", S("abc"), {}, 'z', -1},       {"strchr", S("a\xe9"), {}, 0xe9, 1},
      {"strchr", P(kNull), {}, 'a', -1},       {"strrchr", S("abca"), {}, 97, 3},
      {"strrchr", S("abca"), {}, 0, 4},        {"strrchr", S("abca"), {}, 'z', -1},
      {"strrchr", P(kNull), {}, 'a', -1},      {"strstr", S("abc"), S(""), 0, 0},
      {"strstr", S(""), S(""), 0, 0},          {"strstr", S("aab"), S("ab"), 0, 1},
      {"strstr", S("abcabd"), S("abd"), 0, 3}, {"strstr", S("ab"), S("abc"), 0, -1},
      {"strstr", S(""), S("a"), 0, -1},        {"strstr", P(kNull), S("a"), 0, -1},
      {"strstr", S("abc"), P(kNull), 0, -1},
  };
  Guest g;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fn) + " in " + (c.s.text ? c.s.text : "<null>"));
    uint32_t s = place(g, c.s);
    std::string fn = c.fn;
    uint32_t got = fn == "strstr" ? g.call(c.fn, {s, place(g, c.needle)}) : g.call(c.fn, {s, c.c});
    uint32_t expected = c.offset < 0 ? 0 : s + static_cast<uint32_t>(c.offset);
    EXPECT_EQ(got, expected);
  }
}

TEST(Memory, MoveHandlesOverlapBothWays) {
  struct Case {
    uint32_t from, to, k;
    const char* after;
  } cases[] = {
      {0, 2, 5, "ababcde"}, {2, 0, 5, "cdefgfg"}, {1, 1, 5, "abcdefg"},
      {0, 6, 0, "abcdefg"}, {6, 0, 1, "gbcdefg"},
  };
  Guest g;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.after);
    uint32_t buf = g.str("abcdefg");
    EXPECT_EQ(g.call("memmove", {buf + c.to, buf + c.from, c.k}), buf + c.to);
    EXPECT_EQ(g.read_str(buf), c.after);
  }
}

TEST(Memory, CompareRunsPastTerminators) {
  Guest g;
  uint32_t a = g.put("a\0b", 3), b = g.put("a\0c", 3);
  EXPECT_EQ(g.calli("memcmp", {a, b, 3}), -1);
  EXPECT_EQ(g.calli("memcmp", {a, b, 2}), 0);
}

TEST(Memory, CopyGoesForwardByteByByte) {
  Guest g;
  uint32_t buf = g.str("abcdefg");
  // Forward single-byte copying of an overlap smears the first bytes along.
  EXPECT_EQ(g.call("memcpy", {buf + 2, buf, 5}), buf + 2);
  EXPECT_EQ(g.read_str(buf), "abababa");
}

TEST(Memory, SetUsesTheLowByteOnly) {
  Guest g;
  uint32_t buf = g.str("#####");
  EXPECT_EQ(g.call("memset", {buf + 1, 0x141, 3}), buf + 1);
  EXPECT_EQ(g.read_str(buf), "#AAA#");
  EXPECT_EQ(g.call("memset", {0, 0, 0}), 0u);  // k 0 touches nothing
}

// Large sizes would recurse into themselves if the compiler had turned a loop into a call.
TEST(Memory, LargeCopiesAndFillsRunToTheEnd) {
  Guest g;
  constexpr uint32_t kSize = 256 * 1024;
  std::vector<uint8_t> pattern(kSize);
  for (uint32_t i = 0; i < kSize; ++i) pattern[i] = static_cast<uint8_t>(i * 7 + 3);
  uint32_t src = g.put(pattern.data(), kSize);
  uint32_t dst = g.alloc(kSize + 1);
  EXPECT_EQ(g.call("memcpy", {dst, src, kSize}), dst);
  EXPECT_EQ(g.read(dst, kSize), pattern);
  EXPECT_EQ(g.call("memmove", {dst + 1, dst, kSize}), dst + 1);
  EXPECT_EQ(g.read(dst + 1, kSize), pattern);
  EXPECT_EQ(g.call("memset", {dst, 0x5a, kSize}), dst);
  EXPECT_EQ(g.read(dst, kSize), std::vector<uint8_t>(kSize, 0x5a));
  EXPECT_EQ(g.call("memset", {dst + kSize, 0, 1}), dst + kSize);
  EXPECT_EQ(g.call("strlen", {dst}), kSize);
}

TEST(StringDuplicate, CopiesIntoBlocksOfExactlyTheNeededSize) {
  struct Case {
    const char* fn;
    Arg s;
    uint32_t n;
    const char* copy;  // nullptr: the result is null and nothing is allocated
    uint32_t recorded;
  } cases[] = {
      {"strdup", S("hello"), 0, "hello", 6},
      {"strdup", S(""), 0, "", 1},
      {"strdup", P(kLow), 0, "", 1},
      {"strdup", P(kNull), 0, nullptr, 0},
      {"strndup", S("hello"), 3, "hel", 4},
      {"strndup", S("hi"), 10, "hi", 3},
      {"strndup", S("hi"), 0xFFFFFFFF, "hi", 3},
      {"strndup", S("hi"), 0, "", 1},
      {"strndup", P(kLow), 5, "", 1},
      {"strndup", P(kNull), 5, nullptr, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fn) + " " + (c.s.text ? c.s.text : "<ptr>") +
                 " n=" + std::to_string(c.n));
    Guest g;
    uint32_t heap = g.sym("g_heap");
    uint32_t s = place(g, c.s);
    std::string fn = c.fn;
    uint32_t got = fn == "strdup" ? g.call(c.fn, {s}) : g.call(c.fn, {s, c.n});
    if (c.copy == nullptr) {
      EXPECT_EQ(got, 0u);
      EXPECT_EQ(g.u32(g.sym("g_heap_used")), 0u);
      continue;
    }
    EXPECT_EQ(got, heap + 4);
    EXPECT_EQ(g.read_str(got), c.copy);
    EXPECT_EQ(g.u32(got - 4), c.recorded);
  }
}

TEST(StringTokens, SplitsAtAnyDelimiterAndKeepsItsPlace) {
  Guest g;
  uint32_t text = g.str("  a,b,,c  ");
  uint32_t delim = g.str(" ,");
  EXPECT_EQ(g.call("strtok", {text, delim}), text + 2);
  EXPECT_EQ(g.call("strtok", {0, delim}), text + 4);
  EXPECT_EQ(g.call("strtok", {0, delim}), text + 7);
  EXPECT_EQ(g.call("strtok", {0, delim}), 0u);
  EXPECT_EQ(g.call("strtok", {0, delim}), 0u);
  EXPECT_EQ(bytes(g, text, 11), std::string("  a\0b\0,c\0 \0", 11));
}

TEST(StringTokens, EmptyAndMissingDelimiterSets) {
  struct Case {
    const char* text;
    Arg delim;
    int64_t first;  // offset of the first token, < 0 for null
  } cases[] = {
      {",,,", S(","), -1}, {"", S(","), -1},      {"abc", P(kNull), 0},
      {"abc", S(""), 0},   {" a b", P(kNull), 0}, {"", P(kNull), -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Guest g;
    uint32_t text = g.str(c.text);
    uint32_t delim = place(g, c.delim);
    EXPECT_EQ(g.call("strtok", {text, delim}),
              c.first < 0 ? 0u : text + static_cast<uint32_t>(c.first));
    // Either the whole rest was one token or nothing was found: the next call ends.
    EXPECT_EQ(g.call("strtok", {0, delim}), 0u);
    EXPECT_EQ(g.read_str(text), c.text);
  }
}

TEST(ErrorMessages, KnownNumbersHaveTheirTextOthersSayError) {
  struct Case {
    int32_t number;
    const char* message;
  } cases[] = {
      {0, "ok"},
      {2, "no such file"},
      {22, "invalid argument"},
      {38, "not implemented"},
      {12, "error"},
      {1, "error"},
      {-2, "error"},
      {-22, "error"},
      {INT32_MIN, "error"},
      {1000, "error"},
  };
  Guest g;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number);
    uint32_t got = g.call("strerror", {static_cast<uint32_t>(c.number)});
    ASSERT_NE(got, 0u);
    EXPECT_EQ(g.read_str(got), c.message);
  }
  EXPECT_EQ(g.u32(g.sym("errno")), 0u);
}

}  // namespace
