// The stream formatter, run as i386 code: what it appends and in which pieces (on the console
// each piece is one kernel write), its own syntax, 64-bit arguments, the console escape, and
// how it stops at the first append a stream refuses.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "tests/harness/guest.h"

namespace {

using nuv::test::Guest;

constexpr uint32_t kMaxSlots = 8;

// One argument slot: a number, or a text placed in guest memory whose address is the slot.
struct Arg {
  Arg(int v) : value(static_cast<uint32_t>(v)) {}
  Arg(unsigned v) : value(v) {}
  Arg(const char* t) : text(t) {}
  uint32_t value = 0;
  const char* text = nullptr;
};

std::array<uint32_t, kMaxSlots> slots_of(Guest& g, const std::vector<Arg>& args) {
  std::array<uint32_t, kMaxSlots> slots{};
  EXPECT_LE(args.size(), kMaxSlots);
  for (size_t i = 0; i < args.size() && i < kMaxSlots; i++) {
    slots[i] = args[i].text != nullptr ? g.str(args[i].text) : args[i].value;
  }
  return slots;
}

// Extra slots are harmless: a variadic callee takes only what its format asks for.
int32_t guest_fprintf(Guest& g, uint32_t stream, const std::string& format,
                      const std::vector<Arg>& args) {
  auto s = slots_of(g, args);
  return g.calli("fprintf",
                 {stream, g.str(format), s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7]});
}

