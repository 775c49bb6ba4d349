// Where a guest spends its instructions: a count per instruction address, call edges with
// their inclusive cost from following call and ret, kernel calls per call site, and the call
// stacks for flame graphs. Addresses only: source_profile turns them into functions and lines.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

struct uc_struct;

namespace nuv {

class Process;

struct CallEdge {
  uint64_t calls = 0;
  uint64_t instructions = 0;  // inclusive: the callee and everything it called
  uint64_t kernel_calls = 0;  // inclusive
};

// What a run measured, by address.
struct RawProfile {
  uint32_t base = 0;
  std::vector<uint64_t> instructions;  // per address from base; 0 where nothing ran
  // (call instruction's address, callee's entry) -> edge
  std::map<std::pair<uint32_t, uint32_t>, CallEdge> calls;
  // (address of the int 0x80, service number) -> how often
  std::map<std::pair<uint32_t, uint32_t>, uint64_t> kernel_calls;
  // Call stacks as chains of entry addresses, outermost first, with the instructions spent
  // with that stack on top.
  std::map<std::vector<uint32_t>, uint64_t> stacks;
  uint64_t total_instructions = 0;
  uint64_t total_kernel_calls = 0;
};

// Adds what another run of the same program measured (a second process running it).
void merge(RawProfile& into, const RawProfile& from);

class Profiler {
 public:
  // Watches every instruction of the program's executable segments from now on.
  explicit Profiler(Process& process);
  ~Profiler();
  Profiler(const Profiler&) = delete;
  Profiler& operator=(const Profiler&) = delete;

  // Closes the calls still open (a program that exits from deep inside) and hands out what
  // was measured. Call once, after the run.
  RawProfile finish();

 private:
  enum Kind : uint8_t { kUnknown, kPlain, kCall, kRet };
  struct Frame {
    uint32_t call_site = 0;  // address of the call instruction
    uint32_t entry = 0;      // the callee's first instruction
    uint32_t return_to = 0;
    uint64_t instructions_before = 0;
    uint64_t kernel_calls_before = 0;
    uint32_t node = 0;  // the stack this frame puts on top
  };
  struct Node {
    uint32_t parent = 0;
    uint32_t entry = 0;
    uint64_t self = 0;
  };
  static constexpr size_t kMaxDepth = 1u << 20;

  static void on_instruction(uc_struct* uc, uint64_t address, uint32_t size, void* user);
  void on_kernel_call(uint32_t number);
  Kind classify(uint32_t address, uint32_t size);
  void enter(uint32_t entry);
  void leave(uint32_t landed);
  void close(const Frame& frame);
  void switch_node(uint32_t node);
  uint32_t child(uint32_t parent, uint32_t entry);

  Process& process_;
  uc_struct* uc_;
  uint64_t hook_ = 0;
  RawProfile p_;
  std::vector<Kind> kinds_;
  Kind pending_ = kPlain;  // what the last instruction was: its successor enters or leaves
  uint32_t last_ = 0;
  uint32_t last_end_ = 0;
  std::vector<Frame> stack_;
  std::vector<Node> nodes_;
  std::map<std::pair<uint32_t, uint32_t>, uint32_t> children_;
  uint32_t node_ = 0;
  uint64_t node_since_ = 0;
  std::shared_ptr<Profiler*> alive_;
};

}  // namespace nuv
