// The command and package records of the stack_demo executable, read from the built file the
// way the system's tools read them.
#include <elf.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/emu/elf_image.h"
#include "host/runner/meta_record.h"
#include "tests/harness/guest.h"

namespace {

std::vector<uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

nuv::ElfImage demo_image() { return nuv::ElfImage::load(nuv::test::guest_program("stack_demo")); }

TEST(MetadataSections, HoldExactlyTheRecordsAndLoadReadOnly) {
  struct Case {
    const char* section;
    const char* symbol;
    std::string bytes;
    uint32_t align;
  } cases[] = {
      {".nuvrelos.cmdmeta", "g_cmdmeta_0",
       std::string("NCMD\x01\0\0\0Open compositor stack demo.\0stack_demo\0\0", 48), 32},
      {".nuvrelos.pkgmeta", "g_pkgmeta_0",
       std::string("NPKG\x01\0\0\0stack_demo\0"
                   "2\0\0",
                   22),
       4},
  };
  nuv::ElfImage image = demo_image();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.section);
    auto section = image.section(c.section);
    ASSERT_TRUE(section.has_value());
    EXPECT_EQ(section->bytes, bytes_of(c.bytes));
    EXPECT_NE(section->flags & SHF_ALLOC, 0u);
    EXPECT_EQ(section->flags & SHF_WRITE, 0u);
    EXPECT_EQ(section->flags & SHF_EXECINSTR, 0u);
    EXPECT_EQ(section->align, c.align);
    EXPECT_EQ(section->addr % c.align, 0u);
    // The record starts at the section's first byte.
    EXPECT_EQ(image.symbol(c.symbol), section->addr);
    // Loaded with the constant data: inside a readable, neither writable nor executable
    // segment.
    bool loaded = false;
    for (const auto& seg : image.segments()) {
      if (section->addr >= seg.vaddr && section->addr + c.bytes.size() <= seg.vaddr + seg.memsz) {
        loaded = true;
        EXPECT_EQ(seg.perms, uint32_t{nuv::kRead});
      }
    }
    EXPECT_TRUE(loaded);
  }
}

TEST(MetadataSections, ReadAsTheToolsReadThem) {
  EXPECT_EQ(nuv::describe_metadata(demo_image()),
            "command: stack_demo\n"
            "description: Open compositor stack demo.\n"
            "package: stack_demo 2\n");
}

TEST(MetadataRecord, ParsingAcceptsOnlyWellFormedRecords) {
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<std::string> strings;  // when accepted
    const char* error;                 // part of the message when refused; null: accepted
  } cases[] = {
      {"two strings", std::string("NCMD\x01\0\0\0ab\0c\0\0", 14), {"ab", "c"}, nullptr},
      {"no strings", std::string("NCMD\x01\0\0\0\0", 9), {}, nullptr},
      {"empty", "", {}, "too short"},
      {"header only", std::string("NCMD\x01\0\0\0", 8), {}, "too short"},
      {"other magic", std::string("NPKG\x01\0\0\0a\0\0", 11), {}, "bad magic"},
      {"version 2", std::string("NCMD\x02\0\0\0a\0\0", 11), {}, "unsupported version 2"},
      {"version in the high byte",
       std::string("NCMD\0\0\0\x01"
                   "a\0\0",
                   11),
       {},
       "unsupported version 16777216"},
      {"no closing empty string", std::string("NCMD\x01\0\0\0a\0", 10), {}, "not closed"},
      {"last string unterminated", std::string("NCMD\x01\0\0\0a\0bc", 11), {}, "not closed"},
      {"bytes after the record", std::string("NCMD\x01\0\0\0a\0\0\0\0", 13), {}, "2 stray bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto bytes = bytes_of(c.bytes);
    if (c.error == nullptr) {
      nuv::MetaRecord record = nuv::parse_meta_record(bytes, "NCMD", "record");
      EXPECT_EQ(record.version, 1u);
      EXPECT_EQ(record.strings, c.strings);
      continue;
    }
    try {
      nuv::parse_meta_record(bytes, "NCMD", "record");
      ADD_FAILURE() << "accepted";
    } catch (const nuv::MetaError& e) {
      EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
    }
  }
}

TEST(MetadataRecord, AnExecutableWithoutRecordsIsRefusedByName) {
  // The test program links the package record but declares no command.
  nuv::ElfImage image = nuv::ElfImage::load(nuv::test::guest_program("whole_runtime"));
  try {
    nuv::describe_metadata(image);
    ADD_FAILURE() << "accepted";
  } catch (const nuv::MetaError& e) {
    EXPECT_STREQ(e.what(), "no .nuvrelos.cmdmeta section");
  }
}

}  // namespace