std::string bytes_of(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

struct MemStream {
  uint32_t stream;
  uint32_t buffer_var;
  uint32_t size_var;
};

MemStream open_memstream(Guest& g) {
  MemStream m{0, g.alloc(4), g.alloc(4)};
  m.stream = g.call("open_memstream", {m.buffer_var, m.size_var});
  EXPECT_NE(m.stream, 0u);
  return m;
}

std::string contents(Guest& g, const MemStream& m) {
  uint32_t buffer = g.u32(m.buffer_var);
  if (buffer == 0) return "";
  return bytes_of(g.read(buffer, g.u32(m.size_var)));
}

// Records the bytes of every console write as the kernel receives it, and can refuse the
// n-th write (counting from 1) the way a failing kernel would.
struct ConsoleWrites {
  std::vector<std::string> pieces;
  int refuse_at = 0;
};

void watch_console(Guest& g, ConsoleWrites& w) {
  g.kernel().script(SVC_write, [&g, &w](nuv::ServiceCall& c) -> std::optional<int32_t> {
    w.pieces.push_back(bytes_of(g.read(c.slots[1], c.slots[2])));
    if (static_cast<int>(w.pieces.size()) == w.refuse_at) return -1;
    return std::nullopt;
  });
}

size_t console_write_calls(Guest& g) {
  size_t n = 0;
  for (const nuv::ServiceCall& c : g.kernel().calls()) {
    if (c.number == SVC_write) {
      EXPECT_EQ(c.slots[0], 1u);
      n++;
    }
  }
  return n;
}

std::string joined(const std::vector<std::string>& pieces) {
  std::string all;
  for (const std::string& p : pieces) all += p;
  return all;
}

std::string escape(uint8_t a, uint8_t b, uint8_t c) {
  return std::string{static_cast<char>(0xFF), static_cast<char>(a), static_cast<char>(b),
                     static_cast<char>(c)};
}

struct Case {
  const char* format;
  std::vector<Arg> args;
  std::vector<std::string> appends;  // one entry per append, in order
  int32_t result;
};

const std::string kNul(1, '\0');

const Case kCases[] = {
    {"[%5d]", {42}, {"[", " ", " ", " ", "42", "]"}, 7},
    {"[%05d]", {42}, {"[", " ", " ", " ", "42", "]"}, 7},
    {"[%-5d]", {42}, {"[", "%", "-", "5", "d", "]"}, 6},
    {"%+d", {42}, {"%", "+", "d"}, 3},
    {"% d", {42}, {"%", " ", "d"}, 3},
    {"%#x", {42}, {"%", "#", "x"}, 3},
    {"%X", {255}, {"%", "X"}, 2},
    {"%zu", {5}, {"%", "z", "u"}, 3},
    {"%hd", {5}, {"%", "h", "d"}, 3},
    {"%o%d", {8}, {"%", "o", "8"}, 3},
    {"%5X%d", {7}, {"%", "X", "7"}, 3},
    {"%*X%d", {7, 9}, {"%", "X", "9"}, 3},
    {"%x", {-1}, {"ffffffff"}, 8},
    {"%d", {INT_MIN}, {"-", "2147483648"}, 11},
    {"%i", {-7}, {"-", "7"}, 2},
    {"%u", {-1}, {"4294967295"}, 10},
    {"%.12d", {INT_MIN}, {"-", "0", "0", "2147483648"}, 13},
    {"[%8.3d]", {-5}, {"[", " ", " ", " ", " ", "-", "0", "0", "5", "]"}, 10},
    {"%.0d", {0}, {"0"}, 1},
    {"%.*d", {-3, 42}, {"42"}, 2},
    {"%*.*d", {6, 4, 42}, {" ", " ", "0", "0", "42"}, 6},
    {"[%*d]", {-6, 42}, {"[", "42", "]"}, 4},
    {"%lld", {0, INT_MIN}, {"-", "9223372036854775808"}, 20},
    {"%llu", {-1, -1}, {"18446744073709551615"}, 20},
    {"%llx", {-1, -1}, {"ffffffffffffffff"}, 16},
    {"%lli", {-1, -1}, {"-", "1"}, 2},
    {"%lld", {-1, 0}, {"4294967295"}, 10},
    {"%llu", {0, 1}, {"4294967296"}, 10},
    {"%lld %d", {5, 0, 9}, {"5", " ", "9"}, 3},
    {"%ld", {5}, {"5"}, 1},
    {"%p", {0}, {"0", "x", "0"}, 3},
    {"[%5p]", {0x12}, {"[", " ", "0", "x", "12", "]"}, 7},
    {"[%12.8p]", {0x12}, {"[", " ", " ", "0", "x", "0", "0", "0", "0", "0", "0", "12", "]"}, 14},
    {"%llp", {0x12, 1}, {"0", "x", "100000012"}, 11},
    {"[%10s]", {0}, {"[", " ", " ", " ", " ", "(null)", "]"}, 12},
    {"%.3s", {0}, {"(nu"}, 3},
    {"[%*s]", {-5, "ab"}, {"[", "ab", "]"}, 4},
    {"[%3s]", {"abcd"}, {"[", "abcd", "]"}, 6},
    {"[%.0s]", {"abc"}, {"[", "]"}, 2},
    {"[%3.1s]", {"abc"}, {"[", " ", " ", "a", "]"}, 5},
    {"[%5c]", {65}, {"[", "A", "]"}, 3},
    {"[%c]", {0}, {"[", kNul, "]"}, 3},
    {"[%c]", {0x141}, {"[", "A", "]"}, 3},
    {"%5%", {}, {"%"}, 1},
    {"%%%d", {4}, {"%", "4"}, 2},
    {"%q%d", {1, 2}, {"%", "q", "1"}, 3},
    {"abc%", {}, {"a", "b", "c"}, 3},
    {"ab%5", {}, {"a", "b"}, 2},
    {"a%.", {}, {"a"}, 1},
    {"a%*", {3}, {"a"}, 1},
    {"a%l", {}, {"a"}, 1},
    {"a%ll", {}, {"a"}, 1},
    {"a%.*", {3}, {"a"}, 1},
    {"", {}, {}, 0},
};

TEST(StreamFormatting, MemoryStreamReceivesTheTextAndTheCount) {
  Guest g;
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string("format \"") + c.format + "\"");
    MemStream m = open_memstream(g);
    EXPECT_EQ(guest_fprintf(g, m.stream, c.format, c.args), c.result);
    EXPECT_EQ(contents(g, m), joined(c.appends));
    g.call("fclose", {m.stream});
  }
}

TEST(StreamFormatting, ConsoleReceivesOneKernelWritePerAppend) {
  Guest g;
  ConsoleWrites w;
  watch_console(g, w);
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string("format \"") + c.format + "\"");
    w.pieces.clear();
    g.kernel().clear_calls();
    g.clear_console();
    EXPECT_EQ(guest_fprintf(g, g.u32(g.sym("stdout")), c.format, c.args), c.result);
    // An empty append makes no kernel call at all.
    std::vector<std::string> expected;
    for (const std::string& piece : c.appends) {
      if (!piece.empty()) expected.push_back(piece);
    }
    EXPECT_EQ(w.pieces, expected);
    EXPECT_EQ(console_write_calls(g), expected.size());
    EXPECT_EQ(g.console(), joined(c.appends));
  }
}

