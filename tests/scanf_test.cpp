// The scanf family, run as i386 code: the engine over strings, and fscanf over descriptors
// that the simulated kernel feeds.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "tests/harness/guest.h"

namespace {

using nuv::test::Guest;
using nuv::test::GuestOptions;

constexpr uint8_t kFill = 0xAA;
constexpr uint32_t kArgBytes = 64;
constexpr uint32_t kMaxArgs = 3;

// Offsets of the Stream record's fields that fscanf touches.
constexpr uint32_t kStreamKind = 0;
constexpr uint32_t kStreamFd = 4;
constexpr uint32_t kStreamPosition = 36;
constexpr uint32_t kStreamEof = 40;
constexpr uint32_t kStreamSize = 44;

// Destinations filled with a marker byte, so an untouched one reads back as "-".
struct Args {
  uint32_t addr[kMaxArgs];
};

Args make_args(Guest& g) {
  Args a{};
  const std::vector<uint8_t> fill(kArgBytes, kFill);
  for (uint32_t& addr : a.addr) {
    addr = g.alloc(kArgBytes);
    g.write(addr, fill.data(), kArgBytes);
  }
  return a;
}

// kinds: one letter per destination: 'i' signed 32-bit, 'u' unsigned 32-bit, 'c' byte,
// 's' string.
std::vector<std::string> render(Guest& g, const Args& a, const std::string& kinds) {
  std::vector<std::string> out;
  for (size_t i = 0; i < kinds.size(); ++i) {
    const std::vector<uint8_t> raw = g.read(a.addr[i], kArgBytes);
    const bool untouched =
        kinds[i] == 'c' || kinds[i] == 's'
            ? raw[0] == kFill
            : raw[0] == kFill && raw[1] == kFill && raw[2] == kFill && raw[3] == kFill;
    if (untouched) {
      out.push_back("-");
      continue;
    }
    const uint32_t word = g.u32(a.addr[i]);
    switch (kinds[i]) {
      case 'i':
        out.push_back(std::to_string(static_cast<int32_t>(word)));
        break;
      case 'u':
        out.push_back(std::to_string(word));
        break;
      case 'c':
        out.push_back(std::string(1, static_cast<char>(raw[0])));
        break;
      default:
        out.push_back(g.read_str(a.addr[i], kArgBytes));
    }
  }
  return out;
}

struct Case {
  const char* input;
  const char* format;
  const char* kinds;
  int32_t count;
  std::vector<std::string> want;
};

void run_cases(const std::vector<Case>& cases) {
  Guest g;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "input \"" << c.input << "\" format \"" << c.format << '"');
    const Args a = make_args(g);
    const int32_t count =
        g.calli("sscanf", {g.str(c.input), g.str(c.format), a.addr[0], a.addr[1], a.addr[2]});
    EXPECT_EQ(count, c.count);
    EXPECT_EQ(render(g, a, c.kinds), c.want);
  }
}

TEST(Sscanf, SignedConversions) {
  run_cases({
      {"12 abc", "%d %s", "is", 2, {"12", "abc"}},
      {"  -7", "%d", "i", 1, {"-7"}},
      {"\t+7", "%d", "i", 1, {"7"}},
      {"-", "%d", "i", 0, {"-"}},
      {"abc", "%d", "i", 0, {"-"}},
      {"", "%d", "i", 0, {"-"}},
      {"--1", "%d", "i", 0, {"-"}},
      {"2147483648", "%d", "i", 1, {"-2147483648"}},
      {"4294967297", "%d", "i", 1, {"1"}},
      {"0x1f", "%x", "i", 1, {"0"}},
      {"1f", "%x", "i", 1, {"31"}},
      {"1F", "%X", "i", 1, {"31"}},
      {"-ff", "%x", "i", 1, {"-255"}},
      {"ffffffff", "%x", "i", 1, {"-1"}},
      {"0x1f", "%i", "i", 1, {"31"}},
      {"0X1F", "%i", "i", 1, {"31"}},
      {"-0x10", "%i", "i", 1, {"-16"}},
      {"017", "%i", "i", 1, {"15"}},
      {"08", "%i", "i", 1, {"0"}},
      {"0x", "%i", "i", 0, {"-"}},
      {"19", "%i", "i", 1, {"19"}},
      {"12345", "%2d", "i", 1, {"12345"}},
      {"12:34", "%d:%d", "ii", 2, {"12", "34"}},
  });
}

