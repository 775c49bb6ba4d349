// nuvrelos-run's command line, read into the options of one run.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "host/gui/vnc_display.h"
#include "host/kernel/kernel.h"
#include "host/kernel/trace.h"
#include "host/runner/measures.h"
#include "host/timetravel/run_record.h"

namespace nuv {

inline constexpr const char* kRunCommand = "nuvrelos-run";
// What the snapshots for going back in time may take under --gdb unless told otherwise.
inline constexpr uint64_t kDefaultHistoryMemory = uint64_t{512} << 20;

struct RunOptions {
  std::vector<std::string> args;  // PROGRAM and its arguments
  KernelConfig kernel;            // the root, writefile's links, the compositor's settings
  uint64_t memory_limit = 0;
  std::optional<VncOptions> vnc;  // --display vnc
  std::string trace;              // a file, "-" for standard output, empty for none
  bool strace = false;
  TraceFilter trace_filter;
  std::optional<std::chrono::duration<double>> timeout;
  uint64_t instruction_limit = 0;  // 0: none
  std::optional<uint16_t> gdb_port;
  std::string record;
  std::string record_run;                           // --record-run FILE
  std::shared_ptr<const RunRecord> replay;          // --replay-run: the record, read whole
  uint64_t history_memory = kDefaultHistoryMemory;  // under --gdb, for going back
  std::string save_last;
  std::string screenshots;
  MeasureOptions measure;
};

// The options of the run the command line asks for, or the status to end with: after --help
// or --version (0), or a usage error, already said on standard error (2).
std::variant<RunOptions, int> parse_run_options(int argc, char** argv);

}  // namespace nuv
