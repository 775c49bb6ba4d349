// Streams on the real i386 code: the record, the standard streams, opening and closing,
// memory and whole-file streams with their buffer growth, reads counting position and end of
// file, and console writes that the kernel takes in pieces or refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/harness/guest.h"
#include "tests/harness/outside.h"

namespace {

using namespace std::literals;
using nuv::ServiceCall;
using nuv::test::Guest;

// Field offsets of the stream record (user_buf and user_size sit at 24 and 28), and its kinds.
enum : uint32_t { kKind = 0, kFd = 4, kPath = 8, kData = 12, kLength = 16, kCapacity = 20 };
enum : uint32_t { kError = 32, kPosition = 36, kEof = 40, kRecordSize = 44 };
constexpr uint32_t kStreamFd = 1, kStreamFile = 3;

uint32_t field(Guest& g, uint32_t stream, uint32_t offset) { return g.u32(stream + offset); }
uint32_t ptr(Guest& g, const char* name) { return g.u32(g.sym(name)); }
uint32_t used(Guest& g) { return g.u32(g.sym("g_heap_used")); }
// A memory stream whose caller variables (buffer, then size) are at `vars`.
uint32_t memstream(Guest& g, uint32_t& vars) {
  vars = g.alloc(8);
  return g.call("open_memstream", {vars, vars + 4});
}
std::string host_file(const Guest& g, const char* name) {
  return nuv::test::slurp(g.root() / name);
}
void make_file(const Guest& g, const char* name, const std::string& content) {
  nuv::test::spit(g.root() / name, content);
}
size_t count_calls(Guest& g, uint32_t number) {
  const auto& calls = g.kernel().calls();
  return std::count_if(calls.begin(), calls.end(), [&](auto& c) { return c.number == number; });
}

// Standard error shares descriptor 1 with standard output: the same calls give the same bytes,
// at once. fclose ignores the standard streams; puts and putchar follow the current stdout.
TEST(StandardStreams, StartAsDescriptorStreamsAndWriteAtOnce) {
  Guest g;
  for (const char* name : {"stdin", "stdout", "stderr"}) {
    EXPECT_EQ(g.calli("fclose", {ptr(g, name)}), 0);  // and they stay usable
    if (name == "stdin"s) continue;
    EXPECT_EQ(g.calli("fputs", {g.str("ab"), ptr(g, name)}), 2);
    EXPECT_EQ(g.calli("fputc", {0xFFFFFF63u, ptr(g, name)}), -157);  // writes the low byte
    EXPECT_EQ(g.call("fwrite", {g.str("defg"), 2, 2, ptr(g, name)}), 2u);
    EXPECT_EQ(g.calli("fprintf", {ptr(g, name), g.str("<%d>"), 42}), 4);
  }
  EXPECT_EQ(g.calli("puts", {g.str("")}), 0);
  for (const auto& call : g.kernel().calls()) EXPECT_EQ(call.slots[0], 1u);
  EXPECT_EQ(count_calls(g, SVC_write), g.kernel().calls().size());
  EXPECT_EQ(g.console(), "abcdefg<42>abcdefg<42>\n");
  uint32_t vars, mem = memstream(g, vars);
  g.set_u32(g.sym("stdout"), mem);
  EXPECT_EQ(g.calli("putchar", {0x121}), 0x121);
  EXPECT_EQ(g.call("fopen", {g.str("-"), g.str("w")}), mem);
  EXPECT_EQ(g.calli("fclose", {mem}), 0);
  EXPECT_EQ(g.calli("puts", {g.str("x")}), 0);
  EXPECT_EQ(g.read_str(g.u32(vars)), "!x\n");
  EXPECT_EQ(g.console(), "abcdefg<42>abcdefg<42>\n");
}

TEST(Fopen, PathAndModeDecideTheKindOfStream) {
  enum Expect { kNull, kStdin, kStdout, kReading, kWholeFile };
  struct Case {
    const char *path, *mode;  // nullptr: the null pointer
    Expect expect;
  } cases[] = {
      // clang-format off
      {nullptr, "r", kStdin}, {"-", "rb", kStdin}, {"-", "w", kStdout}, {nullptr, "w+", kStdout},
      {"-", "a", kNull}, {"-", nullptr, kNull}, {"/data.txt", "a", kNull},
      {"/data.txt", "", kNull}, {"/data.txt", "r+", kReading}, {"data.txt", "rb", kReading},
      {"/missing.txt", "r", kNull},
      {"/out.txt", "wb+", kWholeFile}, {"/no/such/dir/out.txt", "w", kWholeFile},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path ? c.path : "<null>") + " mode " + (c.mode ? c.mode : "<null>"));
    Guest g;
    make_file(g, "data.txt", "content");
    uint32_t path = c.path ? g.str(c.path) : 0;
    uint32_t s = g.call("fopen", {path, c.mode ? g.str(c.mode) : 0});
    if (c.expect <= kStdout) {
      uint32_t standard[] = {0, g.sym("g_stdin"), g.sym("g_stdout")};
      EXPECT_EQ(s, standard[c.expect]);
      EXPECT_EQ(used(g), 0u);
    } else if (c.expect == kReading) {
      ASSERT_NE(s, 0u);
      EXPECT_EQ(g.calli("fgetc", {s}), 'c');
    } else {
      ASSERT_NE(s, 0u);
      EXPECT_EQ(field(g, s, kKind), kStreamFile);
      EXPECT_EQ(g.read_str(field(g, s, kPath)), c.path);
      EXPECT_NE(field(g, s, kPath), path);  // a copy of its own
    }
    if (c.mode == nullptr || c.mode[0] != 'r' || c.expect == kStdin) {
      EXPECT_EQ(count_calls(g, SVC_open), 0u);
    }
    // Opening for writing creates and empties nothing.
    EXPECT_FALSE(std::filesystem::exists(g.root() / "out.txt"));
    EXPECT_EQ(host_file(g, "data.txt"), "content");
  }
}

