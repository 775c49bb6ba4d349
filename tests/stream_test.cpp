// Streams on the real i386 code: the record, the standard streams, opening and closing,
// memory streams and their buffer growth, and the flags.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/harness/guest.h"

namespace {

using nuv::test::Guest;

// Field offsets of the stream record.
enum : uint32_t {
  kKind = 0,
  kFd = 4,
  kPath = 8,
  kData = 12,
  kLength = 16,
  kCapacity = 20,
  kUserBuf = 24,
  kUserSize = 28,
  kError = 32,
  kPosition = 36,
  kEof = 40,
  kRecordSize = 44,
};

constexpr int32_t kStreamFd = 1, kStreamMem = 2, kStreamFile = 3;

uint32_t field(Guest& g, uint32_t stream, uint32_t offset) { return g.u32(stream + offset); }
uint32_t ptr(Guest& g, const char* name) { return g.u32(g.sym(name)); }
uint32_t used(Guest& g) { return g.u32(g.sym("g_heap_used")); }

TEST(StandardStreams, StartAsDescriptorStreamsWithErrorOnTheConsole) {
  struct Case {
    const char* object;
    const char* pointer;
    uint32_t fd;
  } cases[] = {{"g_stdin", "stdin", 0}, {"g_stdout", "stdout", 1}, {"g_stderr", "stderr", 1}};
  Guest g;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.object);
    uint32_t s = g.sym(c.object);
    EXPECT_EQ(ptr(g, c.pointer), s);
    std::vector<uint8_t> expected(kRecordSize, 0);
    expected[kKind] = kStreamFd;
    expected[kFd] = static_cast<uint8_t>(c.fd);
    EXPECT_EQ(g.read(s, kRecordSize), expected);
  }
}

// Writes through stderr are indistinguishable from the same writes through stdout.
TEST(StandardStreams, ErrorAndOutputProduceTheSameBytesOnDescriptorOne) {
  for (const char* name : {"stdout", "stderr"}) {
    SCOPED_TRACE(name);
    Guest g;
    uint32_t s = ptr(g, name);
    EXPECT_EQ(g.calli("fputs", {g.str("ab"), s}), 2);
    EXPECT_EQ(g.calli("fputc", {'c', s}), 'c');
    EXPECT_EQ(g.call("fwrite", {g.str("defg"), 2, 2, s}), 2u);
    EXPECT_EQ(g.calli("fprintf", {s, g.str("<%d>"), 42}), 4);
    EXPECT_EQ(g.console(), "abcdefg<42>");
    for (const auto& call : g.kernel().calls()) {
      EXPECT_EQ(call.number, static_cast<uint32_t>(SVC_write));
      EXPECT_EQ(call.slots[0], 1u);
    }
  }
}

