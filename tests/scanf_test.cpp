// The scanf family, run as i386 code: the engine over strings, and fscanf over descriptors that
// the simulated kernel feeds.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/harness/guest.h"

namespace {

using nuv::test::Guest;
using nuv::test::GuestOptions;
using Args = std::array<uint32_t, 3>;
using Values = std::vector<std::string>;

constexpr uint8_t kFill = 0xAA;
constexpr uint32_t kArgBytes = 64;
constexpr uint32_t kPosition = 36, kEof = 40;  // offsets of Stream fields that fscanf updates

// Destinations filled with a marker byte, so an untouched one reads back as "-".
Args fresh_args(Guest& g) {
  const std::vector<uint8_t> fill(kArgBytes, kFill);
  Args a;
  for (uint32_t& addr : a) addr = g.put(fill.data(), kArgBytes);
  return a;
}

// Each destination read as kinds[i]: 'i' signed, 'u' unsigned, 'c' one byte, 's' a string,
// marked when a byte past its terminator was touched.
Values render(Guest& g, const Args& a, const std::string& kinds) {
  Values out;
  for (size_t i = 0; i < kinds.size(); ++i) {
    const std::vector<uint8_t> raw = g.read(a[i], kArgBytes);
    const uint32_t word = g.u32(a[i]);
    const auto nul = std::find(raw.begin(), raw.end(), 0);
    const bool overrun =
        nul != raw.end() && std::count(nul + 1, raw.end(), kFill) != raw.end() - nul - 1;
    if (kinds[i] == 'c' || kinds[i] == 's' ? raw[0] == kFill : word == 0xAAAAAAAAu) {
      out.push_back("-");
    } else {
      out.push_back(kinds[i] == 'i'   ? std::to_string(static_cast<int32_t>(word))
                    : kinds[i] == 'u' ? std::to_string(word)
                    : kinds[i] == 'c'
                        ? std::string(1, static_cast<char>(raw[0]))
                        : std::string(raw.begin(), nul) + (overrun ? " (overrun)" : ""));
    }
  }
  return out;
}

struct Case {
  const char* input;
  const char* format;
  const char* kinds;
  int32_t count;
  Values want;
};

const Case kCases[] = {
    {"12 abc", "%d %s", "is", 2, {"12", "abc"}},
    {"  -7", "%d", "i", 1, {"-7"}},
    {"\t+7", "%d", "i", 1, {"7"}},
    {"-", "%d", "i", 0, {"-"}},
    {"abc", "%d", "i", 0, {"-"}},
    {"", "%d", "i", 0, {"-"}},
    {"2147483648", "%d", "i", 1, {"-2147483648"}},
    {"0x1f", "%x", "i", 1, {"0"}},
    {"1f", "%x", "i", 1, {"31"}},
    {"1F", "%X", "i", 1, {"31"}},
    {"-ff", "%x", "i", 1, {"-255"}},
    {"0x1f", "%i", "i", 1, {"31"}},
    {"017", "%i", "i", 1, {"15"}},
    {"08", "%i", "i", 1, {"0"}},
    {"0x", "%i", "i", 0, {"-"}},
    {"-5", "%u", "u", 0, {"-"}},
    {"4294967295", "%u", "u", 1, {"4294967295"}},
    {" x", "%c", "c", 1, {" "}},
    {" x", " %c", "c", 1, {"x"}},
    {"", "%c", "c", 0, {"-"}},
    {"   ", "%s", "s", 0, {"-"}},
    {"\nabc", "%s", "s", 1, {""}},
    {"\nabc", " %s", "s", 1, {"abc"}},
    {"\nx", "%*s%c", "c", 1, {"\n"}},
    {"a\rb c", "%s", "s", 1, {"a\rb"}},
    // A width bounds what %s stores and consumes; numbers and %c still ignore it.
    {"hello world", "%3s%s", "ss", 2, {"hel", "lo"}},
    {"hello world", "%*3s%s", "s", 1, {"lo"}},
    {"hello", "%10s", "s", 1, {"hello"}},
    {"hello", "%0s", "s", 1, {"hello"}},
    {"12345", "%2d", "i", 1, {"12345"}},
    {"abc", "%3c%c", "cc", 2, {"a", "b"}},
    {"7\n8", "%d %d", "ii", 2, {"7", "8"}},
    {"7\n8", "%d%d", "ii", 1, {"7", "-"}},
    {"5 6", "%d\r%d", "ii", 1, {"5", "-"}},
    {"\r5", " %d", "i", 0, {"-"}},
    {"5 6", "%*d %d", "i", 1, {"6"}},
    {"12", "%d%d", "ii", 1, {"12", "-"}},
    {"5", "%ld", "i", 0, {"-"}},
    {"5x", "%d%", "i", 1, {"5"}},
    {"a%b", "a%%b", "", 0, {}},
    {"a b", "a%%b", "", 0, {}},
    {" %5", "%%%d", "i", 0, {"-"}},
    {"ab", "abc", "", 0, {}},
};

TEST(Sscanf, ConversionsWhiteSpaceWidthsAndFailures) {
  Guest g;
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << "input \"" << c.input << "\" format \"" << c.format << '"');
    const Args a = fresh_args(g);
    EXPECT_EQ(g.calli("sscanf", {g.str(c.input), g.str(c.format), a[0], a[1], a[2]}), c.count);
    EXPECT_EQ(render(g, a, c.kinds), c.want);
  }
}