// Null arguments, streams that can't do what is asked and calls with nothing to do are all
// answered without a kernel call and without touching the streams, the heap or a buffer
// given to setbuf. Only descriptor 1 can be written; only descriptors above 2 are closed or
// seeked, and fread reads descriptor streams only.
TEST(Streams, RefuseWithoutAKernelCall) {
  Guest g;
  make_file(g, "data.txt", "0123456789");
  uint32_t vars, mem = memstream(g, vars), fd2 = g.alloc(kRecordSize), buf = g.alloc(16);
  g.set_u32(fd2 + kKind, kStreamFd);
  g.set_u32(fd2 + kFd, 2);
  uint32_t file = g.call("fopen", {g.str("/f.txt"), g.str("w")});
  uint32_t rd = g.call("fopen", {g.str("/data.txt"), g.str("r")});
  uint32_t refs[] = {mem, file, rd, fd2, ptr(g, "stdin"), ptr(g, "stdout"), buf, g.str("abc")};
  enum : uint32_t { M = 0xFFFF0000, F, R, D2, I, O, B, T };  // the streams and buffers above
  constexpr int32_t kVoid = INT32_MIN;                       // no result to check
  struct Case {
    const char* fn;
    int32_t want;
    uint32_t a, b, c, d;
  } cases[] = {
      // clang-format off
      {"file_write_bytes", -1, 0, T, 3}, {"file_write_bytes", -1, M, 0, 3},
      {"file_write_bytes", -1, M, 0, 0}, {"file_write_bytes", 0, M, T, 0}, {"fputs", -1, 0, O},
      {"file_write_bytes", -1, D2, T, 3}, {"file_write_bytes", 0, D2, T, 0}, {"puts", -1, 0},
      {"fwrite", 0, T, 0, 5, M}, {"fwrite", 0, T, 1, 2, R}, {"fputc", -1, 'z', R},
      {"fputs", -1, T, R}, {"fclose", -1, 0}, {"fflush", 0, 0}, {"fread", 0, 0, 1, 1, R},
      {"fread", 0, B, 1, 1, 0}, {"fread", 0, B, 0, 5, R}, {"fread", 0, B, 5, 0, R},
      {"fread", 0, B, 0x10000, 0x10001, R}, {"fread", 0, B, 1, 4, M}, {"fread", 0, B, 1, 4, F},
      {"fgetc", -1, M}, {"fgetc", -1, F}, {"fgetc", -1, 0}, {"feof", 1, 0}, {"ferror", 1, 0},
      {"feof", 0, M}, {"feof", 0, R}, {"ferror", 0, M}, {"ferror", 0, I}, {"ftell", 0, R},
      {"ftell", -1, M}, {"ftell", -1, 0}, {"ftell", -1, I}, {"fseek", -1, M, 0, 0},
      {"fseek", -1, 0, 0, 0}, {"fseek", -1, O, 0, 0}, {"rewind", kVoid, 0}, {"fclose", 0, D2},
      {"setbuf", kVoid, O, B},
      {"open_memstream", 0, 0, B}, {"open_memstream", 0, B, 0},
      // clang-format on
  };
  g.kernel().clear_calls();
  uint32_t heap = used(g);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.fn << ", case " << &c - cases);
    uint32_t a[] = {c.a, c.b, c.c, c.d};
    for (uint32_t& v : a) v = v >= M ? refs[v - M] : v;
    int32_t got = g.calli(c.fn, {a[0], a[1], a[2], a[3]});
    EXPECT_EQ(c.want == kVoid ? kVoid : got, c.want);
  }
  EXPECT_TRUE(g.kernel().calls().empty());
  EXPECT_EQ(used(g), heap);
  EXPECT_EQ(g.u32(vars), 0u);
  EXPECT_EQ(field(g, mem, kCapacity), 0u);
  EXPECT_EQ(g.read(buf, 16), std::vector<uint8_t>(16, 0));
}