TEST(StandardStreams, PutsAddsANewlineInASecondWrite) {
  struct Case {
    const char* text;
    std::string console;
    size_t writes;
  } cases[] = {{"", "\n", 1}, {"hello", "hello\n", 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Guest g;
    EXPECT_EQ(g.calli("puts", {g.str(c.text)}), 0);
    EXPECT_EQ(g.console(), c.console);
    EXPECT_EQ(g.kernel().calls().size(), c.writes);
  }
  Guest g;
  EXPECT_EQ(g.calli("puts", {0}), -1);
  EXPECT_EQ(g.calli("fputs", {0, ptr(g, "stdout")}), -1);
  EXPECT_TRUE(g.kernel().calls().empty());
}

TEST(StandardStreams, PutcharReturnsTheWholeValueButWritesItsLowByte) {
  Guest g;
  EXPECT_EQ(g.calli("putchar", {0x141}), 0x141);
  EXPECT_EQ(g.calli("fputc", {0xFFFFFF42u, ptr(g, "stderr")}), -190);
  EXPECT_EQ(g.console(), "AB");
}

TEST(StandardStreams, FollowTheCurrentPointers) {
  Guest g;
  uint32_t vars = g.alloc(8);
  uint32_t mem = g.call("open_memstream", {vars, vars + 4});
  g.set_u32(g.sym("stdout"), mem);
  EXPECT_EQ(g.calli("puts", {g.str("hi")}), 0);
  EXPECT_EQ(g.calli("putchar", {'!'}), '!');
  EXPECT_EQ(g.read_str(g.u32(vars)), "hi\n!");
  EXPECT_EQ(g.console(), "");
  EXPECT_EQ(g.call("fopen", {g.str("-"), g.str("w")}), mem);
  EXPECT_EQ(g.calli("fclose", {mem}), 0);  // it is stdout now: ignored
  EXPECT_EQ(g.calli("puts", {g.str("x")}), 0);
  EXPECT_EQ(g.read_str(g.u32(vars)), "hi\n!x\n");
}

TEST(Fopen, PathAndModeDecideTheKindOfStream) {
  enum Expect { kNull, kStdin, kStdout, kFdStream, kFileStream };
  struct Case {
    const char* path;  // nullptr: the null pointer
    const char* mode;
    Expect expect;
  } cases[] = {
      {nullptr, "r", kStdin},
      {"-", "r", kStdin},
      {"-", "rb", kStdin},
      {"-", "w", kStdout},
      {nullptr, "w+", kStdout},
      {"-", "a", kNull},
      {"-", "", kNull},
      {"-", nullptr, kNull},
      {"/data.txt", nullptr, kNull},
      {"/data.txt", "a", kNull},
      {"/data.txt", "", kNull},
      {"/data.txt", "x", kNull},
      {"/data.txt", "r", kFdStream},
      {"/data.txt", "r+", kFdStream},
      {"data.txt", "rb", kFdStream},
      {"/missing.txt", "r", kNull},
      {"/out.txt", "w", kFileStream},
      {"/out.txt", "wb+", kFileStream},
      {"/no/such/dir/out.txt", "w", kFileStream},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path ? c.path : "<null>") + " mode " + (c.mode ? c.mode : "<null>"));
    Guest g;
    std::ofstream(g.root() / "data.txt") << "content";
    uint32_t path = c.path ? g.str(c.path) : 0;
    uint32_t mode = c.mode ? g.str(c.mode) : 0;
    uint32_t s = g.call("fopen", {path, mode});
    switch (c.expect) {
      case kNull:
        EXPECT_EQ(s, 0u);
        EXPECT_EQ(used(g), 0u);
        break;
      case kStdin:
        EXPECT_EQ(s, g.sym("g_stdin"));
        EXPECT_EQ(used(g), 0u);
        break;
      case kStdout:
        EXPECT_EQ(s, g.sym("g_stdout"));
        EXPECT_EQ(used(g), 0u);
        break;
      case kFdStream:
        ASSERT_NE(s, 0u);
        EXPECT_EQ(field(g, s, kKind), static_cast<uint32_t>(kStreamFd));
        EXPECT_GE(field(g, s, kFd), 3u);
        EXPECT_EQ(field(g, s, kPath), 0u);
        EXPECT_EQ(g.calli("fgetc", {s}), 'c');
        EXPECT_EQ(g.calli("fputc", {'z', s}), -1);
        break;
      case kFileStream:
        ASSERT_NE(s, 0u);
        EXPECT_EQ(field(g, s, kKind), static_cast<uint32_t>(kStreamFile));
        EXPECT_EQ(field(g, s, kFd), 0u);
        EXPECT_EQ(g.read_str(field(g, s, kPath)), c.path);
        EXPECT_NE(field(g, s, kPath), path);  // a copy of its own
        EXPECT_EQ(field(g, s, kData), 0u);
        break;
    }
    bool opens_a_file =
        c.path != nullptr && std::string(c.path) != "-" && c.mode != nullptr && c.mode[0] == 'r';
    if (!opens_a_file) {
      for (const auto& call : g.kernel().calls()) EXPECT_NE(call.number, uint32_t{SVC_open});
    }
    // Opening for writing creates and empties nothing.
    EXPECT_FALSE(std::filesystem::exists(g.root() / "out.txt"));
    std::ifstream in(g.root() / "data.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "content");
  }
}

