// The buffer formatter, run as i386 code: layout of every conversion, the storing rule
// (a terminated prefix of the full output, whatever the size), the argument slots, and a
// randomised comparison with the host C library where the two are meant to agree.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/harness/guest.h"

namespace {

using nuv::test::Guest;

constexpr uint8_t kUntouched = 0xAA;
constexpr uint32_t kMargin = 16;
constexpr uint32_t kMaxSlots = 12;
constexpr uint32_t kSprintfCapacity = 65536;

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
int32_t guest_snprintf(Guest& g, uint32_t buffer, uint32_t size, uint32_t format,
                       const std::array<uint32_t, kMaxSlots>& s) {
  return g.calli("snprintf", {buffer, size, format, s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7],
                              s[8], s[9], s[10], s[11]});
}

std::string bytes_of(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

// What the buffer must look like after a call that stored `stored`: the text, its terminator
// (when the size allows any byte at all), and nothing touched beyond.
std::string expected_image(const std::string& stored, uint32_t size) {
  std::string image(size + kMargin, static_cast<char>(kUntouched));
  if (size > 0) {
    image.replace(0, stored.size(), stored);
    image[stored.size()] = '\0';
  }
  return image;
}

uint32_t fresh_buffer(Guest& g, uint32_t size) {
  uint32_t buffer = g.alloc(size + kMargin);
  std::vector<uint8_t> fill(size + kMargin, kUntouched);
  g.write(buffer, fill.data(), static_cast<uint32_t>(fill.size()));
  return buffer;
}

struct Case {
  const char* format;
  std::vector<Arg> args;
  uint32_t size;
  std::string stored;
  int32_t result;
};

const Case kCases[] = {
    {"mouse=%d,%d  active=%d  q/esc quits",
     {12, -34, 2},
     120,
     "mouse=12,-34  active=2  q/esc quits",
     35},
    {"%d", {INT_MIN}, 200, "-2147483648", 11},
    {"%012d", {INT_MIN}, 200, "-02147483648", 12},
    {"%05d", {-42}, 200, "-0042", 5},
    {"%+05d", {42}, 200, "+0042", 5},
    {"[%-05d]", {42}, 200, "[42   ]", 7},
    {"%08.3d", {5}, 200, "     005", 8},
    {"[%-+8.3d]", {5}, 200, "[+005    ]", 10},
    {"%+d", {0}, 200, "+0", 2},
    {"%.0d", {0}, 200, "0", 1},
    {"%i", {-7}, 200, "-7", 2},
    {"%u", {-1}, 200, "4294967295", 10},
    {"%x", {171}, 200, "ab", 2},
    {"%X", {171}, 200, "AB", 2},
    {"%08x", {255}, 200, "000000ff", 8},
    {"[%-8x]", {255}, 200, "[ff      ]", 10},
    {"%+u", {255}, 200, "255", 3},
    {"%+x", {255}, 200, "ff", 2},
    {"%.5X", {0xabc}, 200, "00ABC", 5},
    {"%p", {0}, 200, "0x0", 3},
    {"%8p", {0x12}, 200, "0x12", 4},
    {"%-08.5p", {0xdeadbeefu}, 200, "0xdeadbeef", 10},
    {"%s", {0}, 200, "(null)", 6},
    {"%.3s", {0}, 200, "(nu", 3},
    {"[%5s]", {"ab"}, 200, "[   ab]", 7},
    {"[%-5s]", {"ab"}, 200, "[ab   ]", 7},
    {"[%3s]", {""}, 200, "[   ]", 5},
    {"[%05s]", {"ab"}, 200, "[   ab]", 7},
    {"[%.1s|%.0s|%.9s]", {"ab", "cd", "ef"}, 200, "[a||ef]", 7},
    {"[%5c]", {65}, 200, "[A]", 3},
    {"[%c]", {0x141}, 200, "[A]", 3},
    {"%c%c", {0, 66}, 200, std::string("\0B", 2), 2},
    {"%5%", {}, 200, "%", 1},
    {"%o", {8}, 200, "%o", 2},
    {"%#x", {255}, 200, "%#x", 3},
    {"%hd", {5}, 200, "%hd", 3},
    {"% d", {5}, 200, "% d", 3},
    {"%q%d", {1, 2}, 200, "%q1", 3},
    {"%*q%d", {7, 8, 9}, 200, "%q8", 3},
    {"%lld %d", {5, 0, 9}, 200, "5 0", 3},
    {"%ld %zu %lx", {-5, 6, 255}, 200, "-5 6 ff", 7},
    {"[%*d]", {6, 42}, 200, "[    42]", 8},
    {"[%*d]", {-6, 42}, 200, "[42]", 4},
    {"%.*d", {4, 42}, 200, "0042", 4},
    {"%.*d", {-4, 42}, 200, "42", 2},
    {"%0*d", {5, 3}, 200, "00003", 5},
    {"[%*.*d]", {6, 4, 42}, 200, "[  0042]", 8},
    {"abc%dxyz", {42}, 0, "", 8},
    {"abc%dxyz", {42}, 1, "", 8},
    {"abc%dxyz", {42}, 5, "abc4", 8},
    {"abc%dxyz", {42}, 8, "abc42xy", 8},
    {"abc%dxyz", {42}, 9, "abc42xyz", 8},
    {"%-5d", {42}, 4, "42 ", 5},
    {"%s", {"hello"}, 3, "he", 5},
    {"abc%", {}, 200, "abc", 3},
    {"%-", {}, 200, "", 0},
    {"%5", {}, 200, "", 0},
    {"%.", {}, 200, "", 0},
    {"x%5.3", {}, 200, "x", 1},
    {"%l", {}, 200, "", 0},
    {"%ll", {}, 200, "", 0},
    {"%z", {}, 200, "", 0},
    {"", {}, 200, "", 0},
};

TEST(BufferFormatting, EachCaseStoresATerminatedPrefixAndReturnsTheFullLength) {
  Guest g;
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string("format \"") + c.format + "\" size " + std::to_string(c.size));
    uint32_t buffer = fresh_buffer(g, c.size);
    int32_t result = guest_snprintf(g, buffer, c.size, g.str(c.format), slots_of(g, c.args));
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(bytes_of(g.read(buffer, c.size + kMargin)), expected_image(c.stored, c.size));
  }
}

