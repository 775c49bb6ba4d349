// The runner's --coverage and --profile: hooks set before the run, files written after it.
#pragma once

#include <CLI/CLI.hpp>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/base/replaced_file.h"
#include "host/machine/process.h"
#include "host/measure/block_coverage.h"
#include "host/measure/lcov.h"
#include "host/measure/profiler.h"
#include "host/measure/source_map.h"

namespace nuv {

struct MeasureOptions {
  std::string coverage;  // lcov tracefile
  std::string profile;
  std::string profile_format = "callgrind";
};

void add_measure_options(CLI::App& app, MeasureOptions& options);

class RunMeasures {
 public:
  // Opens the output files (beside their names: see ReplacedFile) and reads the program's
  // line table before anything runs, so a path that cannot be written fails at once. Throws
  // std::runtime_error naming the problem.
  RunMeasures(Process& process, const MeasureOptions& options,
              const std::vector<std::string>& args);
  ~RunMeasures();

  // Coverage and profile of the machine's other processes: each is watched from its start,
  // and what it ran is added when it ends (the lines of every program, summed where they are
  // the same source; the profile of each program, summed over the processes that ran it).
  void attach(Process& child, int32_t pid);
  void detach(Process& child, int32_t pid, const std::string& program);

  // Writes the files and puts them in place; false after saying on standard error what
  // could not be written (the previous files then stay).
  bool finish();

 private:
  MeasureOptions options_;
  std::string program_;
  std::string command_;
  SourceMap map_;
  ReplacedFile coverage_out_{"the coverage file"};
  ReplacedFile profile_out_{"the profile file"};
  std::unique_ptr<BlockCoverage> coverage_;
  std::unique_ptr<Profiler> profiler_;
  struct Child {
    Process* process;
    std::unique_ptr<BlockCoverage> coverage;
    std::unique_ptr<Profiler> profiler;
  };
  struct ProgramMeasure {
    SourceMap map;
    RawProfile profile;
  };
  std::map<int32_t, Child> children_;
  LineCoverage children_lines_;
  // By the program's path, in the order first seen.
  std::vector<std::pair<std::string, ProgramMeasure>> children_profiles_;
};

}  // namespace nuv
