// String and memory functions on the real i386 code: results, pointer guards and what they
// write (and don't write) around the destination.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tests/harness/guest.h"

namespace {

using namespace std::literals;
using nuv::test::Guest;

constexpr uint32_t kNull = 0, kLow = 16, kLowTop = 4095;  // the first page is never read

// An argument: text placed in guest memory with a terminator, or a plain number.
struct Arg {
  Arg() = default;
  Arg(const char* t) : text(t) {}
  Arg(std::string_view t) : text(t) {}
  Arg(int v) : value(static_cast<uint32_t>(v)) {}
  Arg(uint32_t v) : value(v) {}
  std::string_view text;
  uint32_t value = 0;
};

uint32_t place(Guest& g, const Arg& a) { return a.text.data() ? g.str(a.text) : a.value; }

// Numbers, or for the search functions offsets into the first argument (-1: null). Bytes
// compare unsigned and fold only A to Z. A read or write of the first page would fault the
// call, and so would reading the unmapped 0x70000000 that strnlen gets with max 0. Slots a
// function doesn't take are ignored.
TEST(StringFunctions, AnswerByUnsignedBytesWithGuardsForNullAndLowPointers) {
  struct Case {
    const char* fn;
    int32_t want;
    Arg a, b, n;
  } cases[] = {
      // clang-format off
      {"strlen", 3, "abc"}, {"strlen", 0, kLowTop}, {"memset", 0, kNull, 0, 0},
      {"strnlen", 2, "abc", 2}, {"strnlen", 3, "abc", 10}, {"strnlen", 0, kLowTop, 5},
      {"strnlen", 0, 0x7000'0000u, 0}, {"strcmp", 0, kNull, kNull}, {"strcmp", -1, kNull, "a"},
      {"strcmp", 1, "a", kLowTop}, {"strcmp", -98, "a", "ab"}, {"strcmp", 158, "\xff", "a"},
      {"strcmp", 0, "abc", "abc"}, {"strncmp", 0, kNull, "x", 0}, {"strncmp", 1, "x", kLow, 1},
      {"strncmp", 0, "abc", "abd", 2}, {"strncmp", -1, "abc", "abd", 3},
      {"strncmp", -255, "a", "a\xff", 5}, {"strcasecmp", 0, "HeLLo", "hello"},
      {"strcasecmp", -1, "a", "B"}, {"strcasecmp", -6, "[", "A"},
      {"strcasecmp", -32, "\xc4", "\xe4"}, {"strcasecmp", 0, kNull, kNull},
      {"strcasecmp", 1, "a", kNull}, {"strncasecmp", 0, kNull, "a", 0},
      {"strncasecmp", 1, "a", kNull, 1}, {"strncasecmp", 0, "ABCx", "abcy", 3},
      {"strncasecmp", 0, "Abc", "aBC", 100}, {"strncasecmp", -99, "ab", "ABC", 100},
      {"memcmp", -1, "a\0b"sv, "a\0c"sv, 3}, {"memcmp", 254, "\xff", "\x01", 1},
      {"memcmp", 0, kNull, kNull, 0}, {"strcpy", 0, kNull, "abc"}, {"strcat", 0, kNull, "abc"},
      {"strncpy", 0, kNull, "abc", 3}, {"strcat", 0, kLow, "abc"}, {"strcat", 0, kLowTop, "abc"},
      {"strncpy", kLow, kLow, "abc", 0}, {"strncat", 0, kNull, "abc", 3},
      {"strncat", 0, kLow, "abc", 3}, {"strncat", 0, kLowTop, "abc", 3}, {"strchr", 3, "abc", 0},
      {"strchr", 3, "abc", 256}, {"strchr", 1, "abc", 0x162}, {"strchr", -1, "abc", 'z'},
      {"strchr", 1, "a\xe9", 0xe9}, {"strchr", -1, kNull, 'a'}, {"strrchr", 3, "abca", 97},
      {"strrchr", 4, "abca", 0}, {"strrchr", -1, "abca", 'z'}, {"strrchr", -1, kNull, 'a'},
      {"strstr", 0, "abc", ""}, {"strstr", 1, "aab", "ab"}, {"strstr", -1, "ab", "abc"},
      {"strstr", -1, kNull, "a"}, {"strstr", -1, "abc", kNull},
      // clang-format on
  };
  Guest g;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.fn << ", case " << &c - cases);
    uint32_t a = place(g, c.a), got = g.call(c.fn, {a, place(g, c.b), place(g, c.n)});
    bool at = c.fn == "strchr"sv || c.fn == "strrchr"sv || c.fn == "strstr"sv;
    EXPECT_EQ(got, !at ? uint32_t(c.want) : c.want < 0 ? 0 : a + c.want);
  }
}

