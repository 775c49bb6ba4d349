// Drives real i386 code from GoogleTest: loads a guest program into the emulator with the
// same simulated kernel the runner uses, calls its functions by symbol, runs it from _start,
// and reads and writes its memory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "abi/services.h"
#include "host/kernel/kernel.h"
#include "host/machine/process.h"
#include "host/measure/block_coverage.h"

namespace nuv::test {

// Path of a built guest program: tests/guest/<name> or programs/<name>/<name>.
std::string guest_program(std::string_view name);

struct GuestOptions {
  std::filesystem::path root;  // empty: a fresh temporary directory, removed afterwards
  std::string input;           // what descriptor 0 (and getkey) reads
  GuiConfig gui;               // compositor settings (content size, scenario)
  RootFs::Resolver resolver = RootFs::Resolver::Auto;
  bool write_through_links = false;
  // Descriptors 1 and 2 write the host's standard output, as in the runner, instead of
  // console().
  bool host_console = false;
};

class Guest {
 public:
  explicit Guest(std::string_view program = "whole_runtime", GuestOptions options = {});
  ~Guest();

  // cdecl call with 32-bit slots (a 64-bit value takes two, low word first); returns EAX.
  // A call that ends in the exit service returns normally: see exited(). A fault fails the
  // test and returns 0.
  uint32_t call(std::string_view function, std::initializer_list<uint32_t> slots = {});
  int32_t calli(std::string_view function, std::initializer_list<uint32_t> slots = {}) {
    return static_cast<int32_t>(call(function, slots));
  }
  long double call_ld(std::string_view function, std::initializer_list<uint32_t> slots = {});
  // The whole outcome, for calls expected to exit or fault.
  RunResult call_result(std::string_view function, std::initializer_list<uint32_t> slots = {});

  bool exited() const;
  int32_t exit_status() const;

  // Runs from _start; the initial stack pointer is stack_offset bytes past 16-byte alignment.
  RunResult run(const std::vector<std::string>& args, uint32_t stack_offset = 0);

  // Scratch memory, separate from the program's own: zero-filled, read-write.
  uint32_t alloc(uint32_t size, uint32_t align = 16);
  uint32_t str(std::string_view text);  // text plus a NUL; returns its address
  uint32_t put(const void* data, uint32_t size);

  uint32_t sym(std::string_view name) const;  // address of a function or global
  std::vector<uint8_t> read(uint32_t addr, uint32_t size);
  std::string read_bytes(uint32_t addr, uint32_t size);  // NULs included
  std::string read_str(uint32_t addr, uint32_t max = 1u << 20);
  uint32_t u32(uint32_t addr);
  void write(uint32_t addr, const void* data, uint32_t size);
  void set_u32(uint32_t addr, uint32_t value);

  // Everything the guest wrote to the console (descriptors 1 and 2) so far.
  const std::string& console() const { return console_; }
  void clear_console() { console_.clear(); }
  // Calls are recorded (slots and result); set_decoding(true) adds the decoded records.
  Kernel& kernel() { return process_->kernel(); }
  Process& process() { return *process_; }
  const std::filesystem::path& root() const { return root_; }

 private:
  std::string program_name_;
  std::filesystem::path root_;
  bool own_root_ = false;
  std::string input_;
  size_t input_pos_ = 0;
  std::string console_;
  std::unique_ptr<Process> process_;
  // With NUV_COVERAGE_DIR set, what this guest ran goes into that directory's tracefiles.
  std::unique_ptr<BlockCoverage> coverage_;
  uint32_t scratch_used_ = 0;
};

}  // namespace nuv::test
