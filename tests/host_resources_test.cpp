// What a program costs the host stays bounded, and what the kernel writes into a program is
// what the program then runs: the working directory costs a constant number of descriptors
// at any depth, guest memory has a limit checked at load, and a read() into code is seen by
// the CPU as a store would be.
#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "tests/harness/guest.h"
#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

namespace fs = std::filesystem;

// A copy of a built guest program with its loadable segments changed.
std::string changed_program(const std::string& name, const fs::path& to,
                            const std::function<void(std::vector<Elf32_Phdr*>&)>& change) {
  std::string bytes = slurp(guest_program(name));
  Elf32_Ehdr eh;
  std::memcpy(&eh, bytes.data(), sizeof eh);
  std::vector<Elf32_Phdr> headers(eh.e_phnum);
  std::memcpy(headers.data(), bytes.data() + eh.e_phoff, headers.size() * sizeof(Elf32_Phdr));
  std::vector<Elf32_Phdr*> loads;
  for (auto& ph : headers) {
    if (ph.p_type == PT_LOAD) loads.push_back(&ph);
  }
  change(loads);
  std::memcpy(bytes.data() + eh.e_phoff, headers.data(), headers.size() * sizeof(Elf32_Phdr));
  spit(to, bytes);
  fs::permissions(to, fs::perms::owner_all);
  return to.string();
}

TEST(HostResources, TheWorkingDirectoryCostsNoDescriptorPerLevel) {
  struct Case {
    std::string name;
    int levels;
  };
  // With 64 descriptors in all, far fewer than the levels: each level that held one would
  // run out long before the bottom.
  const Case cases[] = {{"a few levels", 3}, {"1,100 levels", 1100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir root;
    Outcome o =
        shell("ulimit -n 64 && " + quoted(runner_path()) + " --root " + quoted(root.path.string()) +
              " " + quoted(guest_program("prog_hostile")) + " deep " + std::to_string(c.levels));
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_EQ(o.out, "climbed back\n");
    fs::path bottom = root.path;
    for (int i = 0; i < c.levels; ++i) bottom /= "d";
    EXPECT_EQ(slurp(bottom / "leaf"), "at the bottom\n");
  }
}

TEST(HostResources, ADirectoryMovedAwayUnderTheWorkingDirectoryIsNoWayUp) {
  // The working directory's way back up is the one the program came down by: when another
  // process moves it under a directory outside the root, ".." fails instead of following.
  Guest g;
  ScratchDir outside;
  fs::create_directories(g.root() / "a" / "b");
  ASSERT_EQ(g.calli("chdir", {g.str("a/b")}), 0);
  fs::rename(g.root() / "a" / "b", outside.path / "b");
  EXPECT_EQ(g.calli("chdir", {g.str("..")}), -2);
  EXPECT_EQ(g.calli("chdir", {g.str("/a")}), 0) << "the root is still the way to anywhere";
  EXPECT_EQ(g.calli("chdir", {g.str("..")}), 0);
}

TEST(HostResources, AProgramNeedingMoreThanTheMemoryLimitIsRefusedAtLoad) {
  ScratchDir dir;
  // 2 GB of .bss past the program's data.
  std::string big = changed_program("prog_exit_code", dir.path / "big_bss", [](auto& loads) {
    Elf32_Phdr* last = nullptr;
    for (Elf32_Phdr* ph : loads) {
      if (ph->p_memsz != 0 && (!last || ph->p_vaddr > last->p_vaddr)) last = ph;
    }
    last->p_memsz += 0x80000000u;
  });
  struct Case {
    std::string name;
    std::vector<std::string> options;
    int status;
    std::string says;
  };
  const std::vector<Case> cases = {
      {"the default limit", {}, 126, "more than the limit of 1024 MiB (--memory-limit)"},
      {"a lower limit", {"--memory-limit", "2G"}, 126, "more than the limit of 2048 MiB"},
      {"a limit it fits in", {"--memory-limit", "4G"}, 5, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string cmd = quoted(runner_path());
    for (const auto& o : c.options) cmd += " " + o;
    Outcome o = shell(cmd + " " + test::quoted(big) + " 5 >/dev/null");
    EXPECT_EQ(o.status, c.status) << o.err;
    if (c.says.empty()) continue;
    EXPECT_TRUE(o.err.starts_with("nuvrelos-run: " + big + ": the program needs ")) << o.err;
    EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
  }
  Outcome small = shell(quoted(runner_path()) + " --memory-limit 4M " +
                        quoted(guest_program("prog_exit_code")) + " 3 >/dev/null");
  EXPECT_EQ(small.status, 3) << "a small program fits a small limit: " << small.err;
}

TEST(HostResources, AFontThatIsThereButCannotBeReadIsNotCalledMissing) {
  ScratchDir dir;
  spit(dir.path / "font.psf", "not a font at all");
  struct Case {
    std::string name;
    std::string font;
    bool hint;  // the package that has the fonts is named
  };
  const Case cases[] = {{"a missing font", (dir.path / "missing.psf").string(), true},
                        {"a directory", dir.path.string(), false},
                        {"a damaged font", (dir.path / "font.psf").string(), false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome o = shell(quoted(runner_path()) + " --display headless --font " + quoted(c.font) + " " +
                      quoted(guest_program("stack_demo")) + " >/dev/null");
    EXPECT_EQ(o.status, 125) << o.err;
    EXPECT_EQ(o.err.find("console-setup-linux") != std::string::npos, c.hint) << o.err;
  }
}

TEST(KernelWrites, AReadIntoCodeIsWhatTheProgramRunsNext) {
  ScratchDir dir;
  // The program's code made writable, as a program that patches itself is linked.
  std::string program = changed_program("prog_hostile", dir.path / "patcher", [](auto& loads) {
    for (Elf32_Phdr* ph : loads) {
      if (ph->p_flags & PF_X) ph->p_flags |= PF_W;
    }
  });
  struct Case {
    std::string name;
    std::string code;
    int status;
  };
  const Case cases[] = {
      {"mov $42, %eax; ret", std::string("\xb8\x2a\x00\x00\x00\xc3", 6), 42},
      {"xor %eax, %eax; inc %eax; ret", std::string("\x31\xc0\x40\xc3", 4), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    spit(dir.path / "code", c.code);
    Outcome o = shell(quoted(runner_path()) + " --root " + quoted(dir.path.string()) + " " +
                      test::quoted(program) + " patch-code /code");
    EXPECT_EQ(o.status, c.status) << o.err;
  }
  // Unpatched, the same program may not write its code: the kernel refuses the read.
  spit(dir.path / "code", cases[0].code);
  Outcome refused = shell(quoted(runner_path()) + " --root " + quoted(dir.path.string()) + " " +
                          quoted(guest_program("prog_hostile")) + " patch-code /code");
  EXPECT_EQ(refused.status, 4) << refused.err;
}

}  // namespace
}  // namespace nuv::test
