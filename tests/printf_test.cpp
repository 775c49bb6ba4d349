// The stream formatter, run as i386 code: what it appends and in which pieces (on the console
// each piece is one kernel write), its own syntax, 64-bit arguments, the console escape, and
// how it stops at the first append a stream refuses.
#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "tests/harness/guest.h"

namespace {

using nuv::test::Guest;
using Pieces = std::vector<std::string>;

using Arg = std::variant<int, const char*>;  // a number, or a text placed in guest memory

int32_t guest_fprintf(Guest& g, uint32_t stream, const std::string& format,
                      const std::vector<Arg>& args) {
  uint32_t s[8] = {};  // extra slots are harmless to a variadic callee
  for (size_t i = 0; i < args.size(); i++) {
    const int* number = std::get_if<int>(&args[i]);
    s[i] = number ? static_cast<uint32_t>(*number) : g.str(std::get<const char*>(args[i]));
  }
  return g.calli("fprintf",
                 {stream, g.str(format), s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7]});
}

uint32_t console(Guest& g, const char* which = "stdout") { return g.u32(g.sym(which)); }

struct MemStream {
  uint32_t vars, stream;  // vars: where the buffer address and then the size are reported
};

MemStream open_memstream(Guest& g) {
  const uint32_t vars = g.alloc(8);
  return {vars, g.call("open_memstream", {vars, vars + 4})};
}

std::string contents(Guest& g, const MemStream& m) {
  const uint32_t buffer = g.u32(m.vars);
  return buffer ? g.read_bytes(buffer, g.u32(m.vars + 4)) : "";
}

// Every console write as the kernel receives it; the refuse_at-th one (from 1) fails.
struct ConsoleWrites {
  Pieces pieces;
  size_t refuse_at = 0;
};

void watch_console(Guest& g, ConsoleWrites& w) {
  g.kernel().script(SVC_write, [&g, &w](nuv::ServiceCall& c) -> std::optional<int32_t> {
    EXPECT_EQ(c.slots[0], 1u);
    w.pieces.push_back(g.read_bytes(c.slots[1], c.slots[2]));
    if (w.pieces.size() == w.refuse_at) return -1;
    return std::nullopt;
  });
}

struct Case {
  const char* format;
  std::vector<Arg> args;
  Pieces appends;  // one entry per append, in order
  int32_t result = 0;
};

const std::string kNul(1, '\0');

const Case kCases[] = {
    {"[%5d]", {42}, {"[", " ", " ", " ", "42", "]"}, 7},
    {"[%05d]", {42}, {"[", " ", " ", " ", "42", "]"}, 7},
    {"[%-5d]", {42}, {"[", "%", "-", "5", "d", "]"}, 6},
    {"%+d%X%zu", {42, 255, 5}, {"%", "+", "d", "%", "X", "%", "z", "u"}, 8},
    {"% d%#x%hd%o", {}, {"%", " ", "d", "%", "#", "x", "%", "h", "d", "%", "o"}, 11},
    {"%5X%*X%d", {7, 9}, {"%", "X", "%", "X", "9"}, 5},
    {"%x", {-1}, {"ffffffff"}, 8},
    {"%d", {INT_MIN}, {"-", "2147483648"}, 11},
    {"%i%u", {-7, -1}, {"-", "7", "4294967295"}, 12},
    {"%.12d", {INT_MIN}, {"-", "0", "0", "2147483648"}, 13},
    {"[%8.3d]", {-5}, {"[", " ", " ", " ", " ", "-", "0", "0", "5", "]"}, 10},
    {"%.0d", {0}, {"0"}, 1},
    {"%.*d|%*.*d", {-3, 42, 6, 4, 42}, {"42", "|", " ", " ", "0", "0", "42"}, 9},
    {"[%*d]", {-6, 42}, {"[", "42", "]"}, 4},
    {"%lld", {0, INT_MIN}, {"-", "9223372036854775808"}, 20},
    {"%llu", {-1, -1}, {"18446744073709551615"}, 20},
    {"%llx", {-1, -1}, {"ffffffffffffffff"}, 16},
    {"%lli %lld %llu", {-1, -1, -1, 0, 0, 1}, {"-", "1", " ", "4294967295", " ", "4294967296"}, 24},
    {"%lld %d", {5, 0, 9}, {"5", " ", "9"}, 3},
    {"%ld", {5}, {"5"}, 1},
    {"%p", {0}, {"0", "x", "0"}, 3},
    {"[%5p]", {0x12}, {"[", " ", "0", "x", "12", "]"}, 7},
    {"[%12.8p]", {0x12}, {"[", " ", " ", "0", "x", "0", "0", "0", "0", "0", "0", "12", "]"}, 14},
    {"%llp", {0x12, 1}, {"0", "x", "100000012"}, 11},
    {"[%10s]", {0}, {"[", " ", " ", " ", " ", "(null)", "]"}, 12},
    {"%.3s", {0}, {"(nu"}, 3},
    {"[%*s]", {-5, "ab"}, {"[", "ab", "]"}, 4},
    {"[%3s|%.0s|%3.1s]", {"abcd", "x", "abc"}, {"[", "abcd", "|", "", "|", " ", " ", "a", "]"}, 11},
    {"[%5c]", {65}, {"[", "A", "]"}, 3},
    {"[%c%c]", {0, 0x141}, {"[", kNul, "A", "]"}, 4},
    {"%5%", {}, {"%"}, 1},
    {"%q%d", {1, 2}, {"%", "q", "1"}, 3},
    {"x%c", {65}, {"x", "A"}, 2},
    {"abc%", {}, {"a", "b", "c"}, 3},
    {"ab%5", {}, {"a", "b"}, 2},
    {"a%l", {}, {"a"}, 1},
    {"a%ll", {}, {"a"}, 1},
    {"a%.*", {3}, {"a"}, 1},
    {"", {}, {}, 0},
};

