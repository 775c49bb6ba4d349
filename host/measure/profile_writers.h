// A measured profile in the formats people read profiles with: callgrind's (callgrind_annotate,
// KCachegrind) and folded stacks (flamegraph.pl, speedscope).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "host/measure/profiler.h"
#include "host/measure/source_map.h"

namespace nuv {

// Events: Ir (guest instructions) and Kc (kernel calls; without long names, which
// callgrind_annotate warns about), per function and source line. Calls
// carry their inclusive cost; each kernel service is a function of its own in the object
// "[kernel]", called from the line that made the call.
void write_callgrind(std::ostream& out, const SourceMap& map, const RawProfile& profile,
                     const std::string& program, const std::string& command);

// What one program of a run measured (every process that ran it, added up).
struct ProgramProfile {
  std::string program;
  const SourceMap* map;
  const RawProfile* profile;
};

// A run of several programs: each is an object of its own, the first the run's command.
void write_callgrind(std::ostream& out, const std::vector<ProgramProfile>& programs,
                     const std::string& command);

// One line per call stack, "outer;inner;leaf instructions", outermost function first.
void write_folded(std::ostream& out, const SourceMap& map, const RawProfile& profile);
void write_folded(std::ostream& out, const std::vector<ProgramProfile>& programs);

}  // namespace nuv
