// The runner's debugging features: a run under gdb, the crash report of a faulting program,
// and the recording of a window session as a scenario.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "host/machine/process.h"

namespace nuv {

// Runs the program under a debugger that connects to 127.0.0.1:port (0: any free port, named
// on standard error). The outcome of the run, or an exit status when it ended otherwise
// (the port could not be had, the debugger killed the program or let a fatal signal through;
// then a fault is already reported).
struct DebugOutcome {
  std::optional<RunResult> result;
  int status = 0;
};
DebugOutcome run_under_gdb(Process& process, const std::vector<std::string>& args, uint16_t port,
                           std::FILE* trace);

// The crash report on standard error (and as the trace's final record, when there is one).
void report_crash(Process& process, const RunResult& fault, std::FILE* trace);

// The events the program received in a window, as a scenario file; false after saying why not.
bool write_recording(Process& process, const std::string& path);

}  // namespace nuv