// Each call reads one token, a byte per kernel read, and the white-space byte after it.
TEST(Fscanf, ReadsOneTokenPerCallOneByteAtATime) {
  const std::string long_token =
      std::string(100, 'a') + std::string(155, 'b') + std::string(45, 'c');
  Guest g("whole_runtime",
          GuestOptions{.input = "\t\r 42\nabc 1 2 " + long_token + "\nlast \n\t\r "});
  const uint32_t in = g.u32(g.sym("stdin")), d = g.str("%d"), s = g.str("%s"), word = g.alloc(512);
  const Args a = fresh_args(g);
  g.kernel().clear_calls();
  EXPECT_EQ(g.calli("fscanf", {in, d, a[0]}), 1);
  size_t reads = 0;  // three white-space bytes, the token and the line feed
  for (const nuv::ServiceCall& call : g.kernel().calls()) {
    if (call.number != SVC_read) continue;
    ++reads;
    EXPECT_EQ(call.slots[0], 0u);
    EXPECT_EQ(call.slots[2], 1u);
  }
  EXPECT_EQ(reads, 6u);
  EXPECT_EQ(g.u32(in + kPosition), 6u);
  EXPECT_EQ(g.calli("fscanf", {in, d, a[1]}), 0);  // "abc" is consumed all the same
  // The whole format is matched against the one token "1".
  EXPECT_EQ(g.calli("fscanf", {in, g.str("%d %d"), a[1], a[2]}), 1);
  EXPECT_EQ(g.calli("fscanf", {in, d, a[2]}), 1);
  EXPECT_EQ(render(g, a, "iii"), (Values{"42", "1", "2"}));
  // Of a 300-byte token the first 255 bytes are kept and the rest is read and dropped.
  EXPECT_EQ(g.calli("fscanf", {in, s, word}), 1);
  EXPECT_EQ(g.read_str(word), long_token.substr(0, 255));
  EXPECT_EQ(g.u32(in + kPosition), 315u);
  EXPECT_EQ(g.calli("fscanf", {in, s, word}), 1);
  EXPECT_EQ(g.read_str(word), "last");
  EXPECT_EQ(g.u32(in + kEof), 0u);
  EXPECT_EQ(g.calli("fscanf", {in, d, a[1]}), -1);  // only white space before the end
  EXPECT_EQ(g.calli("feof", {in}), 1);
  EXPECT_EQ(g.u32(in + kPosition), 324u);
}

TEST(Fscanf, MinusOneForNullArgumentsOtherStreamsAndTheEndOfInput) {
  Guest g("whole_runtime", GuestOptions{.input = "5"});
  const uint32_t in = g.u32(g.sym("stdin")), format = g.str("%d"), n = g.alloc(4);
  const uint32_t memory = g.alloc(48), whole_file = g.alloc(48);
  g.set_u32(memory, 2);  // the kinds of a memory and of a whole-file stream
  g.set_u32(whole_file, 3);
  g.kernel().clear_calls();
  for (const Args& c :
       {Args{0, format}, Args{in, 0}, Args{memory, format}, Args{whole_file, format}}) {
    EXPECT_EQ(g.calli("fscanf", {c[0], c[1], n}), -1) << c[0] << " " << c[1];
  }
  EXPECT_TRUE(g.kernel().calls().empty());
  EXPECT_EQ(g.calli("fscanf", {in, format, n}), 1);  // the input is still there
  EXPECT_EQ(g.u32(n), 5u);
  g.set_u32(n, 0);
  EXPECT_EQ(g.calli("feof", {in}), 1);
  EXPECT_EQ(g.calli("fscanf", {in, format, n}), -1);  // nothing left before a token
  EXPECT_EQ(g.u32(n), 0u);
}

}  // namespace