TEST(Fclose, AnswersByKindAndIgnoresTheStandardStreams) {
  Guest g;
  EXPECT_EQ(g.calli("fclose", {0}), -1);
  for (const char* name : {"stdin", "stdout", "stderr"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(g.calli("fclose", {ptr(g, name)}), 0);
  }
  EXPECT_TRUE(g.kernel().calls().empty());
  EXPECT_EQ(g.calli("puts", {g.str("still here")}), 0);
  EXPECT_EQ(g.calli("fputs", {g.str("!"), ptr(g, "stderr")}), 1);
  EXPECT_EQ(g.console(), "still here\n!");
}

TEST(Fclose, DescriptorStreamsCloseOnlyDescriptorsAboveTwo) {
  struct Case {
    uint32_t fd;
    bool closes;
  } cases[] = {{0, false}, {1, false}, {2, false}, {7, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fd);
    Guest g;
    uint32_t s = g.alloc(kRecordSize);
    g.set_u32(s + kKind, kStreamFd);
    g.set_u32(s + kFd, c.fd);
    int32_t result = g.calli("fclose", {s});
    const auto& calls = g.kernel().calls();
    if (c.closes) {
      ASSERT_EQ(calls.size(), 1u);
      EXPECT_EQ(calls[0].number, uint32_t{SVC_close});
      EXPECT_EQ(calls[0].slots[0], c.fd);
      EXPECT_EQ(result, calls[0].result);  // the kernel's answer, unopened descriptor: < 0
      EXPECT_LT(result, 0);
    } else {
      EXPECT_TRUE(calls.empty());
      EXPECT_EQ(result, 0);
    }
  }
}

TEST(MemoryStream, CollectsBytesAndReportsThemToTheCaller) {
  Guest g;
  uint32_t vars = g.alloc(8);
  g.set_u32(vars, 0xDEAD);
  g.set_u32(vars + 4, 99);
  uint32_t s = g.call("open_memstream", {vars, vars + 4});
  ASSERT_NE(s, 0u);
  EXPECT_EQ(g.u32(vars), 0u);
  EXPECT_EQ(g.u32(vars + 4), 0u);
  EXPECT_EQ(field(g, s, kKind), static_cast<uint32_t>(kStreamMem));
  EXPECT_EQ(field(g, s, kUserBuf), vars);
  EXPECT_EQ(field(g, s, kUserSize), vars + 4);

  EXPECT_EQ(g.calli("fputs", {g.str("ab"), s}), 2);
  EXPECT_EQ(g.calli("fputc", {'c', s}), 'c');
  uint32_t b = g.u32(vars);
  ASSERT_NE(b, 0u);
  EXPECT_EQ(g.read(b, 4), (std::vector<uint8_t>{'a', 'b', 'c', 0}));
  EXPECT_EQ(g.u32(vars + 4), 3u);
  EXPECT_EQ(field(g, s, kCapacity), 256u);
  EXPECT_EQ(field(g, s, kData), b);
  EXPECT_TRUE(g.kernel().calls().empty());

  EXPECT_EQ(g.calli("fclose", {s}), 0);
  EXPECT_EQ(g.read_str(b), "abc");
  EXPECT_EQ(g.u32(vars), b);
  EXPECT_EQ(g.u32(vars + 4), 3u);
}

TEST(MemoryStream, EmptyWritesLeaveEverythingAlone) {
  Guest g;
  uint32_t vars = g.alloc(8);
  uint32_t s = g.call("open_memstream", {vars, vars + 4});
  g.set_u32(vars, 0x1111);
  g.set_u32(vars + 4, 0x2222);
  EXPECT_EQ(g.calli("fputs", {g.str(""), s}), 0);
  EXPECT_EQ(g.call("fwrite", {g.str("x"), 0, 5, s}), 0u);
  EXPECT_EQ(g.calli("file_write_bytes", {s, g.str("x"), 0}), 0);
  EXPECT_EQ(g.u32(vars), 0x1111u);
  EXPECT_EQ(g.u32(vars + 4), 0x2222u);
  EXPECT_EQ(field(g, s, kData), 0u);
  EXPECT_EQ(field(g, s, kCapacity), 0u);
  EXPECT_EQ(used(g), 48u);  // the record only
}

TEST(MemoryStream, RejectsMissingVariables) {
  Guest g;
  uint32_t vars = g.alloc(8);
  EXPECT_EQ(g.call("open_memstream", {0, vars + 4}), 0u);
  EXPECT_EQ(g.call("open_memstream", {vars, 0}), 0u);
  EXPECT_EQ(used(g), 0u);
}

TEST(StreamBuffer, GrowsFrom256ByDoubling) {
  struct Case {
    std::vector<uint32_t> appends;
    uint32_t capacity;
  } cases[] = {
      {{1}, 256},          {{255}, 256},      {{256}, 512},    {{300}, 512},
      {{513}, 1024},       {{200, 100}, 512}, {{255, 1}, 512}, {{256, 256}, 1024},
      {{100, 5000}, 8192}, {{2000}, 2048},    {{2047}, 2048},  {{2047, 1}, 4096},
  };
  for (const auto& c : cases) {
    std::string trace;
    for (uint32_t n : c.appends) trace += std::to_string(n) + " ";
    SCOPED_TRACE(trace);
    Guest g;
    uint32_t vars = g.alloc(8);
    uint32_t s = g.call("open_memstream", {vars, vars + 4});
    std::string expected;
    for (uint32_t n : c.appends) {
      std::string piece(n, static_cast<char>('a' + expected.size() % 26));
      ASSERT_EQ(g.calli("file_write_bytes", {s, g.str(piece), n}), 0);
      expected += piece;
    }
    EXPECT_EQ(field(g, s, kCapacity), c.capacity);
    EXPECT_EQ(field(g, s, kLength), expected.size());
    EXPECT_EQ(g.u32(vars + 4), expected.size());
    uint32_t data = field(g, s, kData);
    EXPECT_EQ(g.u32(vars), data);
    EXPECT_EQ(g.u32(data - 4), c.capacity);  // the heap block is the capacity
    auto held = g.read(data, expected.size() + 1);
    EXPECT_EQ(std::string(held.begin(), held.end()), expected + '\0');
  }
}

// Appends that no doubling can serve are refused before anything is touched.
TEST(StreamBuffer, RefusesSpaceBeyondTwoGibibytes) {
  struct Case {
    uint32_t length, capacity, count;
  } cases[] = {
      {0, 0, 0xFFFFFFFF},           // the space needed wraps to 0
      {0, 0, 0x80000000},           // 2^31 + 1 needed
      {0x7FFFFFFF, 0x80000000, 1},  // doubling 2^31 would wrap
      {0x7FFFFFF0, 0x80000000, 0x20},
      {100, 256, 0xFFFFFF9B},  // exactly wraps to 0 needed
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.length) + " + " + std::to_string(c.count));
    Guest g;
    uint32_t vars = g.alloc(8);
    uint32_t s = g.call("open_memstream", {vars, vars + 4});
    uint32_t data = c.capacity != 0 ? g.alloc(64) : 0;
    g.set_u32(s + kData, data);
    g.set_u32(s + kLength, c.length);
    g.set_u32(s + kCapacity, c.capacity);
    auto record = g.read(s, kRecordSize);
    uint32_t heap_before = used(g);
    EXPECT_EQ(g.calli("file_write_bytes", {s, g.str("x"), c.count}), -1);
    EXPECT_EQ(g.read(s, kRecordSize), record);
    EXPECT_EQ(used(g), heap_before);
    EXPECT_EQ(g.u32(vars), 0u);
  }
}

