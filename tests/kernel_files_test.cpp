// The simulated kernel's file, descriptor and directory services, reached through the real
// wrappers: what they do inside the root, and that nothing reaches outside it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "tests/harness/guest.h"
#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

class KernelFiles : public ::testing::Test {
 protected:
  int32_t open(const std::string& path, uint32_t flags) {
    return g.calli("open", {g.str(path), flags});
  }
  std::string read(int32_t fd, uint32_t n) {
    uint32_t buf = g.alloc(n + 1);
    int32_t got = g.calli("read", {static_cast<uint32_t>(fd), buf, n});
    if (got < 0) return "error " + std::to_string(got);
    return std::string(
        reinterpret_cast<const char*>(g.read(buf, static_cast<uint32_t>(got)).data()),
        static_cast<size_t>(got));
  }
  int32_t write(int32_t fd, const std::string& s) {
    return g.calli("write", {static_cast<uint32_t>(fd), g.str(s), static_cast<uint32_t>(s.size())});
  }

  Guest g;
};

TEST_F(KernelFiles, OpenReadSeekClose) {
  spit(g.root() / "data.txt", "hello world");
  int32_t fd = open("/data.txt", 0);
  ASSERT_GE(fd, 3);
  EXPECT_EQ(read(fd, 5), "hello");
  EXPECT_EQ(g.calli("lseek", {static_cast<uint32_t>(fd), 0, 1}), 5);
  EXPECT_EQ(read(fd, 100), " world");
  EXPECT_EQ(read(fd, 100), "");
  EXPECT_EQ(g.calli("lseek", {static_cast<uint32_t>(fd), static_cast<uint32_t>(-5), 2}), 6);
  EXPECT_EQ(read(fd, 100), "world");
  EXPECT_EQ(g.calli("lseek", {static_cast<uint32_t>(fd), 0, 0}), 0);
  EXPECT_EQ(g.calli("lseek", {static_cast<uint32_t>(fd), 0, 7}), -22) << "unknown origin";
  EXPECT_EQ(write(fd, "x"), -9) << "opened read-only";
  EXPECT_EQ(g.calli("close", {static_cast<uint32_t>(fd)}), 0);
  EXPECT_EQ(g.calli("close", {static_cast<uint32_t>(fd)}), -9);
}

TEST_F(KernelFiles, OpenFlagsCreateTruncateAndWrite) {
  EXPECT_EQ(open("/missing", 0), -2);
  int32_t fd = open("/new.txt", 0x241);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(write(fd, "abc"), 3);
  g.calli("close", {static_cast<uint32_t>(fd)});
  EXPECT_EQ(slurp(g.root() / "new.txt"), "abc");
  fd = open("/new.txt", 0x001);  // write-only, no truncation: overwrites in place
  EXPECT_EQ(write(fd, "X"), 1);
  EXPECT_EQ(read(fd, 1), "error -9");
  g.calli("close", {static_cast<uint32_t>(fd)});
  EXPECT_EQ(slurp(g.root() / "new.txt"), "Xbc");
  fd = g.calli("creat", {g.str("/new.txt"), 0});
  g.calli("close", {static_cast<uint32_t>(fd)});
  EXPECT_EQ(slurp(g.root() / "new.txt"), "") << "creat truncates";
}

TEST_F(KernelFiles, WritefileCreatesOrReplacesTheWholeFile) {
  spit(g.root() / "f", "old content that is long");
  std::string data("new\0bytes", 9);
  EXPECT_GE(g.calli("writefile", {g.str("/f"), g.put(data.data(), 9), 9}), 0);
  EXPECT_EQ(slurp(g.root() / "f"), data);
  EXPECT_GE(g.calli("writefile", {g.str("empty"), g.str(""), 0}), 0);
  EXPECT_TRUE(std::filesystem::exists(g.root() / "empty"));
  EXPECT_EQ(std::filesystem::file_size(g.root() / "empty"), 0u);
  EXPECT_EQ(g.calli("writefile", {g.str("/no/such/dir/f"), g.str("x"), 1}), -2);
  // A failed write leaves no stray temporary file behind.
  size_t entries = 0;
  for (auto& e : std::filesystem::directory_iterator(g.root())) entries += e.exists();
  EXPECT_EQ(entries, 2u);
}

