// Streams meeting the kernel: whole-file streams stored at close, reads counting position and
// end of file, seeking, and console writes that the kernel takes in pieces or refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "tests/harness/guest.h"

namespace {

using nuv::ServiceCall;
using nuv::test::Guest;
using nuv::test::GuestOptions;

constexpr uint32_t kPosition = 36, kEof = 40;

std::string host_file(const Guest& g, const char* name) {
  std::ifstream in(g.root() / name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void make_file(const Guest& g, const char* name, const std::string& content) {
  std::ofstream(g.root() / name, std::ios::binary) << content;
}

size_t count_calls(Guest& g, uint32_t number) {
  const auto& calls = g.kernel().calls();
  return std::count_if(calls.begin(), calls.end(),
                       [&](const ServiceCall& c) { return c.number == number; });
}

TEST(WholeFileStream, LandsInOnePieceAtClose) {
  Guest g;
  uint32_t s = g.call("fopen", {g.str("/out.bin"), g.str("w")});
  ASSERT_NE(s, 0u);
  EXPECT_EQ(g.calli("fputs", {g.str("head "), s}), 5);
  const std::string binary("\0\x01\xff", 3);
  EXPECT_EQ(g.call("fwrite", {g.put(binary.data(), 3), 3, 1, s}), 1u);
  EXPECT_EQ(g.calli("fputc", {'\n', s}), '\n');
  std::string big(3000, 'z');
  EXPECT_EQ(g.call("fwrite", {g.str(big), 1, 3000, s}), 3000u);
  EXPECT_FALSE(std::filesystem::exists(g.root() / "out.bin"));
  EXPECT_EQ(count_calls(g, SVC_writefile), 0u);

  EXPECT_EQ(g.calli("fclose", {s}), 0);
  EXPECT_EQ(host_file(g, "out.bin"), "head " + binary + "\n" + big);
  EXPECT_EQ(count_calls(g, SVC_writefile), 1u);
  EXPECT_TRUE(g.console().empty());
}

TEST(WholeFileStream, ReplacesAnExistingFileOnlyAtClose) {
  Guest g;
  make_file(g, "old.txt", "previous content");
  uint32_t s = g.call("fopen", {g.str("/old.txt"), g.str("w")});
  EXPECT_EQ(g.calli("fputs", {g.str("new"), s}), 3);
  EXPECT_EQ(host_file(g, "old.txt"), "previous content");
  EXPECT_EQ(g.calli("fclose", {s}), 0);
  EXPECT_EQ(host_file(g, "old.txt"), "new");
}

TEST(WholeFileStream, WithoutWritesStoresAnEmptyFile) {
  Guest g;
  uint32_t s = g.call("fopen", {g.str("/empty.txt"), g.str("w")});
  EXPECT_EQ(g.calli("fclose", {s}), 0);
  ASSERT_TRUE(std::filesystem::exists(g.root() / "empty.txt"));
  EXPECT_EQ(std::filesystem::file_size(g.root() / "empty.txt"), 0u);
}

TEST(WholeFileStream, NeverClosedLeavesNoFile) {
  Guest g;
  uint32_t s = g.call("fopen", {g.str("/lost.txt"), g.str("w")});
  EXPECT_EQ(g.calli("fputs", {g.str("gone"), s}), 4);
  EXPECT_EQ(g.calli("fflush", {s}), 0);
  g.call("exit", {0});
  EXPECT_TRUE(g.exited());
  EXPECT_FALSE(std::filesystem::exists(g.root() / "lost.txt"));
  EXPECT_EQ(count_calls(g, SVC_writefile), 0u);
}

TEST(WholeFileStream, StorageFailureShowsOnlyAtClose) {
  struct Case {
    const char* path;
    bool scripted_failure;
  } cases[] = {{"/no/such/dir/f.txt", false}, {"/fine.txt", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    Guest g;
    if (c.scripted_failure) {
      g.kernel().script(SVC_writefile, [](ServiceCall&) -> std::optional<int32_t> { return -5; });
    }
    uint32_t s = g.call("fopen", {g.str(c.path), g.str("w")});
    ASSERT_NE(s, 0u);
    EXPECT_EQ(g.calli("fputs", {g.str("data"), s}), 4);
    EXPECT_EQ(g.calli("fclose", {s}), -1);
    EXPECT_EQ(count_calls(g, SVC_writefile), 1u);
    EXPECT_FALSE(std::filesystem::exists(g.root() / "fine.txt"));
  }
}

TEST(ReadStream, FreadCountsWholeElementsAndPosition) {
  struct Case {
    uint32_t size, count;
    uint32_t expected;
    uint32_t position;
    bool eof;
  } cases[] = {
      {4, 3, 2, 10, true},  // 10 bytes: a trailing partial element is consumed, not counted
      {1, 10, 10, 10, false}, {1, 4, 4, 4, false},  {5, 2, 2, 10, false},
      {3, 4, 3, 10, true},    {20, 1, 0, 10, true}, {1, 11, 10, 10, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " x " + std::to_string(c.count));
    Guest g;
    make_file(g, "data.txt", "0123456789");
    uint32_t s = g.call("fopen", {g.str("/data.txt"), g.str("r")});
    uint32_t buf = g.alloc(64);
    EXPECT_EQ(g.call("fread", {buf, c.size, c.count, s}), c.expected);
    EXPECT_EQ(g.calli("ftell", {s}), static_cast<int32_t>(c.position));
    EXPECT_EQ(g.calli("feof", {s}), c.eof ? 1 : 0);
    EXPECT_EQ(g.read_str(buf), std::string("0123456789").substr(0, c.position));
    EXPECT_EQ(count_calls(g, SVC_read), 1u);  // no retry after a short read
  }
}

TEST(ReadStream, FreadRefusesWithoutReading) {
  Guest g;
  make_file(g, "data.txt", "0123456789");
  uint32_t s = g.call("fopen", {g.str("/data.txt"), g.str("r")});
  uint32_t buf = g.alloc(64);
  struct Case {
    const char* what;
    uint32_t buffer, size, count, stream;
  } cases[] = {
      {"null buffer", 0, 1, 1, s},
      {"null stream", buf, 1, 1, 0},
      {"size 0", buf, 0, 5, s},
      {"count 0", buf, 5, 0, s},
      {"product over 32 bits", buf, 0x10000, 0x10000, s},
      {"product just over", buf, 2, 0x80000000, s},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(g.call("fread", {c.buffer, c.size, c.count, c.stream}), 0u);
  }
  EXPECT_EQ(count_calls(g, SVC_read), 0u);
  EXPECT_EQ(g.calli("feof", {s}), 0);
  EXPECT_EQ(g.calli("ftell", {s}), 0);
}

TEST(ReadStream, FgetcReachesTheEndAndRewindStartsOver) {
  Guest g;
  make_file(g, "abc.txt", "ab\xff");
  uint32_t s = g.call("fopen", {g.str("/abc.txt"), g.str("r")});
  EXPECT_EQ(g.calli("fgetc", {s}), 'a');
  EXPECT_EQ(g.calli("fgetc", {s}), 'b');
  EXPECT_EQ(g.calli("fgetc", {s}), 0xff);
  EXPECT_EQ(g.calli("feof", {s}), 0);
  EXPECT_EQ(g.calli("ftell", {s}), 3);
  EXPECT_EQ(g.calli("fgetc", {s}), -1);
  EXPECT_EQ(g.calli("feof", {s}), 1);
  EXPECT_EQ(g.calli("ftell", {s}), 3);

  g.call("rewind", {s});
  EXPECT_EQ(g.calli("feof", {s}), 0);
  EXPECT_EQ(g.calli("ftell", {s}), 0);
  EXPECT_EQ(g.calli("fgetc", {s}), 'a');
  EXPECT_EQ(g.calli("fclose", {s}), 0);
  EXPECT_EQ(count_calls(g, SVC_close), 1u);
}

TEST(ReadStream, FseekMovesTheReadPointAndClearsEof) {
  Guest g;
  make_file(g, "data.txt", "0123456789");
  uint32_t s = g.call("fopen", {g.str("/data.txt"), g.str("r")});
  uint32_t buf = g.alloc(64);
  ASSERT_EQ(g.call("fread", {buf, 1, 20, s}), 10u);
  ASSERT_EQ(g.calli("feof", {s}), 1);

  EXPECT_EQ(g.calli("fseek", {s, 4, 0}), 0);
  EXPECT_EQ(g.calli("feof", {s}), 0);
  EXPECT_EQ(g.calli("ftell", {s}), 4);
  EXPECT_EQ(g.calli("fgetc", {s}), '4');
  EXPECT_EQ(g.calli("fseek", {s, static_cast<uint32_t>(-2), 2}), 0);
  EXPECT_EQ(g.calli("ftell", {s}), 8);
  EXPECT_EQ(g.calli("fgetc", {s}), '8');

  // A refused seek changes nothing.
  g.set_u32(s + kEof, 1);
  EXPECT_EQ(g.calli("fseek", {s, static_cast<uint32_t>(-100), 0}), -1);
  EXPECT_EQ(g.calli("feof", {s}), 1);
  EXPECT_EQ(g.calli("ftell", {s}), 9);
}

TEST(ReadStream, WritingToAReadingStreamFails) {
  Guest g;
  make_file(g, "data.txt", "x");
  uint32_t s = g.call("fopen", {g.str("/data.txt"), g.str("r+")});
  EXPECT_EQ(g.call("fwrite", {g.str("ab"), 1, 2, s}), 0u);
  EXPECT_EQ(g.calli("fputc", {'a', s}), -1);
  EXPECT_EQ(g.calli("fputs", {g.str("ab"), s}), -1);
  EXPECT_EQ(count_calls(g, SVC_write), 0u);
  EXPECT_EQ(host_file(g, "data.txt"), "x");
}

TEST(ReadStream, GetcharReadsStandardInputAByteAtATime) {
  GuestOptions options;
  options.input = "hi";
  Guest g("whole_runtime", options);
  uint32_t in = g.sym("g_stdin");
  EXPECT_EQ(g.calli("getchar"), 'h');
  EXPECT_EQ(g.calli("fgetc", {in}), 'i');
  EXPECT_EQ(g.u32(in + kPosition), 2u);
  EXPECT_EQ(g.calli("getchar"), -1);
  EXPECT_EQ(g.u32(in + kEof), 1u);
  EXPECT_EQ(count_calls(g, SVC_read), 3u);
  // No seeking on standard input: rewind only clears the flags.
  g.call("rewind", {in});
  EXPECT_EQ(g.u32(in + kEof), 0u);
  EXPECT_EQ(g.u32(in + kPosition), 2u);
  EXPECT_EQ(count_calls(g, SVC_lseek), 0u);
}

// The kernel may take fewer bytes than offered: the rest follows in further calls, each
// starting where the previous one stopped.
TEST(ConsoleWrite, PartialWritesAreContinued) {
  struct Case {
    uint32_t per_call;
    size_t calls;
  } cases[] = {{1, 11}, {3, 4}, {5, 3}, {11, 1}, {100, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.per_call);
    Guest g;
    uint32_t per_call = c.per_call;
    g.kernel().script(SVC_write, [per_call](ServiceCall& call) -> std::optional<int32_t> {
      call.slots[2] = std::min(call.slots[2], per_call);
      return std::nullopt;
    });
    uint32_t text = g.str("hello world");
    EXPECT_EQ(g.calli("fputs", {text, g.u32(g.sym("stdout"))}), 11);
    EXPECT_EQ(g.console(), "hello world");
    const auto& calls = g.kernel().calls();
    ASSERT_EQ(calls.size(), c.calls);
    uint32_t offset = 0;
    for (const auto& call : calls) {
      EXPECT_EQ(call.slots[1], text + offset);
      offset += static_cast<uint32_t>(call.result);
    }
    EXPECT_EQ(offset, 11u);
  }
}

TEST(ConsoleWrite, AFailureHalfwayKeepsWhatWasWritten) {
  struct Case {
    int32_t failure;  // what the kernel answers after the first 4 bytes
  } cases[] = {{0}, {-5}, {-32}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.failure);
    Guest g;
    int calls = 0;
    int32_t failure = c.failure;
    g.kernel().script(SVC_write, [&calls, failure](ServiceCall& call) -> std::optional<int32_t> {
      if (calls++ > 0) return failure;
      call.slots[2] = std::min(call.slots[2], 4u);
      return std::nullopt;
    });
    EXPECT_EQ(g.calli("fputs", {g.str("abcdefgh"), g.u32(g.sym("stdout"))}), -1);
    EXPECT_EQ(g.console(), "abcd");
    EXPECT_EQ(calls, 2);
    // puts gives up before its newline when the text failed.
    calls = 1;
    EXPECT_EQ(g.calli("puts", {g.str("xyz")}), -1);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(g.u32(g.sym("g_stdout") + 32), 0u);  // the error flag stays clear
    EXPECT_EQ(g.u32(g.sym("errno")), 0u);
  }
}

TEST(ConsoleWrite, PutsFailsWhenOnlyTheNewlineIsRefused) {
  Guest g;
  g.kernel().script(SVC_write, [](ServiceCall& call) -> std::optional<int32_t> {
    if (call.slots[2] == 1) return -5;
    return std::nullopt;
  });
  EXPECT_EQ(g.calli("puts", {g.str("text")}), -1);
  EXPECT_EQ(g.console(), "text");
}

// More than a kernel call may carry: the count is split at 0x7FFFFFFF. The kernel is scripted
// to accept without reading, so no such buffer has to exist.
TEST(ConsoleWrite, HugeCountsAreSplitIntoCallsTheKernelAccepts) {
  Guest g;
  g.kernel().script(SVC_write, [](ServiceCall& call) -> std::optional<int32_t> {
    return static_cast<int32_t>(call.slots[2]);
  });
  uint32_t src = 0x1000;
  EXPECT_EQ(g.calli("file_write_bytes", {g.u32(g.sym("stdout")), src, 0xF0000000}), 0);
  const auto& calls = g.kernel().calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].slots[1], src);
  EXPECT_EQ(calls[0].slots[2], 0x7FFFFFFFu);
  EXPECT_EQ(calls[1].slots[1], src + 0x7FFFFFFF);
  EXPECT_EQ(calls[1].slots[2], 0x70000001u);
}

}  // namespace
