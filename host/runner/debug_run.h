// The runner's debugging features: a run under gdb, the crash report of a faulting program,
// and the recording of a window session as a scenario.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "host/machine/process.h"
#include "host/timetravel/journal.h"

namespace nuv {

// Runs the program under a debugger that connects to 127.0.0.1:port (0: any free port, named
// on standard error). The outcome of the run, or an exit status when it ended otherwise
// (the port could not be had, the debugger killed the program or let a fatal signal through;
// then a fault is already reported).
struct DebugOutcome {
  std::optional<RunResult> result;
  int status = 0;
};
// With a history_memory, the run keeps its history for going back in it (reverse-stepi,
// reverse-continue...): `journal` is the kernel's (a recorder's or replayer's, or none), which
// the history wraps for the length of the debugging.
DebugOutcome run_under_gdb(Process& process, const std::vector<std::string>& args, uint16_t port,
                           std::FILE* trace, Journal*& journal, uint64_t history_memory);

// The crash report on standard error (and as the trace's final record, when there is one).
void report_crash(Process& process, const RunResult& fault, std::FILE* trace);

// The events the program received in a window, as a scenario file; false after saying why not.
bool write_recording(Process& process, const std::string& path);

}  // namespace nuv