TEST(Sscanf, UnsignedConversion) {
  run_cases({
      {"-5", "%u", "u", 0, {"-"}},
      {"+5", "%u", "u", 0, {"-"}},
      {"4294967295", "%u", "u", 1, {"4294967295"}},
      {"4294967296", "%u", "u", 1, {"0"}},
      {"  \t42z", "%u", "u", 1, {"42"}},
  });
}

TEST(Sscanf, CharactersAndWords) {
  run_cases({
      {" x", "%c", "c", 1, {" "}},
      {" x", " %c", "c", 1, {"x"}},
      {"", "%c", "c", 0, {"-"}},
      {"abc", "%3c%c", "cc", 2, {"a", "b"}},
      {"hello world", "%s", "s", 1, {"hello"}},
      {"\tword", "%s", "s", 1, {"word"}},
      {"   ", "%s", "s", 0, {"-"}},
      {"\nabc", "%s", "s", 1, {""}},
      {"\nabc", " %s", "s", 1, {"abc"}},
      {"\nx", "%*s%c", "c", 1, {"\n"}},
      {"a\rb c", "%s", "s", 1, {"a\rb"}},
      {"ab", "a%c", "c", 1, {"b"}},
      {"xb", "a%c", "c", 0, {"-"}},
  });
}

// A width bounds what %s stores and consumes, so a caller can size the destination; the rest
// of the word stays for the next conversion.
TEST(Sscanf, WidthBoundsWords) {
  run_cases({
      {"hello world", "%3s", "s", 1, {"hel"}},
      {"hello world", "%3s%s", "ss", 2, {"hel", "lo"}},
      {"hello world", "%*3s%s", "s", 1, {"lo"}},
      {"hello world", "%5s %s", "ss", 2, {"hello", "world"}},
      {"hello", "%10s", "s", 1, {"hello"}},
      {"hello", "%0s", "s", 1, {"hello"}},
      {"ab cd", "%1s%1s %1s", "sss", 3, {"a", "b", "c"}},
  });
}

TEST(Sscanf, WidthKeepsStoreInsideTheBuffer) {
  Guest g;
  const Args a = make_args(g);
  EXPECT_EQ(g.calli("sscanf", {g.str("overflowing"), g.str("%3s"), a.addr[0]}), 1);
  const std::vector<uint8_t> raw = g.read(a.addr[0], 8);
  EXPECT_EQ(std::string(raw.begin(), raw.begin() + 4), std::string("ove\0", 4));
  for (size_t i = 4; i < raw.size(); ++i) EXPECT_EQ(raw[i], kFill) << "byte " << i;
}

TEST(Sscanf, WhiteSpaceSuppressionAndFailures) {
  run_cases({
      {"7\n8", "%d %d", "ii", 2, {"7", "8"}},
      {"7\n8", "%d%d", "ii", 1, {"7", "-"}},
      {"7 \t\n 8", "%d\n%d", "ii", 2, {"7", "8"}},
      {"78", "%d\t %d", "ii", 1, {"78", "-"}},
      {"5\r6", "%d\r%d", "ii", 2, {"5", "6"}},
      {"5 6", "%d\r%d", "ii", 1, {"5", "-"}},
      {"5\v6", "%d\v%d", "ii", 2, {"5", "6"}},
      {"5 6", "%d\f%d", "ii", 1, {"5", "-"}},
      {"\n5", "%d", "i", 0, {"-"}},
      {"\n5", " %d", "i", 1, {"5"}},
      {"\r5", " %d", "i", 0, {"-"}},
      {"5 6", "%*d %d", "i", 1, {"6"}},
      {"1 2 3", "%d %*s %d", "ii", 2, {"1", "3"}},
      {"12", "%d%d", "ii", 1, {"12", "-"}},
      {"5", "%ld", "i", 0, {"-"}},
      {"5", "%hd", "i", 0, {"-"}},
      {"5", "%f", "i", 0, {"-"}},
      {"5", "%o", "i", 0, {"-"}},
      {"5x", "%d%", "i", 1, {"5"}},
      {"a%b", "a%%b", "", 0, {}},
      {"a b", "a%%b", "", 0, {}},
      {"%5", "%%%d", "i", 1, {"5"}},
      {" %5", "%%%d", "i", 0, {"-"}},
      {"abc", "abc", "", 0, {}},
      {"ab", "abc", "", 0, {}},
      {"", "", "", 0, {}},
  });
}