// Each case appends one or two pieces; a buffer grows from 256 bytes by doubling to hold
// them and a terminator. The caller's variables follow every non-empty write, and the
// buffer stays theirs after fclose.
TEST(MemoryStream, CollectsBytesInABufferGrowingFrom256ByDoubling) {
  struct Case {
    uint32_t first, second, capacity;
  } cases[] = {{3, 0, 256},     {255, 0, 256},     {256, 0, 512},  {513, 0, 1024},
               {200, 100, 512}, {100, 5000, 8192}, {2047, 1, 4096}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.first) + " + " + std::to_string(c.second));
    Guest g;
    uint32_t vars = g.put("\xAD\xDE\0\0\x63\0\0\0", 8);
    uint32_t s = g.call("open_memstream", {vars, vars + 4});
    EXPECT_EQ(g.read(vars, 8), std::vector<uint8_t>(8, 0));
    g.set_u32(vars, 0x1111);
    EXPECT_EQ(g.calli("fputs", {g.str(""), s}), 0);  // writing nothing touches nothing
    EXPECT_EQ(g.u32(vars), 0x1111u);
    std::string expected;
    for (uint32_t n : {c.first, c.second}) {
      std::string piece(n, static_cast<char>('a' + expected.size() % 26));
      ASSERT_EQ(g.calli("file_write_bytes", {s, g.str(piece), n}), 0);
      expected += piece;
    }
    EXPECT_EQ(g.read(vars, 8), g.read(s + kData, 8));  // data and length
    EXPECT_EQ(g.u32(vars + 4), expected.size());
    EXPECT_EQ(field(g, s, kCapacity), c.capacity);
    EXPECT_EQ(g.calli("fclose", {s}), 0);
    EXPECT_EQ(g.read_str(g.u32(vars)), expected);
    EXPECT_TRUE(g.kernel().calls().empty());
  }
}

// Appends that no doubling can serve are refused before anything is touched: the space
// needed wrapping to 0 (twice), 2^31 + 1 needed, doubling 2^31 wrapping. 2^31 bytes exactly is
// within the growth rule, and only the arena refuses it.
TEST(MemoryStream, RefusesSpaceBeyondTwoGibibytes) {
  struct Case {
    uint32_t length, capacity, count;
    bool reaches_heap;
  } cases[] = {
      // clang-format off
      {0, 0, 0xFFFFFFFF, false}, {100, 256, 0xFFFFFF9B, false}, {0, 0, 0x80000000, false},
      {0x7FFFFFFF, 0x80000000, 1, false}, {0, 0, 0x7FFFFFFF, true},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.length) + " + " + std::to_string(c.count));
    Guest g;
    uint32_t vars, s = memstream(g, vars);
    g.set_u32(s + kData, c.capacity != 0 ? g.alloc(64) : 0);
    g.set_u32(s + kLength, c.length);
    g.set_u32(s + kCapacity, c.capacity);
    auto record = g.read(s, kRecordSize);
    uint32_t heap = used(g);
    EXPECT_EQ(g.calli("file_write_bytes", {s, g.str("x"), c.count}), -1);
    EXPECT_EQ(g.read(s, kRecordSize), record);
    EXPECT_EQ(used(g), heap);
    EXPECT_EQ(g.u32(vars), 0u);
    EXPECT_EQ(g.u32(g.sym("errno")), c.reaches_heap ? 12u : 0u);
  }
}

