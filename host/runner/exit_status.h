// How a run of the commands ends, as their exit status: the one table of them, in the
// conventions of GNU timeout, env and the shell, which a user's scripts already know.
#pragma once

#include <csignal>
#include <cstdint>
#include <optional>

#include "host/base/run_stop.h"
#include "host/machine/process.h"

namespace nuv {

// The program's own exit passes its status on (the low 8 bits, as a native process's).
constexpr int kUsageStatus = 2;          // the command line is wrong
constexpr int kDivergedStatus = 122;     // a replayed run left its record (--replay-run)
constexpr int kDeadlockStatus = 123;     // every process waited for another: nothing could go on
constexpr int kLimitStatus = 124;        // a frame, instruction or time limit stopped the run
constexpr int kHostFailureStatus = 125;  // the runner failed it: output lost, no font, no window
constexpr int kCannotRunStatus = 126;    // the file is there but is no program we can run
constexpr int kNotFoundStatus = 127;     // no such file

// A run a signal ended, as the shell reports a native process: 128 + its number, so 130 for
// SIGINT, 137 SIGKILL (the debugger's kill), 139 SIGSEGV (a fault), 141 SIGPIPE (a reader
// gone), 143 SIGTERM.
constexpr int signal_status(int signal) { return 128 + signal; }

// What a fault ends as when the processor named no signal of its own.
constexpr int kFaultSignal = SIGSEGV;

constexpr int exit_status(const RunStop& stop) {
  switch (stop.cause) {
    case RunStop::Cause::Limit:
      return kLimitStatus;
    case RunStop::Cause::HostFailure:
      return kHostFailureStatus;
    case RunStop::Cause::WindowClosed:
      return 0;
    case RunStop::Cause::Deadlock:
      return kDeadlockStatus;
    case RunStop::Cause::Diverged:
      return kDivergedStatus;
    case RunStop::Cause::Signal:
      break;
  }
  return signal_status(stop.signal);
}

// The status of a run that ended (not Paused): its own, its stop's, or its fault's signal's.
inline int exit_status(const RunResult& r) {
  switch (r.end) {
    case RunResult::End::Exited:
      return static_cast<int>(static_cast<uint32_t>(r.status) & 0xFF);
    case RunResult::End::Stopped:
      return exit_status(r.stop);
    case RunResult::End::Fault:
    case RunResult::End::Returned:
    case RunResult::End::Paused:
      break;
  }
  return signal_status(r.signal != 0 ? r.signal : kFaultSignal);
}

// How a run went, for its status: the program's end (or the status already decided when there
// is none to tell: a program that could not run, a debugger's kill), and what the run owed the
// user but could not deliver.
struct RunOutcome {
  std::optional<RunResult> result;
  int status = 0;            // without a result
  bool undelivered = false;  // an output could not be written: the runner's failure
  bool reader_gone = false;  // a reader of the output or the trace went away: SIGPIPE's end
};

inline int exit_status(const RunOutcome& o) {
  if (o.undelivered) return kHostFailureStatus;
  if (o.reader_gone) return signal_status(SIGPIPE);
  return o.result ? exit_status(*o.result) : o.status;
}

}  // namespace nuv