TEST_F(KernelFiles, DirectoriesAndTheWorkingDirectory) {
  uint32_t buf = g.alloc(64);
  EXPECT_GT(g.calli("getcwd", {buf, 64}), 0);
  EXPECT_EQ(g.read_str(buf), "/");
  EXPECT_EQ(g.calli("mkdir", {g.str("/d")}), 0);
  EXPECT_EQ(g.calli("mkdir", {g.str("/d")}), -17);
  EXPECT_EQ(g.calli("chdir", {g.str("d")}), 0);
  EXPECT_GT(g.calli("getcwd", {buf, 64}), 0);
  EXPECT_EQ(g.read_str(buf), "/d");
  EXPECT_EQ(g.calli("getcwd", {buf, 2}), -34) << "too small a buffer";
  EXPECT_GE(g.calli("writefile", {g.str("inner"), g.str("x"), 1}), 0);
  EXPECT_TRUE(std::filesystem::exists(g.root() / "d" / "inner"));
  EXPECT_EQ(g.calli("rmdir", {g.str("/d")}), -39);
  EXPECT_EQ(g.calli("unlink", {g.str("inner")}), 0);
  EXPECT_EQ(g.calli("unlink", {g.str("inner")}), -2);
  EXPECT_EQ(g.calli("chdir", {g.str("..")}), 0);
  EXPECT_EQ(g.calli("rmdir", {g.str("d")}), 0);
  EXPECT_FALSE(std::filesystem::exists(g.root() / "d"));
  EXPECT_EQ(g.calli("chdir", {g.str("/missing")}), -2);
  EXPECT_EQ(g.calli("rmdir", {g.str("/")}), -13) << "the root stays";
}

TEST_F(KernelFiles, DupDup2AndPipes) {
  uint32_t fds = g.alloc(8);
  ASSERT_EQ(g.calli("pipe", {fds}), 0);
  int32_t r = static_cast<int32_t>(g.u32(fds)), w = static_cast<int32_t>(g.u32(fds + 4));
  EXPECT_EQ(write(w, "through the pipe"), 16);
  EXPECT_EQ(read(r, 7), "through");
  EXPECT_EQ(read(r, 100), " the pipe");
  EXPECT_EQ(read(r, 100), "error -11") << "empty, writer still open";
  int32_t w2 = g.calli("dup", {static_cast<uint32_t>(w)});
  g.calli("close", {static_cast<uint32_t>(w)});
  EXPECT_EQ(write(w2, "!"), 1);
  g.calli("close", {static_cast<uint32_t>(w2)});
  EXPECT_EQ(read(r, 100), "!");
  EXPECT_EQ(read(r, 100), "") << "end of input once every writer is closed";
  // dup2 over the console: what descriptor 1 then writes lands in the file.
  int32_t fd = open("/out", 0x241);
  EXPECT_EQ(g.calli("dup2", {static_cast<uint32_t>(fd), 1}), 1);
  EXPECT_EQ(write(1, "redirected"), 10);
  EXPECT_EQ(slurp(g.root() / "out"), "redirected");
  EXPECT_EQ(g.calli("dup2", {99, 1}), -9);
  EXPECT_EQ(g.calli("dup", {99}), -9);
}

