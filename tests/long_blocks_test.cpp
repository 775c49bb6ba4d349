// Long runs of straight-line code end as they end on the processor: an exit with the value the
// code computes, or the fault its instruction raises with the state the ones before it left.
// The engine's translator takes a temporary for many instructions (x87, immediate shuffles,
// into, aam, aad, segment loads) and used to overrun its table of them past some 230 in one block,
// killing the host; the other kinds make blocks long (a page of code, 512 instructions), and code
// runs into unmapped or data pages, rewrites itself, and repeats the long blocks in loops.
#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "host/machine/process.h"
#include "tests/harness/guest.h"
#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

constexpr uint32_t kCode = 0x08048000;
constexpr uint32_t kData = 0x08100000;
constexpr uint32_t kPage = 0x1000;

// Hand-assembled i386 code at a known address.
struct Code {
  uint32_t base = kCode;
  std::vector<uint8_t> bytes;

  uint32_t here() const { return base + static_cast<uint32_t>(bytes.size()); }
  Code& operator()(std::initializer_list<uint8_t> b) {
    bytes.insert(bytes.end(), b);
    return *this;
  }
  Code& times(int n, std::initializer_list<uint8_t> b) {
    for (int i = 0; i < n; ++i) (*this)(b);
    return *this;
  }
  Code& u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  Code& jnz(uint32_t to) { return (*this)({0x0F, 0x85}).u32(to - (here() + 4)); }
  Code& jmp(uint32_t to) { return (*this)({0xE9}).u32(to - (here() + 4)); }
  // st(0) to an integer in EBX, by way of the data page.
  Code& st0_to_ebx() { return (*this)({0xDB, 0x1D}).u32(kData)({0x8B, 0x1D}).u32(kData); }
  // exit(EBX)
  Code& exit() { return (*this)({0xB8}).u32(2)({0xCD, 0x80}); }
};

// The data page: a float 1.0, the integer 3, four dwords 1..4, four words 1..4.
constexpr uint32_t kOneF = kData + 16, kThree = kData + 20, kDwords = kData + 32,
                   kWords = kData + 48;
std::vector<uint8_t> data_page() {
  std::vector<uint8_t> d(64, 0);
  float one = 1.0f;
  uint32_t three = 3, dwords[4] = {1, 2, 3, 4};
  uint16_t words[4] = {1, 2, 3, 4};
  std::memcpy(&d[16], &one, 4);
  std::memcpy(&d[20], &three, 4);
  std::memcpy(&d[32], dwords, 16);
  std::memcpy(&d[48], words, 8);
  return d;
}

enum class After { Unmapped, Data };  // what follows the code's last page

// A static executable: the data page, then the code (from `code.base`, which may start inside
// its first page), readable and executable, and writable when asked.
// With `pages`, the code's segment has that many, and what does not fit is left out.
std::string write_program(const std::filesystem::path& path, const Code& code, bool writable,
                          After after, uint32_t pages) {
  uint32_t start = code.base & ~(kPage - 1);
  uint32_t code_size =
      pages != 0 ? pages * kPage : (code.here() - start + kPage - 1) & ~(kPage - 1);
  std::vector<uint8_t> image(kPage);  // the code's first page from its start: headers first
  std::vector<Elf32_Phdr> ph;
  auto load = [&](uint32_t vaddr, const std::vector<uint8_t>& bytes, uint32_t memsz,
                  uint32_t flags) {
    Elf32_Phdr p{};
    p.p_type = PT_LOAD;
    p.p_offset = static_cast<Elf32_Off>(image.size());
    p.p_vaddr = p.p_paddr = vaddr;
    p.p_filesz = static_cast<Elf32_Word>(bytes.size());
    p.p_memsz = memsz;
    p.p_flags = flags;
    p.p_align = kPage;
    ph.push_back(p);
    image.insert(image.end(), bytes.begin(), bytes.end());
    image.resize((image.size() + kPage - 1) & ~(kPage - 1));
  };
  load(kData, data_page(), kPage, PF_R | PF_W);
  std::vector<uint8_t> text(code.base - start, 0x90);
  text.insert(text.end(), code.bytes.begin(), code.bytes.end());
  if (text.size() > code_size) text.resize(code_size);
  load(start, text, code_size, PF_R | PF_X | (writable ? PF_W : 0));
  if (after == After::Data) load(start + code_size, {0x90, 0x90}, kPage, PF_R | PF_W);
  Elf32_Ehdr eh{};
  std::memcpy(eh.e_ident, ELFMAG, SELFMAG);
  eh.e_ident[EI_CLASS] = ELFCLASS32;
  eh.e_ident[EI_DATA] = ELFDATA2LSB;
  eh.e_ident[EI_VERSION] = EV_CURRENT;
  eh.e_type = ET_EXEC;
  eh.e_machine = EM_386;
  eh.e_version = EV_CURRENT;
  eh.e_entry = code.base;
  eh.e_phoff = sizeof eh;
  eh.e_ehsize = sizeof eh;
  eh.e_phentsize = sizeof(Elf32_Phdr);
  eh.e_phnum = static_cast<Elf32_Half>(ph.size());
  std::memcpy(image.data(), &eh, sizeof eh);
  std::memcpy(image.data() + sizeof eh, ph.data(), ph.size() * sizeof(Elf32_Phdr));
  spit(path, std::string(image.begin(), image.end()));
  return path.string();
}