TEST(StreamFormatting, MemoryStreamGetsTheTextAndConsoleOneWritePerAppend) {
  Guest g;
  ConsoleWrites w;
  watch_console(g, w);
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string("format \"") + c.format + "\"");
    std::string text;
    Pieces writes;  // an empty append makes no kernel call
    for (const std::string& piece : c.appends) {
      text += piece;
      if (!piece.empty()) writes.push_back(piece);
    }
    MemStream m = open_memstream(g);
    EXPECT_EQ(guest_fprintf(g, m.stream, c.format, c.args), c.result);
    EXPECT_EQ(contents(g, m), text);
    g.call("fclose", {m.stream});
    w.pieces.clear();
    EXPECT_EQ(guest_fprintf(g, console(g), c.format, c.args), c.result);
    EXPECT_EQ(w.pieces, writes);
  }
}

TEST(StreamFormatting, FrontEndsNullArgumentsAndTheConsoleEscape) {
  Guest g;
  ConsoleWrites w;
  watch_console(g, w);
  MemStream m = open_memstream(g);
  const uint32_t slots[] = {5, 0, 4, 9};
  EXPECT_EQ(g.calli("vfprintf", {m.stream, g.str("%lld|%*d"), g.put(slots, sizeof slots)}), 6);
  // printf writes to whatever stdout points at when it is called.
  const uint32_t stdout_var = g.sym("stdout"), saved = g.u32(stdout_var);
  g.set_u32(stdout_var, m.stream);
  EXPECT_EQ(g.calli("printf", {g.str("v=%d"), 5}), 3);
  g.set_u32(stdout_var, saved);
  EXPECT_EQ(g.calli("printf", {g.str("w=%d"), 6}), 3);
  EXPECT_EQ(g.calli("fprintf", {0, g.str("abc")}), -1);
  EXPECT_EQ(g.calli("fprintf", {m.stream, 0}), -1);
  EXPECT_EQ(g.calli("printf", {0}), -1);
  // A leading "%c" on descriptor 1 takes three arguments and sends them as one escape; on any
  // other stream it is an ordinary character.
  EXPECT_EQ(guest_fprintf(g, console(g), "%c%d", {0x141, 0x2FF, -1, 42}), 2);
  EXPECT_EQ(guest_fprintf(g, console(g, "stderr"), "%c", {4, 5, 6}), 0);
  EXPECT_EQ(guest_fprintf(g, m.stream, "%cHi", {65, 66, 67}), 3);
  EXPECT_EQ(contents(g, m), "5|   9v=5AHi");
  EXPECT_EQ(w.pieces, (Pieces{"w", "=", "6",
                              "\xFF"
                              "A\xFF\xFF",
                              "42", "\xFF\x04\x05\x06"}));
}

// The n-th append is refused: the ones before it stay, nothing after it is tried, and the call
// answers -1. Widths and precisions past the largest int saturate instead of wrapping to a
// small or negative number: the padding goes on until the console refuses.
TEST(StreamFormatting, StopsAtTheFirstRefusedAppend) {
  const Case cases[] = {
      {"ab%3dc", {7}, {"a", "b", " ", " ", "7", "c"}},
      {"%-5s|%5.3s", {"xy"}, {"%", "-", "5", "s", "|", " ", " ", " ", "xy"}},
      {"%.3p%lld", {0x1f, -2, -1}, {"0", "x", "0", "1f", "-", "2"}},
      {"%q%%", {}, {"%", "q", "%"}},
      {"%cHi", {1, 2, 3}, {"\xFF\x01\x02\x03", "H", "i"}},
      {"%4294967298d", {5}, {" ", " ", " ", " "}},
      {"%99999999999999999999d", {5}, {" ", " ", " ", " "}},
      {"%.4294967298d", {5}, {"0", "0", "0", "0"}},
      {"%4294967298s", {"ab"}, {" ", " ", " ", " "}},
  };
  Guest g;
  ConsoleWrites w;
  watch_console(g, w);
  for (const Case& c : cases) {
    for (size_t n = 1; n <= c.appends.size(); n++) {
      SCOPED_TRACE(std::string("format \"") + c.format + "\" refusing write " + std::to_string(n));
      w = ConsoleWrites{{}, n};
      EXPECT_EQ(guest_fprintf(g, console(g), c.format, c.args), -1);
      EXPECT_EQ(w.pieces, Pieces(c.appends.begin(), c.appends.begin() + n));
    }
  }
}

}  // namespace
