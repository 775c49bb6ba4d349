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

using std::string_literals::operator""s;

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
  nuv::ElfImage image = nuv::ElfImage::load(nuv::test::guest_program("stack_demo"));
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
        EXPECT_EQ(seg.perms, uint32_t{nuv::kRead});
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
      nuv::MetaRecord record = nuv::parse_meta_record(bytes_of(c.bytes), "NCMD", "record");
      EXPECT_EQ(c.error, nullptr) << "accepted";
      EXPECT_EQ(record.version, 1u);
      EXPECT_EQ(record.strings, c.strings);
    } catch (const nuv::MetaError& e) {
      ASSERT_NE(c.error, nullptr) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
    }
  }
}

}  // namespace