// The file is written whole by fclose and by nothing else: an unclosed one never lands, and
// a failure to store shows only as fclose's -1.
TEST(WholeFileStream, ReplacesTheFileInOnePieceAtClose) {
  Guest g;
  make_file(g, "out.bin", "previous content");
  uint32_t s = g.call("fopen", {g.str("/out.bin"), g.str("w")});
  uint32_t lost = g.call("fopen", {g.str("/lost.txt"), g.str("w")});
  EXPECT_EQ(g.calli("fputs", {g.str("gone"), lost}), 4);
  EXPECT_EQ(g.calli("fflush", {lost}), 0);
  EXPECT_EQ(g.calli("fputs", {g.str("head "), s}), 5);
  const std::string binary("\0\x01\xff", 3), big(3000, 'z');
  EXPECT_EQ(g.call("fwrite", {g.put(binary.data(), 3), 3, 1, s}), 1u);
  EXPECT_EQ(g.calli("fputc", {'\n', s}), '\n');
  EXPECT_EQ(g.call("fwrite", {g.str(big), 1, 3000, s}), 3000u);
  EXPECT_EQ(host_file(g, "out.bin"), "previous content");
  EXPECT_EQ(g.calli("fclose", {s}), 0);
  EXPECT_EQ(host_file(g, "out.bin"), "head " + binary + "\n" + big);
  EXPECT_EQ(g.calli("fclose", {g.call("fopen", {g.str("/empty.txt"), g.str("w")})}), 0);
  EXPECT_EQ(std::filesystem::file_size(g.root() / "empty.txt"), 0u);
  s = g.call("fopen", {g.str("/no/such/dir/f.txt"), g.str("w")});
  EXPECT_EQ(g.calli("fputs", {g.str("data"), s}), 4);
  EXPECT_EQ(g.calli("fclose", {s}), -1);
  g.call("exit", {0});
  EXPECT_TRUE(g.exited());
  EXPECT_FALSE(std::filesystem::exists(g.root() / "lost.txt"));
  EXPECT_EQ(count_calls(g, SVC_writefile), 3u);
  EXPECT_TRUE(g.console().empty());
}

// fread counts whole elements, moves the position by every byte it got and takes a short read,
// or one at the end that stores nothing, as the end of the file; it never retries.
TEST(ReadStream, FreadCountsWholeElementsAndAShortReadIsTheEnd) {
  struct Case {
    std::string content;
    uint32_t before, size, count, expected, position;  // before: bytes read by an earlier fread
    int eof;
  } cases[] = {{"0123456789", 0, 4, 3, 2, 10, 1},
               {"0123456789", 0, 1, 10, 10, 10, 0},
               {"0123456789", 0, 1, 4, 4, 4, 0},
               {"0123456789", 0, 20, 1, 0, 10, 1},
               {"", 0, 1, 8, 0, 0, 1},
               {"0123", 4, 1, 8, 0, 4, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " x " + std::to_string(c.count) + " after " +
                 std::to_string(c.before));
    Guest g;
    make_file(g, "data.txt", c.content);
    uint32_t s = g.call("fopen", {g.str("/data.txt"), g.str("r")}), buf = g.alloc(64);
    if (c.before != 0) {
      ASSERT_EQ(g.call("fread", {g.alloc(16), 1, c.before, s}), c.before);
    }
    EXPECT_EQ(g.call("fread", {buf, c.size, c.count, s}), c.expected);
    EXPECT_EQ(g.calli("ftell", {s}), static_cast<int32_t>(c.position));
    EXPECT_EQ(g.calli("feof", {s}), c.eof);
    EXPECT_EQ(g.read_str(buf), c.content.substr(c.before, c.position - c.before));
    EXPECT_EQ(count_calls(g, SVC_read), c.before != 0 ? 2u : 1u);
  }
}