TEST(BufferFormatting, NullBufferOnlyMeasures) {
  Guest g;
  EXPECT_EQ(g.calli("snprintf", {0, 10, g.str("hello %d"), 5}), 7);
  EXPECT_EQ(g.calli("snprintf", {0, 0, g.str("%s|%5d"), g.str("abc"), 1}), 9);
}

TEST(BufferFormatting, NullFormatGivesAnEmptyTerminatedBuffer) {
  Guest g;
  uint32_t buffer = fresh_buffer(g, 8);
  EXPECT_EQ(g.calli("snprintf", {buffer, 8, 0}), 0);
  EXPECT_EQ(bytes_of(g.read(buffer, 8 + kMargin)), expected_image("", 8));

  uint32_t untouched = fresh_buffer(g, 0);
  EXPECT_EQ(g.calli("snprintf", {untouched, 0, 0}), 0);
  EXPECT_EQ(bytes_of(g.read(untouched, kMargin)), expected_image("", 0));
  EXPECT_EQ(g.calli("snprintf", {0, 8, 0}), 0);
}

TEST(BufferFormatting, ArgumentListFrontEndsTakeTheSameSlots) {
  Guest g;
  const uint32_t slots[] = {7, 255, 0};
  uint32_t list = g.put(slots, sizeof slots);
  uint32_t format = g.str("[%*x|%s]");

  uint32_t small = fresh_buffer(g, 6);
  EXPECT_EQ(g.calli("vsnprintf", {small, 6, format, list}), 16);
  EXPECT_EQ(bytes_of(g.read(small, 6 + kMargin)), expected_image("[    ", 6));

  uint32_t big = fresh_buffer(g, 64);
  EXPECT_EQ(g.calli("vsprintf", {big, format, list}), 16);
  EXPECT_EQ(g.read_str(big), "[     ff|(null)]");
  EXPECT_EQ(g.calli("sprintf", {big, g.str("%d-%d"), 3, 4}), 3);
  EXPECT_EQ(g.read_str(big), "3-4");
}

TEST(BufferFormatting, SprintfStoresAtMostItsFixedCapacity) {
  Guest g;
  constexpr uint32_t kLength = 70000;
  uint32_t buffer = fresh_buffer(g, kLength + 1);
  EXPECT_EQ(g.calli("sprintf", {buffer, g.str("%70000d"), 1}), 70000);
  std::string expected = expected_image(std::string(kSprintfCapacity - 1, ' '), kSprintfCapacity);
  expected.resize(kLength + 1 + kMargin, static_cast<char>(kUntouched));
  EXPECT_EQ(bytes_of(g.read(buffer, kLength + 1 + kMargin)), expected);
}

