// The simulated kernel's file, descriptor and directory services, reached through the real
// wrappers: what they do inside the root, that nothing reaches outside it, not even while the
// tree changes underneath, and that writefile keeps what it replaces, through a kill mid-write.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "host/kernel/whole_file.h"
#include "tests/harness/guest.h"
#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

namespace fs = std::filesystem;

uint32_t u(int32_t v) { return static_cast<uint32_t>(v); }

std::set<std::string> listing(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

// A directory beside the root that the guest must never reach.
struct Outside {
  explicit Outside(const fs::path& root)
      : dir(root.parent_path() / ("outside-" + root.filename().string())) {
    fs::create_directory(dir);
    spit(dir / "f", "secret");
  }
  ~Outside() { fs::remove_all(dir); }
  fs::path dir;
};

// The start of a file (up to 63 bytes), or "error N".
std::string read_file(Guest& g, const std::string& path) {
  int32_t fd = g.calli("open", {g.str(path), 0});
  if (fd < 0) return "error " + std::to_string(fd);
  uint32_t buf = g.alloc(64);
  int32_t n = g.calli("read", {u(fd), buf, 63});
  g.calli("close", {u(fd)});
  return n < 0 ? "error " + std::to_string(n) : g.read_str(buf);
}

class KernelFiles : public ::testing::Test {
 protected:
  int32_t open(const std::string& path, uint32_t flags) {
    return g.calli("open", {g.str(path), flags});
  }
  std::string read(int32_t fd, uint32_t n) {
    uint32_t buf = g.alloc(n + 1);
    int32_t got = g.calli("read", {u(fd), buf, n});
    if (got < 0) return "error " + std::to_string(got);
    return g.read_bytes(buf, u(got));
  }
  int32_t write(int32_t fd, const std::string& s) {
    return g.calli("write", {u(fd), g.str(s), static_cast<uint32_t>(s.size())});
  }

  Guest g;
};

TEST_F(KernelFiles, OpenReadSeekClose) {
  spit(g.root() / "data.txt", "hello world");
  int32_t fd = open("/data.txt", 0);
  ASSERT_GE(fd, 3);
  EXPECT_EQ(read(fd, 5), "hello");
  EXPECT_EQ(g.calli("lseek", {u(fd), 0, 1}), 5);
  EXPECT_EQ(read(fd, 100), " world");
  EXPECT_EQ(read(fd, 100), "");
  EXPECT_EQ(g.calli("lseek", {u(fd), u(-5), 2}), 6);
  EXPECT_EQ(read(fd, 100), "world");
  EXPECT_EQ(g.calli("lseek", {u(fd), 0, 0}), 0);
  EXPECT_EQ(g.calli("lseek", {u(fd), 0, 7}), -22) << "unknown origin";
  EXPECT_EQ(write(fd, "x"), -9) << "opened read-only";
  EXPECT_EQ(g.calli("close", {u(fd)}), 0);
  EXPECT_EQ(g.calli("close", {u(fd)}), -9);
}

TEST_F(KernelFiles, OpenFlagsCreateTruncateAndWrite) {
  int32_t fd = open("/new.txt", 0x241);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(write(fd, "abc"), 3);
  g.calli("close", {u(fd)});
  EXPECT_EQ(slurp(g.root() / "new.txt"), "abc");
  fd = open("/new.txt", 0x001);  // write-only, no truncation: overwrites in place
  EXPECT_EQ(write(fd, "X"), 1);
  EXPECT_EQ(read(fd, 1), "error -9");
  g.calli("close", {u(fd)});
  EXPECT_EQ(slurp(g.root() / "new.txt"), "Xbc");
  fd = g.calli("creat", {g.str("/new.txt"), 0});
  g.calli("close", {u(fd)});
  EXPECT_EQ(slurp(g.root() / "new.txt"), "") << "creat truncates";
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
  // Alone, without a machine to run anyone else, nothing could ever fill it: the call does not
  // wait.
  EXPECT_EQ(read(r, 100), "error -11") << "empty, writer still open";
  int32_t w2 = g.calli("dup", {u(w)});
  g.calli("close", {u(w)});
  EXPECT_EQ(write(w2, "!"), 1);
  g.calli("close", {u(w2)});
  EXPECT_EQ(read(r, 100), "!");
  EXPECT_EQ(read(r, 100), "") << "end of input once every writer is closed";
  // dup2 over the console: what descriptor 1 then writes lands in the file.
  int32_t fd = open("/out", 0x241);
  EXPECT_EQ(g.calli("dup2", {u(fd), 1}), 1);
  EXPECT_EQ(write(1, "redirected"), 10);
  EXPECT_EQ(slurp(g.root() / "out"), "redirected");
  EXPECT_EQ(g.calli("dup2", {99, 1}), -9);
  EXPECT_EQ(g.calli("dup", {99}), -9);
}

TEST_F(KernelFiles, ConsoleAndKeys) {
  Guest k("whole_runtime", GuestOptions{.input = "ab"});
  EXPECT_EQ(k.calli("write", {2, k.str("!"), 1}), 1);
  EXPECT_EQ(k.console(), "!") << "descriptor 2 is the console too";
  EXPECT_EQ(k.calli("getkey"), 'a');
  EXPECT_EQ(k.calli("getkey"), 'b');
  EXPECT_LT(k.calli("getkey"), 0) << "end of input";
  // Nobody watches a headless run: sleeping only moves the virtual clock.
  k.call("usleep", {16666});
  k.call("sleep", {2});
  EXPECT_EQ(k.kernel().clock_us(), 2016666u);
}

TEST_F(KernelFiles, NoPathReachesOutsideTheRoot) {
  Outside outside(g.root());
  spit(g.root() / "inside", "inside");
  fs::create_directory_symlink(outside.dir, g.root() / "link_out");
  fs::create_symlink("../../../../../../" + outside.dir.string() + "/f", g.root() / "rel_link");
  fs::create_symlink(outside.dir / "f", g.root() / "abs_link");
  fs::create_symlink("loop", g.root() / "loop");
  fs::create_directory(g.root() / "d");
  fs::create_symlink("/inside", g.root() / "d" / "abs_in");
  const std::string up = "../" + outside.dir.filename().string() + "/f";
  struct Case {
    std::string path;
    std::string expect;  // content read, or "error N"
  };
  const std::vector<Case> cases = {
      {up, "error -2"},
      {"/../inside", "inside"},
      {"../../inside", "inside"},
      {outside.dir.string() + "/f", "error -2"},  // a host path is a path inside the root
      {"/link_out/f", "error -2"},                // an absolute link target starts at the root
      {"/abs_link", "error -2"},
      {"/d/abs_in", "inside"},  // and one that points inside is followed there
      {"/rel_link", "error -2"},
      {"/loop", "error -40"},
      {"", "error -2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(read_file(g, c.path), c.expect);
  }
  // Writing, creating and removing through the same escapes stays inside too.
  EXPECT_LT(g.calli("writefile", {g.str(up), g.str("x"), 1}), 0);
  EXPECT_LT(g.calli("unlink", {g.str(up)}), 0);
  EXPECT_EQ(g.calli("unlink", {g.str("/abs_link")}), 0) << "removes the link, not its target";
  EXPECT_EQ(slurp(outside.dir / "f"), "secret");
  EXPECT_EQ(g.calli("chdir", {g.str("/link_out")}), -2);
}

TEST_F(KernelFiles, UnknownAndUnbackedServicesAnswerNotImplemented) {
  for (uint32_t number :
       {0u, 7u, 200u, 0xFFFFFFFFu, static_cast<uint32_t>(SVC_gui_draw_line),
        static_cast<uint32_t>(SVC_gui_load_font), static_cast<uint32_t>(SVC_gui_blit_rgb565),
        static_cast<uint32_t>(SVC_gui_draw_char_font)}) {
    SCOPED_TRACE(number);
    EXPECT_EQ(g.calli("nuvrelos_syscall", {number, 1, 2, 3}), -38);
  }
}

TEST_F(KernelFiles, NewDescriptorsTakeTheLowestFreeNumber) {
  spit(g.root() / "f", "x");
  int32_t a = open("/f", 0), b = open("/f", 0);
  ASSERT_EQ(b, a + 1);
  g.calli("close", {u(a)});
  EXPECT_EQ(g.calli("dup", {u(b)}), a);
  g.calli("close", {u(a)});
  EXPECT_EQ(open("/f", 0), a);
  int32_t last = 0;
  for (int i = 0; i < 100 && last >= 0; ++i) last = open("/f", 0);
  EXPECT_EQ(last, -24) << "running out of descriptors is an error";
}

struct Resolvers {
  const char* name;
  RootFs::Resolver resolver;
};
const Resolvers kResolvers[] = {{"openat2 where the host has it", RootFs::Resolver::Auto},
                                {"walk", RootFs::Resolver::Walk}};

TEST(RootUnderChange, ASwappedLinkNeverLeadsOutside) {
  for (const auto& r : kResolvers) {
    SCOPED_TRACE(r.name);
    Guest g("whole_runtime", GuestOptions{.resolver = r.resolver});
    Outside outside(g.root());
    fs::create_directory(g.root() / "in");
    spit(g.root() / "in" / "f", "inside");
    fs::create_directory_symlink("in", g.root() / "flip");
    // Another process flips the link between a directory inside and one outside, as fast as
    // it can, while the guest reads and writes through it.
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
      const fs::path next = g.root() / "flip.next";
      for (bool out = true; !stop; out = !out) {
        fs::path target = out ? outside.dir : fs::path("in");
        ::symlink(target.c_str(), next.c_str());
        ::rename(next.c_str(), (g.root() / "flip").c_str());
      }
    });
    uint32_t scratch = g.alloc(16);
    int reads = 0, inside_reads = 0, outside_reads = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    uint32_t write_flags = 0x241;  // write-only, create, truncate
    while (std::chrono::steady_clock::now() < deadline) {
      std::string content = read_file(g, "/flip/f");
      reads += !content.starts_with("error");
      inside_reads += content == "inside";
      outside_reads += content == "secret";
      g.calli("writefile", {g.str("/flip/w"), g.str("guest"), 5});
      int32_t fd = g.calli("open", {g.str("flip/c"), write_flags});
      if (fd >= 0) {
        g.calli("write", {u(fd), scratch, 1});
        g.calli("close", {u(fd)});
      }
      g.kernel().clear_calls();
    }
    stop = true;
    swapper.join();
    EXPECT_EQ(outside_reads, 0) << "of " << reads << " reads";
    EXPECT_GT(inside_reads, 0) << "the link was never seen inside: the test proves nothing";
    EXPECT_EQ(listing(outside.dir), std::set<std::string>{"f"});
    EXPECT_EQ(slurp(outside.dir / "f"), "secret");
  }
}