// Standard input and memory streams don't seek: rewind only clears their flags.
TEST(ReadStream, FgetcReachesTheEndAndRewindOrFseekStartsOver) {
  Guest g("whole_runtime", {.input = "hi"});
  make_file(g, "data.txt", "01\xff");
  uint32_t s = g.call("fopen", {g.str("/data.txt"), g.str("r")});
  for (int expected : {int('0'), int('1'), 0xff}) EXPECT_EQ(g.calli("fgetc", {s}), expected);
  EXPECT_EQ(g.calli("feof", {s}), 0);
  EXPECT_EQ(g.calli("fgetc", {s}), -1);
  EXPECT_EQ(g.calli("feof", {s}), 1);
  EXPECT_EQ(g.calli("ftell", {s}), 3);
  g.call("rewind", {s});
  EXPECT_EQ(g.calli("feof", {s}), 0);
  EXPECT_EQ(g.calli("fgetc", {s}), '0');
  g.set_u32(s + kEof, 1);
  EXPECT_EQ(g.calli("fseek", {s, static_cast<uint32_t>(-1), 2}), 0);
  EXPECT_EQ(g.calli("feof", {s}), 0);
  EXPECT_EQ(g.calli("ftell", {s}), 2);
  EXPECT_EQ(g.calli("fgetc", {s}), 0xff);
  g.set_u32(s + kEof, 1);
  EXPECT_EQ(g.calli("fseek", {s, static_cast<uint32_t>(-100), 0}), -1);  // changes nothing
  EXPECT_EQ(g.calli("feof", {s}), 1);
  EXPECT_EQ(g.calli("ftell", {s}), 3);
  EXPECT_EQ(g.calli("fclose", {s}), 0);
  EXPECT_EQ(count_calls(g, SVC_close), 1u);
  g.kernel().clear_calls();
  uint32_t vars, mem = memstream(g, vars), in = g.sym("g_stdin");
  ASSERT_EQ(g.calli("fputs", {g.str("keep"), mem}), 4);
  EXPECT_EQ(g.calli("getchar"), 'h');
  EXPECT_EQ(g.calli("fgetc", {in}), 'i');
  EXPECT_EQ(g.calli("getchar"), -1);
  EXPECT_EQ(field(g, in, kEof), 1u);
  for (uint32_t m : {mem, in}) {
    g.set_u32(m + kError, 1);
    g.set_u32(m + kEof, 1);
    EXPECT_EQ(g.calli("ferror", {m}) + g.calli("feof", {m}), 2);
    g.call("rewind", {m});
    EXPECT_EQ(g.calli("ferror", {m}) + g.calli("feof", {m}), 0);
  }
  EXPECT_EQ(field(g, in, kPosition), 2u);
  EXPECT_EQ(g.read_str(g.u32(vars)), "keep");
  EXPECT_EQ(count_calls(g, SVC_read), 3u);
  EXPECT_EQ(count_calls(g, SVC_lseek), 0u);
}

// The kernel may take fewer bytes than offered: the rest follows in further calls, each
// starting where the previous one stopped. A refusal (0 or negative) ends the write with -1
// after what was written; puts gives up before its newline, and nothing records the failure.
TEST(ConsoleWrite, PartialAndFailingWrites) {
  struct Case {
    const char *fn, *text;
    uint32_t per_call;  // bytes the kernel takes per call
    int fail_from;      // the first call the kernel refuses, with `failure`
    int32_t failure, want;
    const char* console;
  } cases[] = {
      // clang-format off
      {"fputs", "hello world", 3, 99, 0, 11, "hello world"},
      {"fputs", "abcdefgh", 4, 1, 0, -1, "abcd"}, {"fputs", "abcdefgh", 4, 1, -5, -1, "abcd"},
      {"puts", "xyz", 99, 0, -5, -1, ""}, {"puts", "text", 99, 1, -5, -1, "text"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.fn << ", case " << &c - cases);
    Guest g;
    int calls = 0;
    g.kernel().script(SVC_write, [&](ServiceCall& call) -> std::optional<int32_t> {
      if (calls++ >= c.fail_from) return c.failure;
      call.slots[2] = std::min(call.slots[2], c.per_call);
      return std::nullopt;
    });
    uint32_t text = g.str(c.text), out = ptr(g, "stdout");
    EXPECT_EQ(g.calli(c.fn, {text, out}), c.want);  // puts ignores the second slot
    EXPECT_EQ(g.console(), c.console);
    uint32_t offset = 0;
    for (const auto& call : g.kernel().calls()) {
      EXPECT_EQ(call.result > 0 ? call.slots[1] : text + offset, text + offset);
      offset += std::max(call.result, 0);
    }
    size_t done =
        c.want < 0 ? size_t(c.fail_from + 1) : (strlen(c.text) + c.per_call - 1) / c.per_call;
    EXPECT_EQ(g.kernel().calls().size(), done);
    EXPECT_EQ(field(g, out, kError) + g.u32(g.sym("errno")), 0u);
  }
}

// More than a kernel call may carry: the count is split at 0x7FFFFFFF. The kernel is scripted
// to accept without reading, so no such buffer has to exist.
TEST(ConsoleWrite, HugeCountsAreSplitIntoCallsTheKernelAccepts) {
  Guest g;
  g.kernel().script(SVC_write, [](ServiceCall& call) -> std::optional<int32_t> {
    return static_cast<int32_t>(call.slots[2]);
  });
  EXPECT_EQ(g.calli("file_write_bytes", {ptr(g, "stdout"), 0x1000, 0xF0000000}), 0);
  std::vector<std::pair<uint32_t, uint32_t>> pieces;
  for (const auto& call : g.kernel().calls()) pieces.push_back({call.slots[1], call.slots[2]});
  EXPECT_EQ(pieces, (decltype(pieces){{0x1000, 0x7FFFFFFF}, {0x1000u + 0x7FFFFFFF, 0x70000001}}));
}

}  // namespace
