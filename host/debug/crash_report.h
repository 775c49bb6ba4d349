// What a person needs when a program faults: the fault, the address and the access, the
// registers as they were, and a backtrace with function names and source lines.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "host/debug/debug_info.h"
#include "host/machine/process.h"

namespace nuv {

struct CrashReport {
  int32_t pid = 1;    // the process that faulted
  std::string fault;  // the one-line description, e.g. "write to unmapped memory 0x... at eip ..."
  int signal = 0;
  std::optional<uint32_t> address;
  std::string access;
  std::vector<std::pair<std::string, uint32_t>> registers;  // eax .. gs
  std::vector<Frame> backtrace;
};

// Reads the registers and walks the stack of a process that just faulted. `info` may be null
// (no symbols at all): the backtrace then holds the faulting address alone.
CrashReport make_crash_report(Process& process, const RunResult& fault, const DebugInfo* info);

// Several lines for standard error, each prefixed for the runner.
std::string format_crash_report(const CrashReport& report);
// The same as one JSON object, the trace's final record.
nlohmann::json crash_record(const CrashReport& report);

// "SIGSEGV" for 11: the name <csignal> gives the number, or "signal N" for one it names not.
std::string signal_name(int signal);

}  // namespace nuv