TEST(RootUnderChange, TheWorkingDirectoryIsTheDirectoryEnteredNotItsName) {
  for (const auto& r : kResolvers) {
    SCOPED_TRACE(r.name);
    Guest g("whole_runtime", GuestOptions{.resolver = r.resolver});
    Outside outside(g.root());
    fs::create_directory(g.root() / "d");
    spit(g.root() / "d" / "f", "inside");
    ASSERT_EQ(g.calli("chdir", {g.str("d")}), 0);
    // The directory is moved away and its name now leads outside.
    fs::rename(g.root() / "d", g.root() / "d.old");
    fs::create_directory_symlink(outside.dir, g.root() / "d");
    EXPECT_EQ(read_file(g, "f"), "inside");
    EXPECT_EQ(g.calli("writefile", {g.str("w"), g.str("guest"), 5}), 5);
    EXPECT_EQ(slurp(g.root() / "d.old" / "w"), "guest");
    EXPECT_EQ(listing(outside.dir), std::set<std::string>{"f"});
  }
}

TEST(Writefile, RefusesDirectoriesBeforeCreatingAnything) {
  // The root sits in a directory of its own, so nothing but the guest changes beside it.
  ScratchDir parent;
  fs::create_directories(parent.path / "root" / "sub");
  Guest g("whole_runtime", GuestOptions{.root = parent.path / "root"});
  const auto beside = listing(g.root().parent_path());
  for (const char* path : {"/", ".", "..", "sub/..", "sub", "/sub/.", "//", "sub/../.."}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(g.calli("writefile", {g.str(path), g.str("data"), 4}), -21);
  }
  EXPECT_EQ(listing(g.root()), std::set<std::string>{"sub"});
  EXPECT_TRUE(fs::is_empty(g.root() / "sub"));
  EXPECT_EQ(listing(g.root().parent_path()), beside) << "nothing beside the root either";
}