// A stream record built in scratch memory, for kinds fopen would not hand out here.
uint32_t make_stream(Guest& g, int32_t kind, int32_t fd) {
  const uint32_t s = g.alloc(kStreamSize);
  g.set_u32(s + kStreamKind, static_cast<uint32_t>(kind));
  g.set_u32(s + kStreamFd, static_cast<uint32_t>(fd));
  return s;
}

uint32_t stdin_stream(Guest& g) { return g.u32(g.sym("stdin")); }

void write_file(Guest& g, const std::string& name, const std::string& content) {
  std::ofstream(g.root() / name, std::ios::binary) << content;
}

uint32_t open_for_reading(Guest& g, const std::string& name) {
  const uint32_t stream = g.call("fopen", {g.str("/" + name), g.str("r")});
  EXPECT_NE(stream, 0u);
  return stream;
}

TEST(Fscanf, ReadsOneTokenPerCallFromStandardInput) {
  Guest g("whole_runtime", GuestOptions{.input = "  42\n1 2 last"});
  const uint32_t in = stdin_stream(g);
  const Args a = make_args(g);
  const uint32_t d = g.str("%d");
  const uint32_t dd = g.str("%d %d");

  EXPECT_EQ(g.calli("fscanf", {in, d, a.addr[0]}), 1);
  EXPECT_EQ(render(g, a, "i"), std::vector<std::string>{"42"});
  EXPECT_EQ(g.u32(in + kStreamPosition), 5u);
  EXPECT_EQ(g.u32(in + kStreamEof), 0u);

  // The whole format is matched against the one token "1".
  EXPECT_EQ(g.calli("fscanf", {in, dd, a.addr[0], a.addr[1]}), 1);
  EXPECT_EQ(render(g, a, "ii"), (std::vector<std::string>{"1", "-"}));
  EXPECT_EQ(g.calli("fscanf", {in, d, a.addr[1]}), 1);
  EXPECT_EQ(render(g, a, "ii"), (std::vector<std::string>{"1", "2"}));

  // A token ended by the end of input still counts; the next call finds nothing.
  const uint32_t word = g.alloc(kArgBytes);
  EXPECT_EQ(g.calli("fscanf", {in, g.str("%s"), word}), 1);
  EXPECT_EQ(g.read_str(word), "last");
  EXPECT_EQ(g.u32(in + kStreamEof), 1u);
  EXPECT_EQ(g.u32(in + kStreamPosition), 13u);
  EXPECT_EQ(g.calli("fscanf", {in, d, a.addr[2]}), -1);
  EXPECT_EQ(g.calli("feof", {in}), 1);
}

TEST(Fscanf, ReadsOneByteAtATime) {
  Guest g("whole_runtime", GuestOptions{.input = " \t\r\n7 8"});
  g.kernel().set_recording(true);
  g.kernel().clear_calls();
  const Args a = make_args(g);
  EXPECT_EQ(g.calli("fscanf", {stdin_stream(g), g.str("%d"), a.addr[0]}), 1);
  int reads = 0;
  for (const nuv::ServiceCall& call : g.kernel().calls()) {
    if (call.number != SVC_read) continue;
    ++reads;
    EXPECT_EQ(call.slots[0], 0u);
    EXPECT_EQ(call.slots[2], 1u);
  }
  // Four white-space bytes, the token and the space after it; "8" stays unread.
  EXPECT_EQ(reads, 6);
}

