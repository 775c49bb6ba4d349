// Line and function coverage of a program's sources, and the lcov tracefile that carries it
// (read by genhtml, merged by lcov -a).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "host/measure/block_coverage.h"
#include "host/measure/source_map.h"

namespace nuv {

struct FunctionHits {
  uint32_t line = 0;
  uint64_t hits = 0;
};

struct FileCoverage {
  std::map<uint32_t, uint64_t> lines;  // every line with code -> how often it ran
  std::map<std::string, FunctionHits> functions;
};

// By absolute source path.
using LineCoverage = std::map<std::string, FileCoverage>;

// How often each address of a program's code ran, from the blocks that ran (blocks may
// overlap: a jump into the middle of one starts another).
class ExecutionCounts {
 public:
  explicit ExecutionCounts(const std::vector<CodeBlock>& ran);
  uint64_t at(uint32_t address) const;
  // The greatest count in [begin, end).
  uint64_t most_in(uint32_t begin, uint32_t end) const;

 private:
  std::vector<std::pair<uint32_t, uint64_t>> steps_;  // from this address on, this count
};

// A line ran as often as its most-run instruction (a loop's condition line counts its
// tests); a function as often as its first instruction, which is how often it was called. The
// same counts as a profile's per instruction.
LineCoverage line_coverage(const SourceMap& map, const std::vector<CodeBlock>& ran);

// Adds the counts of `more` (another run) to `into`.
void merge(LineCoverage& into, const LineCoverage& more);

// Drops the files `keep` says no to (sources that are not on this machine: no report could
// show them).
void keep_files(LineCoverage& coverage, const std::function<bool(const std::string&)>& keep);

// lcov allows letters, digits and '_' in a test name; anything else becomes '_'.
std::string lcov_test_name(std::string_view name);

void write_lcov(std::ostream& out, std::string_view test_name, const LineCoverage& coverage);

}  // namespace nuv
