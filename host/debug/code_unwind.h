// One step outwards through a function that has no call-frame information (code built without
// -g: nuvrelos programs keep no unwind tables), read from the code itself as gdb's prologue
// analysis does: the pushes, the frame pointer and the stack adjustment at the function's
// entry say where the return address and the saved registers are. Where the prologue does not
// say (a frame that grew after it), the stack above is searched for the nearest word that is a
// return address: one that follows a call instruction.
#pragma once

#include <functional>
#include <optional>

#include "host/debug/debug_info.h"

namespace nuv {

// `is_code(address)`: whether a function of the program holds the address.
std::optional<Registers> step_by_code(const Registers& regs, const Function& function,
                                      const ReadWord& read,
                                      const std::function<bool(uint32_t)>& is_code);

// Whether the bytes before `address` end in a call instruction (direct or through a register
// or memory): then `address` can be a return address.
bool follows_call(uint32_t address, const ReadWord& read);

}  // namespace nuv