TEST_F(KernelFiles, ConsoleAndKeys) {
  Guest k("whole_runtime", GuestOptions{.input = "ab"});
  EXPECT_EQ(k.calli("write", {1, k.str("to the console"), 14}), 14);
  EXPECT_EQ(k.calli("write", {2, k.str("!"), 1}), 1) << "descriptor 2 is the console too";
  EXPECT_EQ(k.console(), "to the console!");
  EXPECT_EQ(k.calli("getkey"), 'a');
  EXPECT_EQ(k.calli("getkey"), 'b');
  EXPECT_LT(k.calli("getkey"), 0) << "end of input";
  // Nobody watches a headless run: sleeping only moves the virtual clock.
  k.call("usleep", {16666});
  k.call("sleep", {2});
  EXPECT_EQ(k.kernel().clock_us(), 2016666u);
}

TEST_F(KernelFiles, BadGuestPointersGetEfaultNeverAHostCrash) {
  spit(g.root() / "data.txt", "0123456789");
  int32_t fd = open("/data.txt", 0);
  const uint32_t unmapped = 0x10, text = g.sym("main");
  EXPECT_EQ(g.calli("read", {static_cast<uint32_t>(fd), unmapped, 4}), -14);
  EXPECT_EQ(g.calli("read", {static_cast<uint32_t>(fd), text, 4}), -14) << "code is not writable";
  EXPECT_EQ(read(fd, 10), "0123456789") << "nothing was lost to the refused reads";
  EXPECT_EQ(g.calli("write", {1, unmapped, 4}), -14);
  EXPECT_EQ(g.calli("open", {unmapped, 0}), -14);
  EXPECT_EQ(g.calli("writefile", {g.str("/f"), unmapped, 4}), -14);
  EXPECT_FALSE(std::filesystem::exists(g.root() / "f"));
  EXPECT_EQ(g.calli("pipe", {text}), -14);
  EXPECT_EQ(g.calli("getcwd", {unmapped, 64}), -14);
  EXPECT_EQ(g.calli("getcwd", {text, 64}), -14) << "readable is not writable";
  // A buffer that runs into an unmapped page: only what fits is read.
  uint32_t end_of_stack = layout::kStackTop - 4;
  g.calli("lseek", {static_cast<uint32_t>(fd), 0, 0});
  EXPECT_EQ(g.calli("read", {static_cast<uint32_t>(fd), end_of_stack, 10}), 4);
  // A path with no terminator before unmapped memory.
  std::vector<char> unterminated(4, 'a');
  g.write(end_of_stack, unterminated.data(), 4);
  EXPECT_EQ(g.calli("open", {end_of_stack, 0}), -14);
}

