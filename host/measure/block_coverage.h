// Which code of a guest ran, and how often: the hook Unicorn calls at the start of each block
// it executes counts that block. A known block costs one table load and an increment, so a
// covered run stays close to the speed of a plain one.
#pragma once

#include <cstdint>
#include <vector>

struct uc_struct;

namespace nuv {

class Process;
struct RunResult;

struct CodeBlock {
  uint32_t begin = 0;  // [begin, end)
  uint32_t end = 0;
  uint64_t count = 1;  // how often all of it ran
};

class BlockCoverage {
 public:
  // Watches the program's executable segments in this process from now on.
  explicit BlockCoverage(Process& process);
  ~BlockCoverage();
  BlockCoverage(const BlockCoverage&) = delete;
  BlockCoverage& operator=(const BlockCoverage&) = delete;

  // Every block that ran, by address, with its count. A block cut short (by a fault, or a
  // debugger's stop) counts once for the part that ran, up to and with a faulting instruction.
  std::vector<CodeBlock> blocks() const;

 private:
  struct Counted {
    uint32_t begin = 0;
    uint32_t size = 0;
    uint64_t count = 0;
    uint32_t next = 0;  // another size starting at the same address: index + 1, or 0
  };
  static void on_block(uc_struct* uc, uint64_t address, uint32_t size, void* user);
  void on_run_end(const RunResult& r);

  Process& process_;
  uc_struct* uc_;
  uint64_t hook_ = 0;
  int observer_ = 0;
  uint32_t base_ = 0;
  // The blocks counted starting at base_ + i: index + 1 into counted_, or 0 where none ran.
  std::vector<uint32_t> first_;
  std::vector<Counted> counted_;
  uint32_t last_ = 0;           // the block that ran last: index + 1
  std::vector<CodeBlock> cut_;  // the parts of blocks cut short that ran
};

}  // namespace nuv
