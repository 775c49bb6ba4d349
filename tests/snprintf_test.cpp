// The buffer formatter, run as i386 code: every edge case with the storing rule (a terminated
// prefix of the full output, nothing touched beyond), the front ends, saturation of huge
// widths, and a randomised comparison with the host C library where the two are meant to agree.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdio>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "tests/harness/guest.h"

namespace {

using nuv::test::Guest;
using Slots = std::array<uint32_t, 6>;  // extra slots are harmless to a variadic callee
constexpr uint32_t kMargin = 16;
constexpr char kUntouched = static_cast<char>(0xAA);

using Arg = std::variant<int, const char*>;  // a number, or a text placed in guest memory

int32_t guest_snprintf(Guest& g, uint32_t buffer, uint32_t size, const char* format,
                       const Slots& s) {
  return g.calli("snprintf",
                 {buffer, size, format ? g.str(format) : 0, s[0], s[1], s[2], s[3], s[4], s[5]});
}

// A buffer of `size` bytes and a margin, all marked untouched.
uint32_t fresh_buffer(Guest& g, uint32_t size) {
  return g.str(std::string(size + kMargin, kUntouched));
}

// The first `span` bytes of a fresh buffer after a call that stored `text` with this size.
std::string image(const std::string& text, uint32_t size, uint32_t span) {
  std::string im(span, kUntouched);
  if (size > 0) im.replace(0, text.size() + 1, text + '\0');
  return im;
}

struct Case {
  const char* format;
  std::vector<Arg> args;
  uint32_t size;
  std::string stored;
  int32_t result;
};

const char kStatusLine[] = "mouse=%d,%d  active=%d  q/esc quits";

const Case kCases[] = {
    {kStatusLine, {12, -34, 2}, 120, "mouse=12,-34  active=2  q/esc quits", 35},
    // Signs, flags, widths and precisions as the host has them are left to the comparison below.
    {"%.0d", {0}, 200, "0", 1},
    {"%p", {0}, 200, "0x0", 3},
    {"%8p", {0x12}, 200, "0x12", 4},
    {"%s", {0}, 200, "(null)", 6},
    {"%.3s", {0}, 200, "(nu", 3},
    {"[%5c]", {65}, 200, "[A]", 3},
    {"[%c%c]", {0x141, 0}, 200, std::string("[A\0]", 4), 4},
    {"%5%", {}, 200, "%", 1},
    {"%o|%#x|%hd|% d", {8, 255, 5, 5}, 200, "%o|%#x|%hd|% d", 14},  // no argument taken
    {"%q%d", {1, 2}, 200, "%q1", 3},
    {"%*q%d", {7, 8, 9}, 200, "%q8", 3},
    {"%lld %d", {5, 0, 9}, 200, "5 0", 3},
    {"[%*d]", {6, 42}, 200, "[    42]", 8},
    {"[%*d]", {-6, 42}, 200, "[42]", 4},
    {"%.*d", {4, 42}, 200, "0042", 4},
    {"%.*d", {-4, 42}, 200, "42", 2},
    {"%0*d", {5, 3}, 200, "00003", 5},
    {"abc%dxyz", {42}, 0, "", 8},
    {"abc%dxyz", {42}, 1, "", 8},
    {"abc%dxyz", {42}, 5, "abc4", 8},
    {"%-5d", {42}, 4, "42 ", 5},
    {"abc%", {}, 200, "abc", 3},
    {"%5", {}, 200, "", 0},
    {"x%5.3", {}, 200, "x", 1},
    {"%l", {}, 200, "", 0},
    {nullptr, {}, 8, "", 0},
    {nullptr, {}, 0, "", 0},
    // Widths, precisions and the count saturate at the largest int instead of wrapping.
    {"%4294967298d", {5}, 11, "          ", INT_MAX},
    {"%99999999999999999999d", {5}, 11, "          ", INT_MAX},
    {"%.4294967298d", {5}, 11, "0000000000", INT_MAX},
    {"%2147483647d%2147483647d", {5, 6}, 11, "          ", INT_MAX},
    {"%.*d%.*d", {INT_MAX, 5, INT_MAX, 6}, 11, "0000000000", INT_MAX},
    {"%4294967298s", {"ab"}, 11, "          ", INT_MAX},
    {"%.4294967298s", {"abc"}, 11, "abc", 3},
};

TEST(BufferFormatting, EdgeCasesStoreATerminatedPrefixAndReturnTheFullLength) {
  Guest g;
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string("\"") + (c.format ? c.format : "(null)") + "\" size " +
                 std::to_string(c.size));
    Slots s{};
    for (size_t i = 0; i < c.args.size(); i++) {
      const int* number = std::get_if<int>(&c.args[i]);
      s[i] = number ? static_cast<uint32_t>(*number) : g.str(std::get<const char*>(c.args[i]));
    }
    uint32_t buffer = fresh_buffer(g, c.size);
    EXPECT_EQ(guest_snprintf(g, buffer, c.size, c.format, s), c.result);
    EXPECT_EQ(g.read_bytes(buffer, c.size + kMargin), image(c.stored, c.size, c.size + kMargin));
    EXPECT_EQ(guest_snprintf(g, 0, c.size, c.format, s), c.result);  // a null buffer measures
  }
}

