// Which source line and which function every code address of a program belongs to, in the
// shape coverage and profiles need: code ranges per line, functions with their first line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nuv {

struct SourceRange {
  uint32_t begin = 0;  // [begin, end) of code that came from file:line
  uint32_t end = 0;
  uint32_t file = 0;  // index into SourceMap::files
  uint32_t line = 0;
};

struct SourceFunction {
  std::string name;    // as people read it (demangled)
  std::string symbol;  // as the symbol table has it: unique, no spaces or commas
  uint32_t low = 0;    // [low, high)
  uint32_t high = 0;
  uint32_t file = 0;  // where its first instruction came from; line 0 when nobody knows
  uint32_t line = 0;
};

class SourceMap {
 public:
  SourceMap() = default;
  // Ranges in any order; several lines may share one range (an inlined call and its body).
  SourceMap(std::vector<std::string> files, std::vector<SourceRange> ranges,
            std::vector<SourceFunction> functions);

  // Reads the program's symbols and DWARF line table; throws std::runtime_error naming the
  // problem for a file that is not a readable ELF executable.
  static SourceMap read(const std::string& executable);

  const std::vector<std::string>& files() const { return files_; }
  const std::vector<SourceRange>& ranges() const { return ranges_; }           // by begin
  const std::vector<SourceFunction>& functions() const { return functions_; }  // by low

  const SourceFunction* function_at(uint32_t address) const;
  // The innermost line at address (the last of several sharing a range), or null.
  const SourceRange* range_at(uint32_t address) const;
  // Calls visit(range) for every range that overlaps [begin, end).
  template <typename Visit>
  void for_each_overlap(uint32_t begin, uint32_t end, Visit&& visit) const;

 private:
  size_t first_candidate(uint32_t begin) const;

  std::vector<std::string> files_;
  std::vector<SourceRange> ranges_;
  std::vector<SourceFunction> functions_;
  // reach_[i]: the greatest end of ranges_[0..i], so a search backwards knows when to stop.
  std::vector<uint32_t> reach_;
};

template <typename Visit>
void SourceMap::for_each_overlap(uint32_t begin, uint32_t end, Visit&& visit) const {
  for (size_t i = first_candidate(begin); i < ranges_.size() && ranges_[i].begin < end; ++i) {
    if (ranges_[i].end > begin) visit(ranges_[i]);
  }
}

}  // namespace nuv
