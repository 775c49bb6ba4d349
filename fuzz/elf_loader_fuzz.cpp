// The ELF loader on arbitrary files: each is refused with a LoadError, or it loads, is laid
// into a process's address space and runs a few thousand instructions of whatever it holds.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/input_file.h"
#include "fuzz/scratch_root.h"
#include "host/emu/elf_image.h"
#include "host/machine/process.h"

namespace {

// Enough for the loader's refusals to be the point, few enough to keep each input quick.
constexpr uint64_t kInstructionLimit = 4096;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = nuv::fuzz::as_file(data, size);
  nuv::KernelConfig config;
  config.root = nuv::fuzz::empty_scratch_root();
  config.console_out = [](std::string_view) { return 0; };
  config.console_in = [](void*, size_t) -> long { return 0; };
  config.gui.frame_limit = 20;
  try {
    nuv::Process process(path, config);
    process.set_instruction_limit(kInstructionLimit);
    process.run({"fuzzed"});
  } catch (const nuv::LoadError&) {
  }
  return 0;
}
