// Keeps every block of guest code the engine translates short enough for it to translate, and
// lets a block that runs into memory it may not execute run up to there.
//
// Unicorn 2.1's translator takes temporaries for many instructions (two for each x87 one, one
// for immediate shuffles, extrq and insertq, into, aam, aad, segment loads) and gives them back
// only at the end of the block; past 512 in all it writes beyond its table of them and the
// host dies. A block ends at a branch, at 512 instructions or at about a page of code, so some
// 230 x87 instructions in a row were enough. Nothing in the engine's interface bounds a block,
// so this bounds it from outside:
//
// - The engine is never given execute permission (GuestMemory maps nothing executable for it).
//   It then asks, byte by byte, while it translates (never while translated code runs),
//   whether the code may be fetched: yes for the guest's executable memory, until one block's
//   bytes would pass kMaxBlockBytes.
// - That refusal abandons the block before anything of it ran. The run starts again at the
//   block with an exit on every address of its second half: the engine ends the block at the
//   first instruction that begins there, stops, and the run goes on from that instruction. The
//   exits go as soon as the cut block is translated (the engine would drop every block that
//   ends at an exit still set when it stops), so the cut block stays translated: a later pass
//   costs one stop of the engine where it was cut, and code that needs no cut costs nothing.
// - A block whose code runs into memory the guest may not execute is abandoned whole too, with
//   none of the instructions before that address run. It is cut just before the address, then
//   one instruction at a time, so the fault comes from the instruction that makes the fetch,
//   with the state the ones before it left, as on the processor.
#pragma once

#include <unicorn/unicorn.h>

#include <cstdint>
#include <map>
#include <optional>
#include <utility>

#include "host/emu/guest_memory.h"

namespace nuv {

class BlockLimit {
 public:
  // The longest block let through, in bytes of code. Of every opcode, with and without
  // prefixes and operand forms (some 15,000 instructions), the worst take one temporary per
  // byte, and a block starts with some 50 in use: some 200 of the 512 stay spare.
  static constexpr uint32_t kMaxBlockBytes = 256;

  // Answers the engine's code fetches from `memory`. A fetch from memory the guest may not
  // execute goes to on_fault, whose answer the engine gets.
  BlockLimit(uc_engine* uc, const GuestMemory& memory, uc_cb_eventmem_t on_fault, void* fault_user);
  BlockLimit(const BlockLimit&) = delete;
  BlockLimit& operator=(const BlockLimit&) = delete;

  // How one uc_emu_start of a run ended.
  struct Stop {
    uc_err rc = UC_ERR_OK;
    uint32_t eip = 0;
    // Something ended the run (a fault, an exit, a stop, a pause): nothing goes on, except...
    bool ended = false;
    // ...when that was a fetch the guest may not make, at this address: the instructions
    // before it go on running.
    std::optional<uint32_t> fetch_fault;
    // The run has an instruction budget, which a stop where a block was cut ends (the engine
    // counts anew at every start).
    bool budgeted = false;
  };

  // Before the first uc_emu_start of a run that ends at `until`.
  void start_run(uint32_t until);
  // After each uc_emu_start of the run: where to start the engine again, when it stopped only
  // for a block's length or end; else nothing.
  std::optional<uint32_t> resume_point(const Stop& stop);

  // While on, every block the engine translates ends after its first instruction (for a replay
  // that runs one at a time from anywhere in a block, cut or not). Blocks already translated
  // stay as they are.
  void set_single_instructions(bool on);

  // How many times a block was cut for its length.
  size_t cuts() const { return cuts_; }

 private:
  static bool on_fetch(uc_engine* uc, uc_mem_type type, uint64_t address, int size, int64_t value,
                       void* user);
  static void on_new_block(uc_engine* uc, uc_tb* block, uc_tb* previous, void* user);
  // The next start runs the block at `block` only up to the first instruction that begins in
  // [from, to].
  void cut(uint32_t block, uint32_t from, uint32_t to, bool for_fault);
  bool at_cut_end(uint32_t eip) const;
  void end_cut();
  void set_exits(bool with_cut);

  uc_engine* uc_;
  const GuestMemory& memory_;
  uc_cb_eventmem_t on_fault_;
  void* fault_user_;
  uc_hook fetch_hook_ = 0, new_block_hook_ = 0;
  uint32_t until_ = 0;  // the run's own exit
  // The bytes the engine fetched in a row: where the block began, and the next byte.
  uint64_t block_begin_ = 0;
  uint64_t next_fetch_ = 0;
  std::optional<uint64_t> refused_at_;     // a fetch refused for length since the last start
  std::optional<uint32_t> refused_block_;  // the block last refused for length, and how often
  int retries_ = 0;
  // The cut under way: its block's start, the addresses its end may fall on, and why.
  std::optional<uint32_t> cut_block_;
  uint32_t cut_from_ = 0, cut_to_ = 0;
  bool cut_for_fault_ = false;
  bool cut_exits_ = false;  // the engine's exits hold the cut's
  bool single_ = false;
  size_t cuts_ = 0;
  // Where the blocks cut for their length may end, by their start: a later pass through one
  // stops there.
  std::map<uint32_t, std::pair<uint32_t, uint32_t>> cut_ends_;
};

}  // namespace nuv
