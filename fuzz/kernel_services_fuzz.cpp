// The kernel's service dispatch and the trace's decoding on hostile calls: random service
// numbers with random slots that point into guest memory the input fills, into read-only or
// unmapped memory, or anywhere at all. Every call answers, and every call's trace lines fit
// the room the trace writer reserves for them.
#include <unicorn/unicorn.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/scratch_root.h"
#include "host/emu/guest_memory.h"
#include "host/kernel/kernel.h"
#include "host/kernel/trace.h"

namespace {

constexpr uint32_t kData = 0x10000;
constexpr uint32_t kDataSize = 0x10000;
constexpr uint32_t kReadOnly = 0x20000;
constexpr uint32_t kReadOnlySize = 0x1000;
constexpr size_t kCallBytes = 13;  // the service number and three slots
constexpr size_t kMaxCalls = 64;

// One engine and its memory for the whole run: opening an engine costs far more than a call.
struct Machine {
  uc_engine* uc = nullptr;
  std::unique_ptr<nuv::GuestMemory> memory;
  Machine() {
    if (uc_open(UC_ARCH_X86, UC_MODE_32, &uc) != UC_ERR_OK) std::abort();
    memory = std::make_unique<nuv::GuestMemory>(uc);
    memory->map(kData, kDataSize, nuv::kRead | nuv::kWrite, "data");
    memory->map(kReadOnly, kReadOnlySize, nuv::kRead, "rodata");
  }
  ~Machine() {
    uc_close(uc);  // the engine goes before the memory it shares
  }
};

uint32_t word(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The top two bits choose: half the slots point into the guest's data (or just past it), a
// quarter are small numbers (descriptors, sizes, flags), the rest are taken as they are.
uint32_t slot(uint32_t raw) {
  switch (raw >> 30) {
    case 0:
    case 1:
      return kData + raw % (kDataSize + 0x20);
    case 2:
      return raw & 0xFFFF;
    default:
      return raw;
  }
}

void check_trace_lines(const nuv::ServiceCall& call) {
  // Exactly the bound, in a block of its own, so that AddressSanitizer sees a printer that
  // writes past it.
  size_t bound = nuv::line_bound(call);
  auto line = std::make_unique<char[]>(bound);
  if (static_cast<size_t>(nuv::print_json_line(line.get(), call) - line.get()) > bound ||
      static_cast<size_t>(nuv::print_strace_line(line.get(), call) - line.get()) > bound) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Machine machine;
  static const std::vector<uint8_t> zeros(kDataSize);
  // The calls come from the input's head, the guest's data from the rest; the read-only page
  // holds the input's first bytes.
  size_t calls = std::min(size / kCallBytes, kMaxCalls);
  size_t head = calls * kCallBytes;
  size_t rest = std::min<size_t>(size - head, kDataSize);
  machine.memory->poke(kData, zeros.data(), kDataSize);
  machine.memory->poke(kData, data + head, rest);
  machine.memory->poke(kReadOnly, zeros.data(), kReadOnlySize);
  machine.memory->poke(kReadOnly, data, std::min<size_t>(size, kReadOnlySize));

  nuv::KernelConfig config;
  config.root = nuv::fuzz::empty_scratch_root();
  config.console_out = [](std::string_view) { return 0; };
  config.console_in = [](void*, size_t) -> long { return 0; };
  config.gui.frame_limit = 50;
  nuv::Kernel kernel(*machine.memory, config);
  kernel.set_decoding(true);
  kernel.add_observer(check_trace_lines);
  for (size_t i = 0; i < calls && !kernel.exited(); ++i) {
    const uint8_t* c = data + i * kCallBytes;
    kernel.dispatch(c[0], nuv::Slots{slot(word(c + 1)), slot(word(c + 5)), slot(word(c + 9))});
  }
  return 0;
}