// 2^31 bytes exactly is within the growth rule; only the arena refuses it.
TEST(StreamBuffer, TwoGibibytesExactlyFailsOnlyForLackOfArena) {
  Guest g;
  uint32_t vars = g.alloc(8);
  uint32_t s = g.call("open_memstream", {vars, vars + 4});
  auto record = g.read(s, kRecordSize);
  EXPECT_EQ(g.calli("file_write_bytes", {s, g.str("x"), 0x7FFFFFFF}), -1);
  EXPECT_EQ(g.u32(g.sym("errno")), 12u);
  EXPECT_EQ(g.read(s, kRecordSize), record);
}

TEST(StreamBuffer, AThousandLinesArriveIntact) {
  Guest g;
  uint32_t vars = g.alloc(8);
  uint32_t s = g.call("open_memstream", {vars, vars + 4});
  std::string expected;
  for (int i = 0; i < 1000; ++i) {
    std::string line = "line " + std::to_string(i) + "\n";
    ASSERT_EQ(g.calli("fputs", {g.str(line), s}), static_cast<int32_t>(line.size()));
    expected += line;
  }
  EXPECT_EQ(g.u32(vars + 4), expected.size());
  EXPECT_EQ(g.read_str(g.u32(vars)), expected);
  EXPECT_EQ(field(g, s, kCapacity), 16384u);
}

