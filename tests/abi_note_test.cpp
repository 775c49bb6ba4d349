// The loader knows our programs: every program carries the nuvrelos ABI note, and
// nuvrelos-run refuses another system's program instead of letting it die on our services.
#include "host/emu/abi_note.h"

#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "tests/harness/guest.h"
#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

using Kind = AbiVerdict::Kind;
using std::string_literals::operator""s;

const std::string kLinuxProgram = NUV_BINARY_DIR "/tests/linux_hello";
// Name size, descriptor size, type 1, "nuvrelos", version 1: the note as crt0 writes it.
const std::string kOurNote = "\x09\0\0\0\x04\0\0\0\x01\0\0\0nuvrelos\0\0\0\0\x01\0\0\0"s;

class AbiNote : public ::testing::Test {
 protected:
  // prog_exit_code, changed by `edit`, written to a file of its own.
  std::string variant(const std::function<void(std::string&)>& edit) {
    std::string bytes = slurp(guest_program("prog_exit_code"));
    edit(bytes);
    std::string path = (dir / ("variant" + std::to_string(count++))).string();
    spit(path, bytes);
    return path;
  }

  ScratchDir scratch;
  const std::filesystem::path& dir = scratch.path;
  int count = 0;
};

size_t note_at(const std::string& bytes) {
  size_t at = bytes.find(kOurNote);
  EXPECT_NE(at, std::string::npos) << "no nuvrelos note";
  EXPECT_EQ(bytes.find(kOurNote, at + 1), std::string::npos) << "two nuvrelos notes";
  return at == std::string::npos ? 0 : at;
}

TEST_F(AbiNote, EveryMarkIsReadAndNamed) {
  struct Case {
    const char* what;
    std::function<void(std::string&)> edit;  // null: the Linux program as built
    Kind kind;
    const char* reason;  // part of it
  } cases[] = {
      {"as built", [](std::string&) {}, Kind::Ours, ""},
      {"Linux i386 static program", nullptr, Kind::Foreign, "GNU/Linux"},
      {"another ABI version", [](std::string& b) { b[note_at(b) + 24] = 2; }, Kind::Foreign,
       "nuvrelos ABI version 2; this runner runs version 1"},
      {"note renamed", [](std::string& b) { b[note_at(b) + 19] = 'x'; }, Kind::Unmarked, ""},
      {"note of another type", [](std::string& b) { b[note_at(b) + 8] = 3; }, Kind::Unmarked, ""},
      {"FreeBSD's ABI note",
       [](std::string& b) { std::memcpy(&b[note_at(b) + 12], "FreeBSD\0", 8); }, Kind::Foreign,
       "a FreeBSD program (it carries FreeBSD's ABI note)"},
      {"GNU ABI note for Linux",
       [](std::string& b) {
         size_t at = note_at(b);
         // name size 4, "GNU", then the descriptor grows into the bytes after the note only in
         // the section's view: keep it 4 bytes, OS 0 = Linux.
         std::memcpy(&b[at], "\x04\0\0\0\x04\0\0\0\x01\0\0\0GNU\0\0\0\0\0\0\0\0\0\0\0\0\0", 28);
       },
       Kind::Foreign, "a Linux program (its GNU ABI note asks for Linux"},
      {"OS/ABI FreeBSD", [](std::string& b) { b[EI_OSABI] = ELFOSABI_FREEBSD; }, Kind::Foreign,
       "made for FreeBSD"},
      {"glibc entry code, no note",
       [](std::string& b) {
         b[note_at(b) + 19] = 'x';
         Elf32_Ehdr eh;
         std::memcpy(&eh, b.data(), sizeof eh);
         Elf32_Phdr text;
         std::memcpy(&text, b.data() + eh.e_phoff, sizeof text);
         std::memcpy(&b[text.p_offset + eh.e_entry - text.p_vaddr],
                     "\x31\xed\x5e\x89\xe1\x83\xe4\xf0", 8);
       },
       Kind::Foreign, "its entry code is a Linux C library's _start"},
      {"not ELF", [](std::string& b) { b[1] = 'X'; }, Kind::Unread, ""},
      {"truncated", [](std::string& b) { b.resize(20); }, Kind::Unread, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AbiVerdict v = inspect_abi(c.edit ? variant(c.edit) : kLinuxProgram);
    EXPECT_EQ(v.kind, c.kind) << v.reason;
    EXPECT_NE(v.reason.find(c.reason), std::string::npos) << v.reason;
  }
}

TEST_F(AbiNote, TheRunnerRefusesForeignProgramsAndWarnsOnceForUnmarkedOnes) {
  struct Case {
    const char* what;
    std::string program;
    int status;
    std::string err;  // exactly
  } cases[] = {
      {"Linux", kLinuxProgram, 126,
       "nuvrelos-run: " + kLinuxProgram +
           ": not a nuvrelos program: made for GNU/Linux (its ELF header says so)\n"},
      {"unmarked", variant([](std::string& b) { b[note_at(b) + 19] = 'x'; }), 7,
       "nuvrelos-run: warning: " + (dir / "variant0").string() +
           " carries no nuvrelos ABI note (was it linked without nuvrelos-cc?); running it "
           "anyway\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Outcome o = shell(quoted(runner_path()) + " " + quoted(c.program) + " 7");
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.err, c.err);
  }
}

}  // namespace
}  // namespace nuv::test