// Widths and precisions beyond the largest int stop there instead of wrapping; the count
// stops there too, so the result is never negative and the stored prefix stays in bounds.
TEST(BufferFormatting, HugeWidthsAndLengthsSaturateInsteadOfWrapping) {
  struct Huge {
    const char* format;
    std::vector<Arg> args;
    std::string stored;
    int32_t result;
  };
  const Huge cases[] = {
      {"%4294967298d", {5}, "          ", INT_MAX},
      {"%99999999999999999999d", {5}, "          ", INT_MAX},
      {"%.4294967298d", {5}, "0000000000", INT_MAX},
      {"%-2147483647d", {5}, "5         ", INT_MAX},
      {"%2147483647d%2147483647d", {5, 6}, "          ", INT_MAX},
      {"%*d%*d", {INT_MAX, 5, INT_MAX, 6}, "          ", INT_MAX},
      {"%.*d%.*d", {INT_MAX, 5, INT_MAX, 6}, "0000000000", INT_MAX},
      {"%4294967298s", {"ab"}, "          ", INT_MAX},
      {"%.4294967298s", {"abc"}, "abc", 3},
  };
  Guest g;
  for (const Huge& c : cases) {
    SCOPED_TRACE(c.format);
    uint32_t buffer = fresh_buffer(g, 11);
    int32_t result = guest_snprintf(g, buffer, 11, g.str(c.format), slots_of(g, c.args));
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(bytes_of(g.read(buffer, 11 + kMargin)), expected_image(c.stored, 11));
    EXPECT_EQ(guest_snprintf(g, 0, 0, g.str(c.format), slots_of(g, c.args)), c.result);
  }
}

TEST(DigitRenderer, WritesDigitsMostSignificantFirstWithoutTerminator) {
  struct Digits {
    uint32_t value;
    uint32_t base;
    int upper;
    std::string digits;
  };
  const Digits cases[] = {
      {0, 10, 0, "0"},
      {0, 16, 1, "0"},
      {9, 10, 0, "9"},
      {10, 10, 0, "10"},
      {4294967295u, 10, 0, "4294967295"},
      {4294967295u, 16, 0, "ffffffff"},
      {0xABCDEF01u, 16, 1, "ABCDEF01"},
      {15, 16, 0, "f"},
      {16, 16, 0, "10"},
      {1000000000, 10, 1, "1000000000"},
  };
  Guest g;
  for (const Digits& c : cases) {
    SCOPED_TRACE(c.digits);
    uint32_t scratch = fresh_buffer(g, 12);
    uint32_t count = g.alloc(4);
    g.call("snbuf_render_unsigned",
           {scratch, count, c.value, c.base, static_cast<uint32_t>(c.upper)});
    EXPECT_EQ(g.u32(count), c.digits.size());
    std::string image(12 + kMargin, static_cast<char>(kUntouched));
    image.replace(0, c.digits.size(), c.digits);
    EXPECT_EQ(bytes_of(g.read(scratch, 12 + kMargin)), image);
  }
}

// ---- Randomised comparison with the host C library -------------------------------------

// One conversion as our formatter sees it and as the host library sees it. Where the two
// syntaxes differ (a '*' width, length letters) the host format spells out the same request.
struct Conversion {
  std::string guest;
  std::string host;
  std::vector<uint32_t> slots;
  std::string expected;
};

class Generator {
 public:
  explicit Generator(uint32_t seed) : rng_(seed) {}

  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  uint32_t value() {
    static const uint32_t kEdges[] = {0,          1,          9,          10,         15,
                                      16,         0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFFE,
                                      0x80000001, 100,        999999999,  1000000000};
    switch (below(3)) {
      case 0:
        return kEdges[below(sizeof kEdges / sizeof kEdges[0])];
      case 1:
        return static_cast<uint32_t>(below(2001) - 1000);
      default:
        return static_cast<uint32_t>(rng_());
    }
  }

  std::string text(int max_length) {
    static const char kAlphabet[] = "abcXYZ019 .,;:-+*#/\\[]()<>!?";
    std::string s;
    int n = below(max_length + 1);
    for (int i = 0; i < n; i++) s += kAlphabet[below(sizeof kAlphabet - 1)];
    return s;
  }