// Nothing to move is no fault, wherever the pointer points: Linux answers 0 for these too. The
// runtime's wrappers refuse a null buffer themselves, so the calls go to the kernel directly.
TEST_F(KernelFiles, ZeroLengthTransfersNeverFault) {
  spit(g.root() / "data.txt", "0123456789");
  const uint32_t fd = static_cast<uint32_t>(open("/data.txt", 0));
  const uint32_t null = 0, unmapped = 0x10, text = g.sym("main");
  struct Case {
    const char* what;
    uint32_t service;
    Slots slots;
  };
  const Case cases[] = {
      {"read into null", SVC_read, {fd, null, 0}},
      {"read into unmapped memory", SVC_read, {fd, unmapped, 0}},
      {"read into code", SVC_read, {fd, text, 0}},
      {"write from null", SVC_write, {1, null, 0}},
      {"write from code", SVC_write, {1, text, 0}},
      {"writefile from code", SVC_writefile, {g.str("/empty"), text, 0}},
      {"writefile from null", SVC_writefile, {g.str("/empty"), null, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(g.calli("nuvrelos_syscall", {c.service, c.slots[0], c.slots[1], c.slots[2]}), 0);
  }
  EXPECT_EQ(read(static_cast<int32_t>(fd), 10), "0123456789") << "nothing was consumed";
  EXPECT_TRUE(std::filesystem::exists(g.root() / "empty"));
  EXPECT_EQ(slurp(g.root() / "empty"), "");
}

TEST_F(KernelFiles, NoPathReachesOutsideTheRoot) {
  std::filesystem::path outside =
      g.root().parent_path() / ("outside-" + g.root().filename().string());
  std::filesystem::create_directory(outside);
  spit(outside / "secret", "secret");
  spit(g.root() / "inside", "inside");
  std::filesystem::create_directory_symlink(outside, g.root() / "link_out");
  std::filesystem::create_symlink("../../../../../../" + outside.string() + "/secret",
                                  g.root() / "rel_link");
  std::filesystem::create_symlink(outside / "secret", g.root() / "abs_link");
  std::filesystem::create_symlink("loop", g.root() / "loop");
  std::filesystem::create_directory(g.root() / "d");
  std::filesystem::create_symlink("/inside", g.root() / "d" / "abs_in");
  const std::string up = "../" + outside.filename().string() + "/secret";
  struct Case {
    std::string path;
    std::string expect;  // content read, or "error N"
  };
  const std::vector<Case> cases = {
      {up, "error -2"},
      {"/../../../../" + up, "error -2"},
      {"/../inside", "inside"},
      {"../../inside", "inside"},
      {outside.string() + "/secret", "error -2"},  // a host path is a path inside the root
      {"/link_out/secret", "error -2"},            // an absolute link target starts at the root
      {"/abs_link", "error -2"},
      {"/d/abs_in", "inside"},  // and one that points inside is followed there
      {"/rel_link", "error -2"},
      {"/loop", "error -40"},
      {"", "error -2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    int32_t fd = open(c.path, 0);
    std::string got = fd < 0 ? "error " + std::to_string(fd) : read(fd, 100);
    EXPECT_EQ(got, c.expect);
    if (fd >= 0) g.calli("close", {static_cast<uint32_t>(fd)});
  }
  // Writing, creating and removing through the same escapes stays inside too.
  EXPECT_LT(g.calli("writefile", {g.str(up), g.str("x"), 1}), 0);
  EXPECT_LT(g.calli("unlink", {g.str(up)}), 0);
  EXPECT_EQ(g.calli("unlink", {g.str("/abs_link")}), 0) << "removes the link, not its target";
  EXPECT_EQ(slurp(outside / "secret"), "secret");
  EXPECT_EQ(g.calli("chdir", {g.str("/link_out")}), -2);
  std::filesystem::remove_all(outside);
}

TEST_F(KernelFiles, UnknownAndUnbackedServicesAnswerNotImplemented) {
  for (uint32_t number : {0u, 7u, 200u, 0xFFFFFFFFu, static_cast<uint32_t>(SVC_spawn),
                          static_cast<uint32_t>(SVC_mkfifo), static_cast<uint32_t>(SVC_waitpid),
                          static_cast<uint32_t>(SVC_nuvrelfs_stream_end)}) {
    SCOPED_TRACE(number);
    EXPECT_EQ(g.calli("nuvrelos_syscall", {number, 1, 2, 3}), -38);
  }
}

TEST_F(KernelFiles, NewDescriptorsTakeTheLowestFreeNumber) {
  spit(g.root() / "f", "x");
  int32_t a = open("/f", 0), b = open("/f", 0);
  ASSERT_EQ(b, a + 1);
  g.calli("close", {static_cast<uint32_t>(a)});
  EXPECT_EQ(g.calli("dup", {static_cast<uint32_t>(b)}), a);
  g.calli("close", {static_cast<uint32_t>(a)});
  EXPECT_EQ(open("/f", 0), a);
}

TEST_F(KernelFiles, RunningOutOfDescriptorsIsAnError) {
  spit(g.root() / "f", "x");
  int32_t last = 0;
  for (int i = 0; i < 100 && last >= 0; ++i) last = open("/f", 0);
  EXPECT_EQ(last, -24);
}

}  // namespace
}  // namespace nuv::test
