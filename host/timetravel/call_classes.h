// How a recorded run treats each kernel service, and the digest that tells a replayed call's
// arguments from the recorded ones.
#pragma once

#include <cstdint>

#include "host/emu/guest_memory.h"
#include "host/kernel/service_call.h"

namespace nuv {

enum class Replay {
  // Reads or changes the host (files, directories, descriptors, the console, input): recorded
  // with its answer and what it stored; a replay answers it from the record and never runs it.
  Answered,
  // Changes only the machine and what it shows (a window, a frame, the virtual clock, the
  // exit, a process started or waited for): recorded, run again on replay, and its result
  // compared.
  Executed,
  // Draws into a window the program made: a function of the program alone, not recorded.
  Drawing,
};

// Services not named otherwise are Answered: a new service is taken to read the host until it
// is known not to.
Replay replay_of(uint32_t number);

// The call's slots and the bytes of the program's memory its arguments read (strings, records,
// the bytes a write hands over), as the service list describes them.
uint64_t argument_digest(const GuestMemory& memory, uint32_t number, const Slots& slots);

}  // namespace nuv