TEST(Fscanf, KeepsTheFirst255BytesOfALongToken) {
  Guest g;
  const std::string token = std::string(100, 'a') + std::string(155, 'b') + std::string(45, 'c');
  write_file(g, "long.txt", token + "\nnext");
  const uint32_t stream = open_for_reading(g, "long.txt");
  const uint32_t word = g.alloc(512);
  EXPECT_EQ(g.calli("fscanf", {stream, g.str("%s"), word}), 1);
  EXPECT_EQ(g.read_str(word), token.substr(0, 255));
  EXPECT_EQ(g.u32(stream + kStreamPosition), 301u);
  EXPECT_EQ(g.calli("fscanf", {stream, g.str("%s"), word}), 1);
  EXPECT_EQ(g.read_str(word), "next");
  EXPECT_EQ(g.calli("fclose", {stream}), 0);
}

TEST(Fscanf, TokenOfExactly255Bytes) {
  Guest g;
  const std::string token(255, 'z');
  write_file(g, "exact.txt", token);
  const uint32_t stream = open_for_reading(g, "exact.txt");
  const uint32_t word = g.alloc(512);
  EXPECT_EQ(g.calli("fscanf", {stream, g.str("%s"), word}), 1);
  EXPECT_EQ(g.read_str(word), token);
  EXPECT_EQ(g.calli("feof", {stream}), 1);
}

TEST(Fscanf, EndOfInputGivesMinusOne) {
  struct Case {
    const char* content;
  };
  const Case cases[] = {{""}, {"   \n\t\r "}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.content << '"');
    Guest g;
    write_file(g, "empty.txt", c.content);
    const uint32_t stream = open_for_reading(g, "empty.txt");
    const Args a = make_args(g);
    EXPECT_EQ(g.calli("feof", {stream}), 0);
    EXPECT_EQ(g.calli("fscanf", {stream, g.str("%d"), a.addr[0]}), -1);
    EXPECT_EQ(g.calli("feof", {stream}), 1);
    EXPECT_EQ(render(g, a, "i"), std::vector<std::string>{"-"});
  }
}

TEST(Fscanf, TokenThatDoesNotMatchGivesZero) {
  Guest g("whole_runtime", GuestOptions{.input = "abc 5"});
  const Args a = make_args(g);
  EXPECT_EQ(g.calli("fscanf", {stdin_stream(g), g.str("%d"), a.addr[0]}), 0);
  EXPECT_EQ(g.calli("fscanf", {stdin_stream(g), g.str("%d"), a.addr[0]}), 1);
  EXPECT_EQ(render(g, a, "i"), std::vector<std::string>{"5"});
}

TEST(Fscanf, RefusesWhatIsNotADescriptorStream) {
  Guest g("whole_runtime", GuestOptions{.input = "5"});
  const uint32_t format = g.str("%d");
  const uint32_t n = g.alloc(4);
  struct Case {
    const char* what;
    uint32_t stream;
    uint32_t format;
  };
  const Case cases[] = {
      {"null stream", 0, format},
      {"null format", stdin_stream(g), 0},
      {"memory stream", make_stream(g, 2, 0), format},
      {"whole-file stream", make_stream(g, 3, 0), format},
  };
  g.kernel().set_recording(true);
  g.kernel().clear_calls();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(g.calli("fscanf", {c.stream, c.format, n}), -1);
  }
  EXPECT_TRUE(g.kernel().calls().empty());
  // The input is still there for a proper call.
  EXPECT_EQ(g.calli("fscanf", {stdin_stream(g), format, n}), 1);
  EXPECT_EQ(g.u32(n), 5u);
}

}  // namespace
