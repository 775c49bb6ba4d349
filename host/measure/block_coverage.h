// Which code of a guest ran: every basic block the CPU executes is recorded once. The hook
// Unicorn calls at each block start does one array load when the block is already known, so
// a covered run stays close to the speed of a plain one.
#pragma once

#include <cstdint>
#include <vector>

struct uc_struct;

namespace nuv {

class Process;

struct CodeBlock {
  uint32_t begin = 0;  // [begin, end)
  uint32_t end = 0;
};

class BlockCoverage {
 public:
  // Watches the program's executable segments in this process from now on.
  explicit BlockCoverage(Process& process);
  ~BlockCoverage();
  BlockCoverage(const BlockCoverage&) = delete;
  BlockCoverage& operator=(const BlockCoverage&) = delete;

  // Every block that ran, by address.
  std::vector<CodeBlock> blocks() const;

 private:
  static void on_block(uc_struct* uc, uint64_t address, uint32_t size, void* user);

  Process& process_;
  uc_struct* uc_;
  uint64_t hook_ = 0;
  uint32_t base_ = 0;
  // The longest block seen starting at base_ + i; 0 where none ran.
  std::vector<uint16_t> longest_;
};

}  // namespace nuv