TEST(FileWriteBytes, RefusesMissingStreamSourceAndReadingStreams) {
  Guest g;
  uint32_t src = g.str("abc");
  uint32_t vars = g.alloc(8);
  uint32_t mem = g.call("open_memstream", {vars, vars + 4});
  uint32_t reading = g.alloc(kRecordSize);
  g.set_u32(reading + kKind, kStreamFd);
  g.set_u32(reading + kFd, 0);
  struct Case {
    const char* what;
    uint32_t stream, source, count;
    int32_t expected;
  } cases[] = {
      {"null stream", 0, src, 3, -1},          {"null stream, no bytes", 0, src, 0, -1},
      {"null source", mem, 0, 3, -1},          {"null source, no bytes", mem, 0, 0, -1},
      {"descriptor 0", reading, src, 3, -1},   {"descriptor 0, no bytes", reading, src, 0, 0},
      {"stdin", g.sym("g_stdin"), src, 1, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(g.calli("file_write_bytes", {c.stream, c.source, c.count}), c.expected);
  }
  EXPECT_TRUE(g.kernel().calls().empty());
  EXPECT_EQ(g.u32(vars), 0u);
}

TEST(StreamFlags, NullStreamsReportEofAndErrorOthersNoError) {
  Guest g;
  uint32_t vars = g.alloc(8);
  uint32_t mem = g.call("open_memstream", {vars, vars + 4});
  EXPECT_EQ(g.calli("feof", {0}), 1);
  EXPECT_EQ(g.calli("ferror", {0}), 1);
  for (uint32_t s : {mem, g.sym("g_stdin"), g.sym("g_stdout")}) {
    EXPECT_EQ(g.calli("feof", {s}), 0);
    EXPECT_EQ(g.calli("ferror", {s}), 0);
  }
  EXPECT_EQ(g.calli("fflush", {0}), 0);
  EXPECT_EQ(g.calli("fflush", {mem}), 0);
  g.call("setbuf", {mem, g.alloc(16)});
  g.call("rewind", {0});
  EXPECT_TRUE(g.kernel().calls().empty());
}

TEST(StreamFlags, RewindClearsFlagsOfAnyStreamAndKeepsMemoryContents) {
  Guest g;
  uint32_t vars = g.alloc(8);
  uint32_t mem = g.call("open_memstream", {vars, vars + 4});
  ASSERT_EQ(g.calli("fputs", {g.str("keep"), mem}), 4);
  for (uint32_t s : {mem, g.sym("g_stdin")}) {
    g.set_u32(s + kError, 1);
    g.set_u32(s + kEof, 1);
    EXPECT_EQ(g.calli("ferror", {s}), 1);
    EXPECT_EQ(g.calli("feof", {s}), 1);
    g.call("rewind", {s});
    EXPECT_EQ(g.calli("ferror", {s}), 0);
    EXPECT_EQ(g.calli("feof", {s}), 0);
  }
  EXPECT_EQ(field(g, mem, kLength), 4u);
  EXPECT_EQ(g.read_str(g.u32(vars)), "keep");
  EXPECT_TRUE(g.kernel().calls().empty());  // no seek on stdin or a memory stream
}

TEST(StreamFlags, OnlyDescriptorStreamsReadOrSeek) {
  Guest g;
  uint32_t vars = g.alloc(8);
  uint32_t mem = g.call("open_memstream", {vars, vars + 4});
  uint32_t file = g.call("fopen", {g.str("/f.txt"), g.str("w")});
  uint32_t buf = g.alloc(16);
  for (uint32_t s : {mem, file, 0u}) {
    SCOPED_TRACE(s);
    EXPECT_EQ(g.call("fread", {buf, 1, 4, s}), 0u);
    EXPECT_EQ(g.calli("fgetc", {s}), -1);
    EXPECT_EQ(g.calli("fseek", {s, 0, 0}), -1);
    EXPECT_EQ(g.calli("ftell", {s}), -1);
    if (s != 0) {
      EXPECT_EQ(g.calli("feof", {s}), 0);
    }
  }
  for (const char* name : {"stdin", "stdout", "stderr"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(g.calli("ftell", {ptr(g, name)}), -1);
    EXPECT_EQ(g.calli("fseek", {ptr(g, name), 0, 0}), -1);
  }
  EXPECT_TRUE(g.kernel().calls().empty());
}

}  // namespace