TEST(StreamFormatting, ArgumentListFrontEndTakesTheSameSlots) {
  Guest g;
  MemStream m = open_memstream(g);
  const uint32_t slots[] = {5, 0, 4, 9, 3};
  EXPECT_EQ(g.calli("vfprintf", {m.stream, g.str("%lld|%*d"), g.put(slots, sizeof slots)}), 6);
  EXPECT_EQ(contents(g, m), "5|   9");
}

TEST(StreamFormatting, PrintfWritesToWhateverStdoutPointsAt) {
  Guest g;
  uint32_t stdout_var = g.sym("stdout");
  uint32_t console = g.u32(stdout_var);
  MemStream m = open_memstream(g);

  g.set_u32(stdout_var, m.stream);
  EXPECT_EQ(g.calli("printf", {g.str("v=%d"), 5}), 3);
  EXPECT_EQ(contents(g, m), "v=5");
  EXPECT_EQ(g.console(), "");

  g.set_u32(stdout_var, console);
  EXPECT_EQ(g.calli("printf", {g.str("w=%d"), 6}), 3);
  EXPECT_EQ(g.console(), "w=6");
  EXPECT_EQ(contents(g, m), "v=5");
}

TEST(StreamFormatting, NullStreamOrFormatAppendsNothing) {
  Guest g;
  MemStream m = open_memstream(g);
  EXPECT_EQ(g.calli("fprintf", {0, g.str("abc")}), -1);
  EXPECT_EQ(g.calli("fprintf", {m.stream, 0}), -1);
  EXPECT_EQ(g.calli("vfprintf", {m.stream, 0, 0}), -1);
  EXPECT_EQ(g.calli("printf", {0}), -1);
  EXPECT_EQ(contents(g, m), "");
  EXPECT_EQ(console_write_calls(g), 0u);
}

TEST(ConsoleEscape, LeadingPercentCOnDescriptorOneSendsFourBytesInOneWrite) {
  struct Escape {
    const char* stream_var;  // global pointer naming the stream
    const char* format;
    std::vector<Arg> args;
    std::vector<std::string> writes;
    int32_t result;
  };
  const Escape cases[] = {
      {"stdout", "%cHi", {1, 2, 3}, {escape(1, 2, 3), "H", "i"}, 2},
      {"stdout", "%c", {0x141, 0x2FF, -1}, {escape(0x41, 0xFF, 0xFF)}, 0},
      {"stdout", "%c%d", {7, 8, 9, 42}, {escape(7, 8, 9), "42"}, 2},
      {"stderr", "%cZ", {4, 5, 6}, {escape(4, 5, 6), "Z"}, 1},
      // Only at the very start: elsewhere "%c" is one character.
      {"stdout", "x%c", {65}, {"x", "A"}, 2},
      {"stdout", " %cHi", {65}, {" ", "A", "H", "i"}, 4},
  };
  for (const Escape& c : cases) {
    SCOPED_TRACE(std::string(c.stream_var) + " \"" + c.format + "\"");
    Guest g;
    ConsoleWrites w;
    watch_console(g, w);
    EXPECT_EQ(guest_fprintf(g, g.u32(g.sym(c.stream_var)), c.format, c.args), c.result);
    EXPECT_EQ(w.pieces, c.writes);
  }
}