  Conversion conversion(Guest& g) {
    static const char kLetters[] = "diuxXs";
    char letter = kLetters[below(6)];
    bool is_string = letter == 's';
    Conversion c;

    std::string flags;
    int flag_count = below(4);
    for (int i = 0; i < flag_count; i++) flags += is_string ? '-' : "-0+"[below(3)];

    std::string guest_width;
    std::string host_width;
    int width_kind = below(10);
    if (width_kind < 4) {
      int width = 1 + below(40);
      guest_width = host_width = std::to_string(width);
    } else if (width_kind == 4) {
      // A negative '*' width pads nothing here but left-aligns in the host library.
      int width = below(41);
      guest_width = "*";
      c.slots.push_back(static_cast<uint32_t>(width));
      if (width > 0) host_width = std::to_string(width);
    }

    std::string guest_precision;
    std::string host_precision;
    int precision = -1;
    int precision_kind = below(10);
    if (precision_kind < 3) {
      precision = below(26);
      guest_precision = host_precision = "." + std::to_string(precision);
    } else if (precision_kind == 3) {
      precision = 0;
      guest_precision = host_precision = ".";
    } else if (precision_kind == 4) {
      int star = below(30) - 4;
      guest_precision = ".*";
      c.slots.push_back(static_cast<uint32_t>(star));
      if (star >= 0) {
        precision = star;
        host_precision = "." + std::to_string(star);
      }
    }

    std::string length;
    if (!is_string) {
      static const char* kLengths[] = {"", "", "", "l", "ll", "z"};
      length = kLengths[below(6)];
    }

    c.guest = "%" + flags + guest_width + guest_precision + length + letter;
    c.host = "%" + flags + host_width + host_precision + letter;
    char rendered[512];
    if (is_string) {
      std::string s = text(20);
      c.slots.push_back(g.str(s));
      std::snprintf(rendered, sizeof rendered, c.host.c_str(), s.c_str());
    } else {
      uint32_t v = value();
      // Zero with precision 0 keeps its digit here; the host library prints nothing.
      if (precision == 0 && v == 0) v = 1;
      c.slots.push_back(v);
      if (letter == 'd' || letter == 'i') {
        std::snprintf(rendered, sizeof rendered, c.host.c_str(), static_cast<int>(v));
      } else {
        std::snprintf(rendered, sizeof rendered, c.host.c_str(), static_cast<unsigned>(v));
      }
    }
    c.expected = rendered;
    return c;
  }

  // Ordinary text between conversions, now and then with a "%%"; returns the format text
  // and what it prints.
  std::pair<std::string, std::string> literal() {
    std::string s = text(4);
    if (below(8) == 0) return {s + "%%", s + "%"};
    return {s, s};
  }

 private:
  std::mt19937 rng_;
};

TEST(BufferFormatting, AgreesWithTheHostLibraryOnCommonConversions) {
  Guest g;
  Generator gen(20240611);
  constexpr uint32_t kCapacity = 256;
  uint32_t buffer = g.alloc(kCapacity + kMargin);
  for (int i = 0; i < 3000; i++) {
    auto [guest_format, full] = gen.literal();
    std::vector<uint32_t> slots;
    int conversions = 1 + gen.below(3);
    for (int k = 0; k < conversions; k++) {
      Conversion c = gen.conversion(g);
      slots.insert(slots.end(), c.slots.begin(), c.slots.end());
      auto [text, printed] = gen.literal();
      guest_format += c.guest + text;
      full += c.expected + printed;
    }

    std::array<uint32_t, kMaxSlots> s{};
    std::copy(slots.begin(), slots.end(), s.begin());
    uint32_t size = 0;
    switch (gen.below(4)) {
      case 0:
        size = static_cast<uint32_t>(gen.below(static_cast<int>(full.size()) + 3));
        break;
      case 1:
        size = static_cast<uint32_t>(gen.below(3));
        break;
      default:
        size = kCapacity;
        break;
    }
    bool measure_only = gen.below(16) == 0;
    SCOPED_TRACE("case " + std::to_string(i) + ": \"" + guest_format + "\" size " +
                 std::to_string(size) + (measure_only ? " (null buffer)" : ""));

    std::vector<uint8_t> fill(kCapacity + kMargin, kUntouched);
    g.write(buffer, fill.data(), static_cast<uint32_t>(fill.size()));
    int32_t result = guest_snprintf(g, measure_only ? 0 : buffer, size, g.str(guest_format), s);
    ASSERT_EQ(result, static_cast<int32_t>(full.size())) << full;
    std::string stored = size > 0 ? full.substr(0, std::min<size_t>(full.size(), size - 1)) : "";
    std::string image = expected_image(measure_only ? "" : stored, measure_only ? 0 : size);
    image.resize(kCapacity + kMargin, static_cast<char>(kUntouched));
    ASSERT_EQ(bytes_of(g.read(buffer, kCapacity + kMargin)), image) << full;
  }
}

}  // namespace
