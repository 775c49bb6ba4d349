// The one table of how a run ends: the status of every way a program can end, and which of a
// run's troubles decides when several come together.
#include "host/runner/exit_status.h"

#include <gtest/gtest.h>

#include <csignal>

namespace nuv::test {
namespace {

RunResult exited(int32_t status) {
  RunResult r;
  r.end = RunResult::End::Exited;
  r.status = status;
  return r;
}

RunResult stopped(RunStop::Cause cause, int signal = 0) {
  RunResult r;
  r.end = RunResult::End::Stopped;
  r.stop = RunStop{cause, signal, ""};
  return r;
}

RunResult ended(RunResult::End end, int signal) {
  RunResult r;
  r.end = end;
  r.signal = signal;
  return r;
}

TEST(ExitStatus, EveryEndOfARunHasItsStatus) {
  struct Case {
    const char* what;
    RunResult result;
    int status;
  } cases[] = {
      {"the program's own", exited(3), 3},
      {"only its low 8 bits, as a native process's", exited(-1), 255},
      {"256 is 0", exited(256), 0},
      {"a frame, instruction or time limit", stopped(RunStop::Cause::Limit), 124},
      {"the host failed the program", stopped(RunStop::Cause::HostFailure), 125},
      {"the user closed the window", stopped(RunStop::Cause::WindowClosed), 0},
      {"every process waited for another", stopped(RunStop::Cause::Deadlock), 123},
      {"a replay that left its record", stopped(RunStop::Cause::Diverged), 122},
      {"a reader gone", stopped(RunStop::Cause::Signal, SIGPIPE), 141},
      {"SIGINT", stopped(RunStop::Cause::Signal, SIGINT), 130},
      {"SIGTERM", stopped(RunStop::Cause::Signal, SIGTERM), 143},
      {"a memory fault", ended(RunResult::End::Fault, SIGSEGV), 139},
      {"an invalid instruction", ended(RunResult::End::Fault, SIGILL), 132},
      {"a fault no signal was named for", ended(RunResult::End::Fault, 0), 139},
      {"a return from the entry point", ended(RunResult::End::Returned, 0), 139},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(exit_status(c.result), c.status);
  }
}

TEST(ExitStatus, AnOutputNotDeliveredOutranksAReaderGoneWhichOutranksTheProgram) {
  struct Case {
    std::optional<RunResult> result;
    int status;
    bool undelivered, reader_gone;
    int expect;
  } cases[] = {
      {exited(7), 0, false, false, 7},
      {std::nullopt, 127, false, false, 127},  // no program to run
      {exited(7), 0, false, true, 141},
      {exited(7), 0, true, false, 125},
      {exited(7), 0, true, true, 125},
      {stopped(RunStop::Cause::Limit), 0, false, true, 141},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << &c - cases);
    RunOutcome o{c.result, c.status, c.undelivered, c.reader_gone};
    EXPECT_EQ(exit_status(o), c.expect);
  }
}

}  // namespace
}  // namespace nuv::test