TEST(BufferFormatting, ArgumentListsAndSprintfCapacity) {
  Guest g;
  const uint32_t slots[] = {7, 255, 0};
  uint32_t list = g.put(slots, sizeof slots), format = g.str("[%*x|%s]");
  uint32_t six = fresh_buffer(g, 6);
  EXPECT_EQ(g.calli("vsnprintf", {six, 6, format, list}), 16);
  EXPECT_EQ(g.read_bytes(six, 6 + kMargin), image("[    ", 6, 6 + kMargin));
  constexpr uint32_t kBig = 70001;
  uint32_t big = fresh_buffer(g, kBig);
  EXPECT_EQ(g.calli("vsprintf", {big, format, list}), 16);
  EXPECT_EQ(g.read_str(big), "[     ff|(null)]");
  EXPECT_EQ(g.calli("sprintf", {big, g.str("%d-%d"), 3, 4}), 3);
  EXPECT_EQ(g.read_str(big), "3-4");
  EXPECT_EQ(g.calli("sprintf", {big, g.str("%70000d"), 1}), 70000);
  EXPECT_EQ(g.read_bytes(big, kBig + kMargin),
            image(std::string(65535, ' '), 65536, kBig + kMargin));
}

// Where both are meant to agree: d, i, u, x, X with '-', '0', '+', widths and precisions, and s
// with '-', width and precision; never the value 0 with precision 0 (ours keeps its digit).
TEST(BufferFormatting, AgreesWithTheHostLibrary) {
  Guest g;
  std::mt19937 rng(20240611);
  auto below = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  auto text = [&](uint32_t max) {
    std::string t(below(max + 1), ' ');
    for (char& c : t) c = "abcXYZ019 .,;:-+*#/\\[]()<>!?%"[below(29)];
    return t;
  };
  const uint32_t kEdges[] = {0,          1,          9,          10,         15,
                             16,         100,        999999999,  1000000000, 0x7FFFFFFF,
                             0x80000000, 0x80000001, 0xFFFFFFFE, 0xFFFFFFFF};
  constexpr uint32_t kCapacity = 256;
  const uint32_t buffer = g.alloc(kCapacity + kMargin);
  for (int i = 0; i < 3000; i++) {
    std::string format, full;
    Slots s{};
    size_t n = 0;
    for (uint32_t k = 1 + below(3);; k--) {
      const std::string literal = text(4);
      full += literal;
      for (char c : literal) format += c == '%' ? "%%" : std::string(1, c);
      if (k == 0) break;
      const char letter = "diuxXs"[below(6)];
      std::string conv = "%";  // as the host spells it; ours may carry a length letter too
      for (uint32_t f = below(4); f > 0; f--) conv += letter == 's' ? '-' : "-0+"[below(3)];
      if (below(2)) conv += std::to_string(1 + below(40));
      const int precision = below(2) ? static_cast<int>(below(26)) : -1;
      if (precision == 0 && below(2)) conv += ".";  // "." alone means 0 to both
      if (precision >= 0 && conv.back() != '.') conv += "." + std::to_string(precision);
      char rendered[512];
      if (letter == 's') {
        const std::string t = text(20);
        s[n++] = g.str(t);
        format += conv + letter;
        std::snprintf(rendered, sizeof rendered, (conv + letter).c_str(), t.c_str());
      } else {
        const uint32_t pick = below(3);
        uint32_t v = pick == 0 ? kEdges[below(14)] : pick == 1 ? below(2001) - 1000 : below(~0u);
        s[n++] = v = precision == 0 && v == 0 ? 1 : v;
        format += conv + std::array{"", "", "", "l", "ll", "z"}[below(6)] + letter;
        std::snprintf(rendered, sizeof rendered, (conv + letter).c_str(), v);  // int for d, i
      }
      full += rendered;
    }
    const uint32_t pick = below(4), full_size = static_cast<uint32_t>(full.size());
    const uint32_t size = pick == 0 ? below(full_size + 3) : pick == 1 ? below(3) : kCapacity;
    const bool measure = below(16) == 0;
    SCOPED_TRACE("case " + std::to_string(i) + ": \"" + format + "\" size " + std::to_string(size) +
                 (measure ? " (null buffer)" : ""));
    const std::string fill(kCapacity + kMargin, kUntouched);
    g.write(buffer, fill.data(), kCapacity + kMargin);
    ASSERT_EQ(guest_snprintf(g, measure ? 0 : buffer, size, format.c_str(), s), int32_t(full_size));
    ASSERT_EQ(
        g.read_bytes(buffer, kCapacity + kMargin),
        image(full.substr(0, size > 0 ? size - 1 : 0), measure ? 0 : size, kCapacity + kMargin))
        << full;
  }
}

}  // namespace
