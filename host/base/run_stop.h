// Why a run stopped, other than by the program's own exit, as the room that stopped it says
// it: the compositor (a frame limit, a closed window, a host failure), the kernel (a reader
// gone: SIGPIPE), the machine (an instruction limit), the runner's watch (a time limit, a
// signal). Only the runner turns it into an exit status (host/runner/exit_status.h).
#pragma once

#include <string>

namespace nuv {

struct RunStop {
  enum class Cause {
    Limit,         // a frame, instruction or time limit
    HostFailure,   // the host failed what the program asked (no font, no window, no screenshot)
    WindowClosed,  // the user closed the program's window
    Signal,        // a signal, ending the program as it ends a native process
    Deadlock,      // every process waits for another and nothing can wake them
    Diverged,      // a replayed run did what its record does not say
  };
  Cause cause = Cause::Limit;
  int signal = 0;       // Signal: its number, as <csignal> names it
  std::string message;  // for standard error; empty: a signal's end says nothing
  // A replay reached the end of its record, where the recorded run was stopped this way.
  bool end_of_record = false;
};

}  // namespace nuv