TEST(ConsoleEscape, OtherStreamsTakeALeadingPercentCAsACharacter) {
  Guest g;
  MemStream m = open_memstream(g);
  EXPECT_EQ(guest_fprintf(g, m.stream, "%cHi", {65, 66, 67}), 3);
  EXPECT_EQ(contents(g, m), "AHi");

  // A descriptor stream on another descriptor gets no escape: the character append is
  // simply refused, as every write to it is.
  const int32_t record[11] = {1, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  uint32_t other = g.put(record, sizeof record);
  EXPECT_EQ(guest_fprintf(g, other, "%cHi", {65, 66, 67}), -1);
  EXPECT_EQ(console_write_calls(g), 0u);
}

TEST(ConsoleEscape, RefusedEscapeFailsAtOnce) {
  Guest g;
  ConsoleWrites w;
  w.refuse_at = 1;
  watch_console(g, w);
  EXPECT_EQ(guest_fprintf(g, g.u32(g.sym("stdout")), "%cHi", {1, 2, 3}), -1);
  EXPECT_EQ(w.pieces, std::vector<std::string>{escape(1, 2, 3)});
  EXPECT_EQ(g.console(), "");
}

// The n-th append is refused: everything before it stays on the console, nothing after it is
// attempted, and the call answers -1.
TEST(StreamFormatting, StopsAtTheFirstRefusedAppend) {
  struct Refusal {
    const char* format;
    std::vector<Arg> args;
    std::vector<std::string> appends;
  };
  const Refusal cases[] = {
      {"ab%3dc", {7}, {"a", "b", " ", " ", "7", "c"}},
      {"%-5s|%5.3s", {"xy"}, {"%", "-", "5", "s", "|", " ", " ", " ", "xy"}},
      {"%.3p%lld", {0x1f, -2, -1}, {"0", "x", "0", "1f", "-", "2"}},
      {"%q%%", {}, {"%", "q", "%"}},
  };
  for (const Refusal& c : cases) {
    for (int n = 1; n <= static_cast<int>(c.appends.size()) + 1; n++) {
      SCOPED_TRACE(std::string("format \"") + c.format + "\" refusing append " + std::to_string(n));
      Guest g;
      ConsoleWrites w;
      w.refuse_at = n;
      watch_console(g, w);
      int32_t result = guest_fprintf(g, g.u32(g.sym("stdout")), c.format, c.args);
      size_t attempted = std::min<size_t>(n, c.appends.size());
      std::vector<std::string> expected(c.appends.begin(), c.appends.begin() + attempted);
      EXPECT_EQ(w.pieces, expected);
      EXPECT_EQ(console_write_calls(g), attempted);
      if (n <= static_cast<int>(c.appends.size())) {
        EXPECT_EQ(result, -1);
        expected.pop_back();
      } else {
        EXPECT_EQ(result, static_cast<int32_t>(joined(c.appends).size()));
      }
      EXPECT_EQ(g.console(), joined(expected));
    }
  }
}

TEST(StreamFormatting, StreamThatCannotBeWrittenFailsAtTheFirstAppend) {
  Guest g;
  ASSERT_GE(g.calli("writefile", {g.str("in.txt"), g.str("data"), 4}), 0);
  uint32_t reader = g.call("fopen", {g.str("in.txt"), g.str("r")});
  ASSERT_NE(reader, 0u);
  EXPECT_EQ(guest_fprintf(g, reader, "abc", {}), -1);
  EXPECT_EQ(guest_fprintf(g, reader, "%d", {5}), -1);
  EXPECT_EQ(guest_fprintf(g, reader, "", {}), 0);
  EXPECT_EQ(console_write_calls(g), 0u);
}

// Widths and precisions beyond the largest int stop there instead of wrapping to a small or
// negative number: the padding goes on (here until the console refuses) rather than shrinking.
TEST(StreamFormatting, HugeWidthsSaturateInsteadOfWrapping) {
  struct Huge {
    const char* format;
    std::vector<Arg> args;
    std::string piece;
  };
  const Huge cases[] = {
      {"%4294967298d", {5}, " "},  {"%99999999999999999999d", {5}, " "},
      {"%.4294967298d", {5}, "0"}, {"%4294967298s", {"ab"}, " "},
      {"%*d", {INT_MAX, 5}, " "},
  };
  constexpr int kRefuseAt = 20;
  for (const Huge& c : cases) {
    SCOPED_TRACE(c.format);
    Guest g;
    ConsoleWrites w;
    w.refuse_at = kRefuseAt;
    watch_console(g, w);
    EXPECT_EQ(guest_fprintf(g, g.u32(g.sym("stdout")), c.format, c.args), -1);
    EXPECT_EQ(w.pieces, std::vector<std::string>(kRefuseAt, c.piece));
  }
}

}  // namespace
