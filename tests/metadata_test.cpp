// The command and package records of the stack_demo executable, read from the built file the
// way the system's tools read them.
#include <elf.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
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

struct ToolOutcome {
  int status = -1;
  std::string out, err;
};

// nuvrelos-meta as a user runs it.
ToolOutcome run_tool(const std::vector<std::string>& args) {
  auto dir = std::filesystem::temp_directory_path() / ("nuv-meta-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  auto quoted = [](const std::string& s) {
    std::string q = "'";
    for (char ch : s) q += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return q + "'";
  };
  std::string cmd = quoted(std::string(NUV_BINARY_DIR) + "/host/nuvrelos-meta");
  for (const auto& a : args) cmd += " " + quoted(a);
  cmd += " >" + quoted((dir / "out").string()) + " 2>" + quoted((dir / "err").string());
  int raw = std::system(cmd.c_str());
  auto slurp = [](const std::filesystem::path& p) {
    std::ostringstream text;
    text << std::ifstream(p).rdbuf();
    return text.str();
  };
  ToolOutcome o{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(dir / "out"), slurp(dir / "err")};
  std::filesystem::remove_all(dir);
  return o;
}

constexpr int kAnyFailure = 1000;

TEST(MetadataTool, PrintsTheRecordsOrSaysWhatIsWrong) {
  std::string demo = nuv::test::guest_program("stack_demo");
  std::string bare = nuv::test::guest_program("whole_runtime");
  struct Case {
    std::vector<std::string> args;
    int status;  // kAnyFailure: not 0
    std::string out;
    std::string err;  // start of standard error
  } cases[] = {
      {{demo},
       0,
       "command: stack_demo\ndescription: Open compositor stack demo.\npackage: stack_demo 2\n",
       ""},
      {{bare}, 1, "", "nuvrelos-meta: " + bare + ": no .nuvrelos.cmdmeta section\n"},
      {{"/nonexistent/stack_demo"}, 1, "", "nuvrelos-meta: /nonexistent/stack_demo: "},
      {{}, kAnyFailure, "", "FILE is required"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "no arguments" : c.args[0]);
    ToolOutcome o = run_tool(c.args);
    if (c.status == kAnyFailure) {
      EXPECT_NE(o.status, 0);
    } else {
      EXPECT_EQ(o.status, c.status);
    }
    EXPECT_EQ(o.out, c.out);
    EXPECT_TRUE(o.err.starts_with(c.err)) << o.err;
  }
}

}  // namespace
