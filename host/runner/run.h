// One run of nuvrelos-run: the program loaded, watched (trace, measures, limits, a debugger)
// and run, and every output it owes the user written, whatever the end.
#pragma once

#include "host/runner/exit_status.h"
#include "host/runner/run_options.h"

namespace nuv {

// Says on standard error what went wrong (a program that cannot run, a fault, a stop, an
// output not written) and how the run ended.
RunOutcome run_program(const RunOptions& options);

}  // namespace nuv
