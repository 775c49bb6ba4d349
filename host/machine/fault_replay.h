// Which instruction of a translated block made a memory access fault. The engine brings EIP up
// to date only at the start of each block it translates, so after a fault in the middle of one
// it names the block's first instruction, while the registers and memory are those the faulting
// instruction saw. The block is replayed instruction by instruction to find the one that makes
// the same access from that state.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

struct uc_struct;

namespace nuv {

// The access as the engine reported it to its invalid-memory hook.
struct FaultingAccess {
  int type = 0;  // uc_mem_type: a read or a write
  uint32_t address = 0;
  int size = 0;
  int64_t value = 0;  // what a write would have stored
};

// Returns the address of the instruction of the block at block_start that makes `access` from
// the current state, or nothing when no instruction of the block does. Several may fit (a chain
// of loads through one register makes the same access at each link): then the last whose
// instructions before it, replayed from the entry state they imply, arrive at the current
// registers. CPU state and memory are left as they were; `until` is an address the replay stops
// at (never reached by the block itself); `drop_translations` drops every translated block of
// the program, so that hooks added or removed apply to all its code. The engine must have no
// hook that runs on every instruction, and no other code runs meanwhile.
std::optional<uint32_t> replay_faulting_block(uc_struct* uc, uint32_t block_start,
                                              const FaultingAccess& access, uint32_t until,
                                              const std::function<void()>& drop_translations);

}  // namespace nuv