const std::initializer_list<uint8_t> kFld1 = {0xD9, 0xE8}, kFldz = {0xD9, 0xEE},
                                     kFaddSt1 = {0xD8, 0xC1},
                                     kTwo = {0xD9, 0xE8, 0xD9, 0xE8, 0xD8, 0xC1};  // st0 2, st1 1

struct Case {
  std::string name;
  std::function<void(Code&)> build;
  bool writable = false;
  After after = After::Unmapped;
  RunResult::End end = RunResult::End::Exited;
  int32_t status = 0;                       // Exited: the program's exit status
  std::string fault;                        // Fault: the message starts so
  std::function<uint32_t(const Code&)> at;  // Fault: where, from the code as built
  long double st0 = 0;                      // Fault: st(0) then
  uint32_t pages = 0;                       // the code's segment: 0 as long as it is
};

// Code that begins `length` bytes before the end of its first page.
void at_page_end(Code& c, uint32_t length) { c.base = kCode + kPage - length; }
uint32_t page_end(const Code&) { return kCode + kPage; }

const Case kCases[] = {
    {"300 fadd of registers, the repro",
     [](Code& c) { c(kFld1)(kFldz).times(300, kFaddSt1).st0_to_ebx().exit(); }, false,
     After::Unmapped, RunResult::End::Exited, 300},
    {"2,000 fadd, past a page of code",
     [](Code& c) { c(kFld1)(kFldz).times(2000, kFaddSt1).st0_to_ebx().exit(); }, false,
     After::Unmapped, RunResult::End::Exited, 2000},
    {"301 fxch",
     [](Code& c) {
       c(kTwo).times(301, {0xD9, 0xC9}).st0_to_ebx().exit();
     },
     false, After::Unmapped, RunResult::End::Exited, 1},
    {"500 ffree",
     [](Code& c) {
       c(kTwo).times(500, {0xDD, 0xC7}).st0_to_ebx().exit();
     },
     false, After::Unmapped, RunResult::End::Exited, 2},
    {"500 fld and fstp",
     [](Code& c) {
       c(kTwo).times(500, {0xD9, 0xC0, 0xDD, 0xD8}).st0_to_ebx().exit();
     },
     false, After::Unmapped, RunResult::End::Exited, 2},
    {"301 fchs",
     [](Code& c) {
       c(kTwo).times(301, {0xD9, 0xE0}).st0_to_ebx().exit();
     },
     false, After::Unmapped, RunResult::End::Exited, -2},
    {"300 fadds of memory",
     [](Code& c) {
       c(kFldz);
       for (int i = 0; i < 300; ++i) c({0xD8, 0x05}).u32(kOneF);
       c.st0_to_ebx().exit();
     },
     false, After::Unmapped, RunResult::End::Exited, 300},
    {"300 fiaddl of memory",
     [](Code& c) {
       c(kFldz);
       for (int i = 0; i < 300; ++i) c({0xDA, 0x05}).u32(kThree);
       c.st0_to_ebx().exit();
     },
     false, After::Unmapped, RunResult::End::Exited, 900},
    {"300 fildl and faddp",
     [](Code& c) {
       c(kFldz);
       for (int i = 0; i < 300; ++i) c({0xDB, 0x05}).u32(kThree)({0xDE, 0xC1});
       c.st0_to_ebx().exit();
     },
     false, After::Unmapped, RunResult::End::Exited, 900},
    {"300 fcom and fnstsw",
     [](Code& c) {
       // 0 against 1: below, so C0 alone of the condition bits.
       c(kFld1)(kFldz)
           .times(300, {0xD8, 0xD1, 0xDF, 0xE0})({0x25})
           .u32(0x4500)({0x89, 0xC3})
           .exit();
     },
     false, After::Unmapped, RunResult::End::Exited, 0x100},
    {"601 pshufd",
     [](Code& c) {
       c({0xF3, 0x0F, 0x6F, 0x05}).u32(kDwords).times(601, {0x66, 0x0F, 0x70, 0xC0, 0x1B});
       c({0x66, 0x0F, 0x7E, 0xC3}).exit();
     },
     false, After::Unmapped, RunResult::End::Exited, 4},
    {"601 shufps",
     [](Code& c) {
       c({0xF3, 0x0F, 0x6F, 0x05}).u32(kDwords).times(601, {0x0F, 0xC6, 0xC0, 0x1B});
       c({0x66, 0x0F, 0x7E, 0xC3}).exit();
     },
     false, After::Unmapped, RunResult::End::Exited, 4},
    {"601 pshufw",
     [](Code& c) {
       c({0x0F, 0x6F, 0x05}).u32(kWords).times(601, {0x0F, 0x70, 0xC0, 0x1B});
       c({0x0F, 0x7E, 0xC3, 0x0F, 0x77}).exit();
     },
     false, After::Unmapped, RunResult::End::Exited, 0x00030004},
    {"1,000 into, no overflow",
     [](Code& c) {
       c({0x31, 0xC0}).times(1000, {0xCE})({0xBB}).u32(7).exit();
     },
     false, After::Unmapped, RunResult::End::Exited, 7},
    {"500 aam",
     [](Code& c) {
       c({0xB8}).u32(123).times(500, {0xD4, 0x0A})({0x0F, 0xB7, 0xD8}).exit();
     },
     false, After::Unmapped, RunResult::End::Exited, 3},
    {"500 aad",
     [](Code& c) {
       c({0xB8}).u32(0x0102).times(500, {0xD5, 0x0A})({0x0F, 0xB7, 0xD8}).exit();
     },
     false, After::Unmapped, RunResult::End::Exited, 12},
    {"600 moves into fs",
     [](Code& c) {
       c({0x31, 0xC9}).times(600, {0x8E, 0xE1})({0xBB}).u32(5).exit();
     },
     false, After::Unmapped, RunResult::End::Exited, 5},
    {"1,300 lea",
     [](Code& c) {
       c({0x31, 0xC0}).times(1300, {0x8D, 0x40, 0x01})({0x89, 0xC3}).exit();
     },
     false, After::Unmapped, RunResult::End::Exited, 1300},
    {"2,000 mov",
     [](Code& c) {
       c({0xB8}).u32(5).times(2000, {0x89, 0xC1})({0x89, 0xCB}).exit();
     },
     false, After::Unmapped, RunResult::End::Exited, 5},
    {"1,000 16-bit adds",
     [](Code& c) {
       c({0x31, 0xC0}).times(1000, {0x66, 0x83, 0xC0, 0x01})({0x0F, 0xB7, 0xD8}).exit();
     },
     false, After::Unmapped, RunResult::End::Exited, 1000},
    {"1,500 nops with segment prefixes",
     [](Code& c) {
       c.times(1500, {0x3E, 0x2E, 0x90})({0xBB}).u32(9).exit();
     },
     false, After::Unmapped, RunResult::End::Exited, 9},
    {"600 movsb",
     [](Code& c) {
       c({0xFC, 0xBE}).u32(kData)({0xBF}).u32(kData + 2048).times(600, {0xA4});
       c({0x89, 0xFB, 0x81, 0xEB}).u32(kData + 2048).exit();
     },
     false, After::Unmapped, RunResult::End::Exited, 600},
    {"rep movsb of 2,000 bytes",
     [](Code& c) {
       c({0xFC, 0xBE}).u32(kData)({0xBF}).u32(kData + 2048)({0xB9}).u32(2000)({0xF3, 0xA4});
       c({0x89, 0xFB, 0x81, 0xEB}).u32(kData + 2048).exit();
     },
     false, After::Unmapped, RunResult::End::Exited, 2000},
    {"300 fadd in a loop of 1,000 passes",
     [](Code& c) {
       c(kFld1)(kFldz)({0xBA}).u32(1000);
       uint32_t loop = c.here();
       c.times(300, kFaddSt1)({0x4A}).jnz(loop).st0_to_ebx().exit();
     },
     false, After::Unmapped, RunResult::End::Exited, 300000},
    {"code rewritten between two passes",
     [](Code& c) {
       // The second pass subtracts in its last 100 instructions: 300 + 200 - 100.
       c(kFld1)(kFldz)({0xBA}).u32(2);
       uint32_t pass = c.here();
       c.times(300, kFaddSt1)({0x4A});
       uint32_t jz = c.here();
       c({0x0F, 0x84}).u32(0);
       c({0xBF}).u32(pass + 400)({0xB9}).u32(100);
       uint32_t patch = c.here();
       c({0xC6, 0x47, 0x01, 0xE1, 0x83, 0xC7, 0x02, 0x49}).jnz(patch).jmp(pass);
       uint32_t done = c.here();
       uint32_t rel = done - (jz + 6);
       std::memcpy(&c.bytes[jz - c.base + 2], &rel, 4);
       c.st0_to_ebx().exit();
     },
     true, After::Unmapped, RunResult::End::Exited, 400},
    {"code rewritten ahead in its own block",
     [](Code& c) {
       // The store turns the 50th fadd after it into fsub: 100 + 199 - 1.
       c(kFld1)(kFldz).times(100, kFaddSt1);
       uint32_t store = c.here();
       c({0xC6, 0x05}).u32(store + 7 + 2 * 49 + 1)({0xE1}).times(200, kFaddSt1).st0_to_ebx().exit();
     },
     true, After::Unmapped, RunResult::End::Exited, 298},
    {"300 fadd up to an unmapped page",
     [](Code& c) {
       at_page_end(c, 4 + 600);
       c(kFld1)(kFldz).times(300, kFaddSt1);
     },
     false, After::Unmapped, RunResult::End::Fault, 0, "execution of unmapped memory 0x08049000",
     page_end, 300, 1},
    {"300 fadd up to a data page",
     [](Code& c) {
       at_page_end(c, 4 + 600);
       c(kFld1)(kFldz).times(300, kFaddSt1);
     },
     false, After::Data, RunResult::End::Fault, 0, "execution of non-executable memory 0x08049000",
     page_end, 300, 1},
    {"an instruction across the end of the page",
     [](Code& c) {
       at_page_end(c, 4 + 600 + 2);
       c(kFld1)(kFldz).times(300, kFaddSt1)({0xB8}).u32(1);
     },
     false, After::Unmapped, RunResult::End::Fault, 0, "execution of unmapped memory 0x08049000",
     [](const Code& c) { return page_end(c) - 2; }, 300, 1},
    {"a read of unmapped memory after 250 fadd",
     [](Code& c) { c(kFld1)(kFldz).times(250, kFaddSt1)({0xA1}).u32(16).times(250, kFaddSt1); },
     false, After::Unmapped, RunResult::End::Fault, 0, "read from unmapped memory 0x00000010",
     [](const Code& c) { return c.base + 4 + 500; }, 250},
    {"into with the overflow flag set",
     [](Code& c) {
       c(kFld1)({0xB0, 0x7F, 0x04, 0x01}).times(300, {0xCE});
     },
     false, After::Unmapped, RunResult::End::Fault, 0, "overflow trap",
     [](const Code& c) { return c.base + 6 + 1; }, 1},
};