// Copying functions write into a 10-byte destination pre-filled with '#', so bytes they must
// not touch show up.
TEST(StringCopy, WritesExactlyTheExpectedBytes) {
  struct Case {
    const char* fn;
    std::string_view initial;  // the destination's string before the '#' fill
    Arg src;
    uint32_t n;
    std::string_view after;  // all 10 bytes of the destination afterwards
  } cases[] = {
      // clang-format off
      {"strcpy", "", "abc", 0, "abc\0######"sv}, {"strcpy", "xyz", kNull, 0, "\0yz\0######"sv},
      {"strncpy", "", "ab", 5, "ab\0\0\0#####"sv}, {"strncpy", "", "abcdef", 3, "abc#######"sv},
      {"strncpy", "", kNull, 4, "\0\0\0\0######"sv}, {"strncpy", "qq", "abc", 0, "qq\0#######"sv},
      {"strcat", "x", "abc", 0, "xabc\0#####"sv}, {"strcat", "x", kNull, 0, "x\0########"sv},
      {"strncat", "x", "abc", 2, "xab\0######"sv}, {"strncat", "x", "abc", 9, "xabc\0#####"sv},
      {"strncat", "x", "abc", 0, "x\0########"sv},
      // clang-format on
  };
  Guest g;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.fn << ", case " << &c - cases);
    std::string fill = std::string(c.initial) + '\0' + std::string(9 - c.initial.size(), '#');
    uint32_t dst = g.put(fill.data(), 10);
    EXPECT_EQ(g.call(c.fn, {dst, place(g, c.src), c.n}), dst);
    EXPECT_EQ(g.read_bytes(dst, 10), c.after);
  }
}

TEST(Memory, MoveCopyAndSetOnAbcdefg) {
  struct Case {
    const char* fn;
    uint32_t to, arg, k;  // arg: the source offset, or memset's value (only its low byte counts)
    const char* after;
  } cases[] = {
      // clang-format off
      {"memmove", 2, 0, 5, "ababcde"}, {"memmove", 0, 2, 5, "cdefgfg"},
      {"memmove", 0, 6, 1, "gbcdefg"}, {"memcpy", 2, 0, 5, "abababa"},
      {"memset", 1, 0x141, 3, "aAAAefg"},
      // clang-format on
  };
  Guest g;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fn + " "s + c.after);
    uint32_t buf = g.str("abcdefg"), arg = c.fn == "memset"sv ? c.arg : buf + c.arg;
    EXPECT_EQ(g.call(c.fn, {buf + c.to, arg, c.k}), buf + c.to);
    EXPECT_EQ(g.read_str(buf), c.after);  // memcpy copies forward, byte by byte
  }
}

// Each copy gets a block of exactly its length plus the terminator, the first in the arena.
TEST(StringDuplicate, CopiesIntoBlocksOfExactlyTheNeededSize) {
  struct Case {
    const char* fn;
    Arg s;
    uint32_t n;
    const char* copy;  // nullptr: the result is null and nothing is allocated
  } cases[] = {
      // clang-format off
      {"strdup", "hello", 0, "hello"}, {"strdup", "", 0, ""}, {"strdup", kLow, 0, ""},
      {"strdup", kNull, 0, nullptr}, {"strndup", "hello", 3, "hel"}, {"strndup", "hi", 10, "hi"},
      {"strndup", "hi", 0xFFFFFFFF, "hi"}, {"strndup", "hi", 0, ""}, {"strndup", kLow, 5, ""},
      {"strndup", kNull, 5, nullptr},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.fn << ", case " << &c - cases);
    Guest g;
    uint32_t got = g.call(c.fn, {place(g, c.s), c.n});
    size_t size = c.copy ? strlen(c.copy) + 1 : 0;
    EXPECT_EQ(got, c.copy ? g.sym("g_heap") + 4 : 0);
    EXPECT_EQ(g.u32(g.sym("g_heap_used")), c.copy ? (size + 4 + 7) / 8 * 8 : 0);
    if (!c.copy) continue;
    EXPECT_EQ(g.read_str(got), c.copy);
    EXPECT_EQ(g.u32(got - 4), size);
  }
}

TEST(StringTokens, SplitAtAnyDelimiterAndKeepTheirPlace) {
  struct Case {
    std::string_view text;
    Arg delim;
    std::vector<uint32_t> tokens;  // offsets of the tokens found
    std::string_view after;        // the text afterwards
  } cases[] = {{"  a,b,,c  ", " ,", {2, 4, 7}, "  a\0b\0,c\0 \0"sv},
               {",,,", ",", {}, ",,,"},
               {"abc", "", {0}, "abc"},
               {" a b", kNull, {0}, " a b"},
               {"", kNull, {}, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Guest g;
    uint32_t text = g.str(c.text), delim = place(g, c.delim);
    for (size_t i = 0; i < c.tokens.size(); ++i) {
      EXPECT_EQ(g.call("strtok", {i == 0 ? text : 0, delim}), text + c.tokens[i]);
    }
    // The end is reported (at once when nothing was found), and again on a later call.
    EXPECT_EQ(g.call("strtok", {c.tokens.empty() ? text : 0, delim}), 0u);
    EXPECT_EQ(g.call("strtok", {0, delim}), 0u);
    EXPECT_EQ(g.read_bytes(text, static_cast<uint32_t>(c.after.size())), c.after);
  }
}

TEST(ErrorMessages, KnownNumbersHaveTheirTextOthersSayError) {
  struct Case {
    int32_t number;
    const char* message;
  } cases[] = {
      // clang-format off
      {0, "ok"}, {2, "no such file"}, {22, "invalid argument"}, {38, "not implemented"},
      {12, "error"}, {1, "error"}, {-2, "error"}, {INT32_MIN, "error"},
      // clang-format on
  };
  Guest g;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number);
    EXPECT_EQ(g.read_str(g.call("strerror", {static_cast<uint32_t>(c.number)})), c.message);
  }
  EXPECT_EQ(g.u32(g.sym("errno")), 0u);
}

}  // namespace
