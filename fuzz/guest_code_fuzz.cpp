// Arbitrary i386 machine code run at user privilege: the input is laid as the code of a small
// program and runs a few thousand instructions, twice in the same process. Whatever it holds
// (privileged instructions, far transfers, flag changes, self-modifying code, kernel calls),
// the run ends as an exit, a guest fault or a limit, and never takes the host down.
#include <elf.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/input_file.h"
#include "fuzz/scratch_root.h"
#include "host/machine/process.h"

namespace {

constexpr uint64_t kInstructionLimit = 4096;
constexpr uint32_t kBase = 0x08048000;
constexpr uint32_t kCodeOffset = 0x100;  // the headers come first in the code's page
constexpr uint32_t kData = 0x0804A000;
constexpr size_t kMaxCode = 0x1000 - kCodeOffset;

// A static executable: the code, readable, executable and writable (so self-modifying code
// is in reach), and a page of zeroed data.
std::string program_of(const uint8_t* code, size_t size) {
  std::string file(kCodeOffset + size, '\0');
  Elf32_Ehdr eh{};
  std::memcpy(eh.e_ident, ELFMAG, SELFMAG);
  eh.e_ident[EI_CLASS] = ELFCLASS32;
  eh.e_ident[EI_DATA] = ELFDATA2LSB;
  eh.e_ident[EI_VERSION] = EV_CURRENT;
  eh.e_type = ET_EXEC;
  eh.e_machine = EM_386;
  eh.e_version = EV_CURRENT;
  eh.e_entry = kBase + kCodeOffset;
  eh.e_phoff = sizeof eh;
  eh.e_ehsize = sizeof eh;
  eh.e_phentsize = sizeof(Elf32_Phdr);
  eh.e_phnum = 2;
  Elf32_Phdr ph[2] = {};
  ph[0].p_type = PT_LOAD;
  ph[0].p_vaddr = ph[0].p_paddr = kBase;
  ph[0].p_filesz = static_cast<Elf32_Word>(kCodeOffset + size);
  ph[0].p_memsz = 0x1000;
  ph[0].p_flags = PF_R | PF_W | PF_X;
  ph[0].p_align = 0x1000;
  ph[1].p_type = PT_LOAD;
  ph[1].p_vaddr = ph[1].p_paddr = kData;
  ph[1].p_memsz = 0x1000;
  ph[1].p_flags = PF_R | PF_W;
  ph[1].p_align = 0x1000;
  std::memcpy(file.data(), &eh, sizeof eh);
  std::memcpy(file.data() + sizeof eh, ph, sizeof ph);
  if (size > 0) std::memcpy(file.data() + kCodeOffset, code, size);
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The rest of the code's page is zeros, which the processor runs as adds through EAX.
  std::string program = program_of(data, std::min(size, kMaxCode));
  const std::string& path =
      nuv::fuzz::as_file(reinterpret_cast<const uint8_t*>(program.data()), program.size());
  nuv::KernelConfig config;
  config.root = nuv::fuzz::empty_scratch_root();
  config.console_out = [](std::string_view) { return 0; };
  config.console_in = [](void*, size_t) -> long { return 0; };
  config.gui.frame_limit = 20;
  nuv::Process process(path, config);
  process.set_instruction_limit(kInstructionLimit);
  // A second run in the same process starts from a CPU the first one cannot have changed.
  for (int run = 0; run < 2; ++run) {
    nuv::RunResult r = process.run({"fuzzed"});
    if (r.end == nuv::RunResult::End::Stopped) break;  // the limit holds for the process
  }
  return 0;
}