TEST(Writefile, KeepsTheModeAndOwnerOfWhatItReplaces) {
  Guest g;
  for (mode_t mode : {0600u, 0640u, 0755u, 0444u}) {
    SCOPED_TRACE(mode);
    spit(g.root() / "f", "old");
    ASSERT_EQ(::chmod((g.root() / "f").c_str(), mode), 0);
    EXPECT_EQ(g.calli("writefile", {g.str("f"), g.str("new"), 3}), 3);
    struct stat st;
    ASSERT_EQ(::stat((g.root() / "f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
    EXPECT_EQ(st.st_uid, ::geteuid());
    EXPECT_EQ(slurp(g.root() / "f"), "new");
  }
  EXPECT_EQ(g.calli("writefile", {g.str("fresh"), g.str("x"), 1}), 1);
  struct stat st;
  ASSERT_EQ(::stat((g.root() / "fresh").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u) << "a new file";
}

TEST(Writefile, HardLinksAreSplitByDefaultAndKeptOnRequest) {
  struct Case {
    bool through_links;
    std::string other_link;  // what the file's other name holds afterwards
  };
  for (const Case& c : {Case{false, "old"}, Case{true, "new content"}}) {
    SCOPED_TRACE(c.through_links);
    Guest g("whole_runtime", GuestOptions{.write_through_links = c.through_links});
    spit(g.root() / "f", "old");
    fs::create_hard_link(g.root() / "f", g.root() / "other");
    EXPECT_EQ(g.calli("writefile", {g.str("f"), g.str("new content"), 11}), 11);
    EXPECT_EQ(slurp(g.root() / "f"), "new content");
    EXPECT_EQ(slurp(g.root() / "other"), c.other_link);
  }
}

TEST(Writefile, TakesEveryNameThatOpenTakes) {
  Guest g;
  // The error, or 0, for writefile and for open with create alike.
  for (auto [length, expect] : {std::pair<size_t, int32_t>{255, 0}, {256, -36}}) {
    SCOPED_TRACE(length);
    std::string name(length, 'n');
    int32_t written = g.calli("writefile", {g.str(name), g.str("x"), 1});
    EXPECT_EQ(written, expect == 0 ? 1 : expect);
    std::error_code ec;
    fs::remove(g.root() / name, ec);
    int32_t fd = g.calli("open", {g.str(name), 0x241});
    EXPECT_EQ(fd < 0 ? fd : 0, expect);
    fs::remove(g.root() / name, ec);
  }
  EXPECT_TRUE(fs::is_empty(g.root()));
}

// A temporary file its writer still holds stays, and so does the old content; once nobody
// holds it, as after a writer killed mid-write, a later write removes it.
TEST(Writefile, RemovesALeftTemporaryFileOnlyOnceNobodyHoldsIt) {
  Guest g;
  spit(g.root() / "f", "old");
  std::string temp = whole_file_temp_name("f");
  int held = ::open((g.root() / temp).c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  EXPECT_EQ(g.calli("writefile", {g.str("f"), g.str("new"), 3}), -11);
  EXPECT_TRUE(fs::exists(g.root() / temp));
  ::close(held);
  // A writer killed mid-write: the file size limit stops it with SIGXFSZ after 4 KB.
  pid_t child = ::fork();
  if (child == 0) {
    Guest k("whole_runtime", GuestOptions{.root = g.root()});
    rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::string big(64 * 1024, 'x');
    k.calli("writefile", {k.str("f"), k.put(big.data(), static_cast<uint32_t>(big.size())),
                          static_cast<uint32_t>(big.size())});
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the writer was meant to die mid-write";
  EXPECT_EQ(slurp(g.root() / "f"), "old") << "the old content survives the kill";
  EXPECT_EQ(g.calli("writefile", {g.str("f"), g.str("new"), 3}), 3);
  EXPECT_EQ(listing(g.root()), std::set<std::string>{"f"});
  EXPECT_EQ(slurp(g.root() / "f"), "new");
}

}  // namespace
}  // namespace nuv::test