void check(const Case& c, bool hooked) {
  ScratchDir dir;
  Code code;
  c.build(code);
  std::string path = write_program(dir.path / "long", code, c.writable, c.after, c.pages);
  KernelConfig config;
  config.root = dir.path;
  config.console_out = [](std::string_view) { return 0; };
  Process p(path, config);
  // A hook on every instruction (as the profile, the debugger and an instruction limit have)
  // changes how the engine translates: the same ends either way.
  if (hooked) p.set_instruction_limit(100'000'000);
  RunResult r = p.run({"long"});
  ASSERT_EQ(r.end, c.end) << r.message;
  if (c.end == RunResult::End::Exited) {
    EXPECT_EQ(r.status, c.status);
    return;
  }
  EXPECT_TRUE(r.message.starts_with(c.fault)) << r.message;
  EXPECT_EQ(r.signal, 11);
  EXPECT_EQ(r.eip, c.at(code)) << r.message;
  EXPECT_EQ(p.st0(), c.st0);
}

TEST(LongBlocks, EveryLongRunEndsAsOnTheProcessor) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    check(c, false);
  }
}

TEST(LongBlocks, EveryLongRunEndsTheSameWithAHookOnEveryInstruction) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    check(c, true);
  }
}

TEST(LongBlocks, TheRunnerRunsTheSdksLongBlocksToTheirResult) {
  // Built as a user builds, run as a user runs it: plainly, and with the hook on every
  // instruction an instruction limit adds.
  struct RunnerCase {
    std::string shape;
    std::string out;
  };
  const RunnerCase cases[] = {
      {"x87", "301\n"}, {"x87-memory", "300\n"}, {"shuffles", "4\n"}, {"into", "7\n"}};
  for (const std::string options : {"", "--instruction-limit 100000000 "}) {
    for (const RunnerCase& c : cases) {
      SCOPED_TRACE(options + c.shape);
      Outcome o = shell(quoted(runner_path()) + " " + options +
                        quoted(guest_program("prog_long_blocks")) + " " + c.shape);
      EXPECT_EQ(o.status, 0) << o.err;
      EXPECT_EQ(o.out, c.out);
      EXPECT_EQ(o.err, "");
    }
  }
}

}  // namespace
}  // namespace nuv::test
