// What the i386 build promises: programs made of the start-up object, their own objects, the
// runtime archive and the 32-bit libgcc's 64-bit division only, laid out in segments whose
// permissions say what they hold.
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>

#include "tests/harness/guest.h"

namespace nuv::test {
namespace {

const std::vector<std::string> kPrograms = {"whole_runtime", "prog_exit_code", "stack_demo"};

TEST(TargetBuild, LinksStartupRuntimeAndLibgccDivisionOnly) {
  const std::set<std::string> allowed = {"_divdi3.o", "_moddi3.o", "_udivdi3.o", "_umoddi3.o",
                                         "_udivmoddi4.o"};
  for (const auto& name : kPrograms) {
    SCOPED_TRACE(name);
    std::ifstream map(guest_program(name) + ".map");
    ASSERT_TRUE(map) << "no link map";
    std::string line;
    std::vector<std::string> loaded;
    while (std::getline(map, line)) {
      if (line.starts_with("LOAD ")) {
        std::string file = line.substr(5);
        loaded.push_back(file);
        EXPECT_TRUE(file.ends_with(".o") || file.ends_with("/runtime/libnuvrelos.a") ||
                    file.ends_with("/32/libgcc.a"))
            << file;
        EXPECT_EQ(file.find("libc"), std::string::npos) << file;
        for (const char* startup : {"crt1.o", "crti.o", "crtn.o", "crtbegin", "crtend"}) {
          EXPECT_EQ(file.find(startup), std::string::npos) << file;
        }
      }
      // "archive(member)": an archive member the link pulled in.
      size_t open = line.find('(');
      if (!line.empty() && line[0] == '/' && open != std::string::npos && line.ends_with(")")) {
        std::string archive = line.substr(0, open);
        if (archive.ends_with("/runtime/libnuvrelos.a")) continue;
        EXPECT_TRUE(archive.ends_with("/32/libgcc.a")) << line;
        EXPECT_TRUE(allowed.contains(line.substr(open + 1, line.size() - open - 2))) << line;
      }
    }
    EXPECT_EQ(std::count_if(loaded.begin(), loaded.end(),
                            [](const std::string& f) { return f.ends_with("/user_crt0.S.o"); }),
              1)
        << "the start-up object, once";
  }
}

TEST(TargetBuild, ProgramsCarryOnlyTheRuntimeMembersTheyUse) {
  // prog_exit_code writes and exits; the 1 MiB heap arena stays out of it.
  EXPECT_FALSE(ElfImage::load(guest_program("prog_exit_code")).symbol("g_heap").has_value());
  EXPECT_TRUE(ElfImage::load(guest_program("whole_runtime")).symbol("g_heap").has_value());
}

TEST(TargetBuild, SegmentsArePageAlignedWithHonestPermissions) {
  for (const auto& name : kPrograms) {
    SCOPED_TRACE(name);
    ElfImage image = ElfImage::load(guest_program(name));
    std::vector<uint32_t> perms;
    for (const Segment& s : image.segments()) {
      EXPECT_EQ(s.vaddr % 4096, 0u);
      perms.push_back(s.perms);
    }
    // A program without writable data has no data segment.
    if (perms.size() == 2) perms.push_back(kRead | kWrite);
    EXPECT_EQ(perms, (std::vector<uint32_t>{kRead | kExec, kRead, kRead | kWrite}));
    EXPECT_EQ(image.entry(), *image.symbol("_start"));
    // The records' sections are the metadata tests' work.
    if (auto rodata = image.section(".rodata")) {
      EXPECT_EQ(rodata->flags & (SHF_WRITE | SHF_EXECINSTR), 0u);
    }
  }
}

}  // namespace
}  // namespace nuv::test
