// The root holds while the tree changes underneath, and writefile keeps what it replaces:
// attacks by another process on the host, by the guest alone, and by a kill mid-write.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <set>
#include <thread>

#include "host/kernel/whole_file.h"
#include "tests/harness/guest.h"
#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

namespace fs = std::filesystem;

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

struct Resolvers {
  const char* name;
  RootFs::Resolver resolver;
};
const Resolvers kResolvers[] = {{"openat2 where the host has it", RootFs::Resolver::Auto},
                                {"walk", RootFs::Resolver::Walk}};

int32_t read_file(Guest& g, const std::string& path, std::string& content) {
  int32_t fd = g.calli("open", {g.str(path), 0});
  if (fd < 0) return fd;
  uint32_t buf = g.alloc(64);
  int32_t n = g.calli("read", {static_cast<uint32_t>(fd), buf, 63});
  g.calli("close", {static_cast<uint32_t>(fd)});
  if (n > 0) content = g.read_str(buf);
  return n;
}

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
      std::string content;
      if (read_file(g, "/flip/f", content) > 0) {
        ++reads;
        inside_reads += content == "inside";
        outside_reads += content == "secret";
      }
      g.calli("writefile", {g.str("/flip/w"), g.str("guest"), 5});
      int32_t fd = g.calli("open", {g.str("flip/c"), write_flags});
      if (fd >= 0) {
        g.calli("write", {static_cast<uint32_t>(fd), scratch, 1});
        g.calli("close", {static_cast<uint32_t>(fd)});
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
    std::string content;
    EXPECT_GT(read_file(g, "f", content), 0);
    EXPECT_EQ(content, "inside");
    EXPECT_EQ(g.calli("writefile", {g.str("w"), g.str("guest"), 5}), 5);
    EXPECT_EQ(slurp(g.root() / "d.old" / "w"), "guest");
    EXPECT_EQ(g.calli("mkdir", {g.str("m")}), 0);
    EXPECT_TRUE(fs::is_directory(g.root() / "d.old" / "m"));
    spit(g.root() / "top", "top");
    EXPECT_GT(read_file(g, "../top", content), 0) << "'..' leads back into the root";
    EXPECT_EQ(content, "top");
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
  struct Case {
    mode_t mode;
  };
  for (const Case& c : {Case{0600}, Case{0640}, Case{0755}, Case{0444}}) {
    SCOPED_TRACE(c.mode);
    spit(g.root() / "f", "old");
    ASSERT_EQ(::chmod((g.root() / "f").c_str(), c.mode), 0);
    EXPECT_EQ(g.calli("writefile", {g.str("f"), g.str("new"), 3}), 3);
    struct stat st;
    ASSERT_EQ(::stat((g.root() / "f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.mode);
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
  struct Case {
    size_t length;
    int32_t expect;  // for writefile and for open with create alike
  };
  for (const Case& c : {Case{200, 0}, Case{240, 0}, Case{250, 0}, Case{255, 0}, Case{256, -36}}) {
    SCOPED_TRACE(c.length);
    std::string name(c.length, 'n');
    int32_t written = g.calli("writefile", {g.str(name), g.str("x"), 1});
    EXPECT_EQ(written, c.expect == 0 ? 1 : c.expect);
    std::error_code ec;
    fs::remove(g.root() / name, ec);
    int32_t fd = g.calli("open", {g.str(name), 0x241});
    EXPECT_EQ(fd < 0 ? fd : 0, c.expect);
    fs::remove(g.root() / name, ec);
  }
  EXPECT_TRUE(fs::is_empty(g.root()));
}

TEST(Writefile, ALaterWriteRemovesWhatAKilledOneLeft) {
  Guest g;
  spit(g.root() / "f", "old");
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

TEST(Writefile, LeavesATemporaryFileItsWriterStillHolds) {
  Guest g;
  spit(g.root() / "f", "old");
  std::string temp = whole_file_temp_name("f");
  int held = ::open((g.root() / temp).c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  EXPECT_EQ(g.calli("writefile", {g.str("f"), g.str("new"), 3}), -11);
  EXPECT_EQ(slurp(g.root() / "f"), "old");
  EXPECT_TRUE(fs::exists(g.root() / temp));
  ::close(held);
  EXPECT_EQ(g.calli("writefile", {g.str("f"), g.str("new"), 3}), 3);
  EXPECT_EQ(listing(g.root()), std::set<std::string>{"f"});
}

TEST(GuestPaths, LongerThanTheLimitIsNameTooLong) {
  Guest g;
  std::string deep;
  while (deep.size() < 5000) deep += "a/";
  struct Case {
    std::string service;
    size_t length;
    int32_t expect;
  };
  const std::vector<Case> cases = {
      {"open", 4096, -36},   {"open", 4097, -36},  {"open", 8000, -36},
      {"chdir", 4097, -36},  {"mkdir", 4097, -36}, {"writefile", 4097, -36},
      {"unlink", 4097, -36}, {"open", 4095, -2},  // as long as a path may be: looked up
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.service + " " + std::to_string(c.length));
    uint32_t path = g.str(deep.substr(0, c.length));
    EXPECT_EQ(g.calli(c.service, {path, g.str("x"), 1}), c.expect);
  }
}

}  // namespace
}  // namespace nuv::test
