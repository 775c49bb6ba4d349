// What the i386 build promises: programs made of the start-up object, their own objects, the
// runtime archive and the 32-bit libgcc's 64-bit division only, laid out in segments whose
// permissions say what they hold; and the command and package records of stack_demo, read
// from the built file the way the system's tools read them.
#include <elf.h>
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "host/runner/meta_record.h"
#include "tests/harness/guest.h"

namespace nuv::test {
namespace {

using std::string_literals::operator""s;

const std::vector<std::string> kPrograms = {"whole_runtime", "prog_exit_code", "stack_demo"};

TEST(TargetBuild, LinksStartupRuntimeAndLibgccDivisionOnly) {
  const std::set<std::string> allowed = {"_divdi3.o",  "_moddi3.o",     "_udivdi3.o",
                                         "_umoddi3.o", "_udivmoddi4.o", "_divmoddi4.o"};
  for (const auto& name : kPrograms) {
    SCOPED_TRACE(name);
    std::ifstream map(guest_program(name) + ".map");
    ASSERT_TRUE(map) << "no link map";
    std::string line;
    int startups = 0;
    while (std::getline(map, line)) {
      if (line.starts_with("LOAD ")) {
        std::string file = line.substr(5);
        startups += file.ends_with("/user_crt0.S.o");
        EXPECT_TRUE(file.ends_with(".o") || file.ends_with("/runtime/libnuvrelos.a") ||
                    file.ends_with("/32/libgcc.a"))
            << file;
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
    EXPECT_EQ(startups, 1) << "the start-up object, once";
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

std::vector<uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

TEST(MetadataSections, HoldExactlyTheRecordsAndLoadReadOnly) {
  struct Case {
    const char *section, *symbol;
    std::string bytes;
    uint32_t align;
  } cases[] = {
      {".nuvrelos.cmdmeta", "g_cmdmeta_0",
       "NCMD\x01\0\0\0Open compositor stack demo.\0stack_demo\0\0"s, 32},
      {".nuvrelos.pkgmeta", "g_pkgmeta_0", "NPKG\x01\0\0\0stack_demo\0002\0\0"s, 4},
  };
  ElfImage image = ElfImage::load(guest_program("stack_demo"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.section);
    auto section = image.section(c.section);
    ASSERT_TRUE(section.has_value());
    EXPECT_EQ(section->bytes, bytes_of(c.bytes));
    EXPECT_EQ(section->flags & (SHF_ALLOC | SHF_WRITE | SHF_EXECINSTR), uint32_t{SHF_ALLOC});
    EXPECT_EQ(section->align, c.align);
    EXPECT_EQ(section->addr % c.align, 0u);
    EXPECT_EQ(image.symbol(c.symbol), section->addr) << "the record starts the section";
    // Loaded with the constant data: in a readable, neither writable nor executable segment.
    int loaded = 0;
    for (const auto& seg : image.segments()) {
      if (section->addr >= seg.vaddr && section->addr + c.bytes.size() <= seg.vaddr + seg.memsz) {
        ++loaded;
        EXPECT_EQ(seg.perms, uint32_t{kRead});
      }
    }
    EXPECT_EQ(loaded, 1);
  }
}

TEST(MetadataRecord, ParsingAcceptsOnlyWellFormedRecords) {
  struct Case {
    std::string bytes;
    std::vector<std::string> strings;  // when accepted
    const char* error;                 // part of the message when refused; null: accepted
  } cases[] = {
      {"NCMD\x01\0\0\0ab\0c\0\0"s, {"ab", "c"}, nullptr},
      {"NCMD\x01\0\0\0\0"s, {}, nullptr},
      {"NCMD\x01\0\0\0"s, {}, "too short"},
      {"NPKG\x01\0\0\0a\0\0"s, {}, "bad magic"},
      {"NCMD\x02\0\0\0a\0\0"s, {}, "unsupported version 2"},
      {"NCMD\0\0\0\001a\0\0"s, {}, "unsupported version 16777216"},
      {"NCMD\x01\0\0\0a\0bc"s, {}, "not closed"},
      {"NCMD\x01\0\0\0a\0\0\0\0"s, {}, "2 stray bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    try {
      MetaRecord record = parse_meta_record(bytes_of(c.bytes), "NCMD", "record");
      EXPECT_EQ(c.error, nullptr) << "accepted";
      EXPECT_EQ(record.version, 1u);
      EXPECT_EQ(record.strings, c.strings);
    } catch (const MetaError& e) {
      ASSERT_NE(c.error, nullptr) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace nuv::test
