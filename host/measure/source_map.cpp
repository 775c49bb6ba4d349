#include "host/measure/source_map.h"

#include <algorithm>

namespace nuv {

SourceMap::SourceMap(std::vector<std::string> files, std::vector<SourceRange> ranges,
                     std::vector<SourceFunction> functions)
    : files_(std::move(files)), ranges_(std::move(ranges)), functions_(std::move(functions)) {
  std::stable_sort(ranges_.begin(), ranges_.end(),
                   [](const SourceRange& a, const SourceRange& b) { return a.begin < b.begin; });
  std::stable_sort(functions_.begin(), functions_.end(),
                   [](const SourceFunction& a, const SourceFunction& b) { return a.low < b.low; });
  reach_.reserve(ranges_.size());
  uint32_t reach = 0;
  for (const SourceRange& r : ranges_) {
    reach = std::max(reach, r.end);
    reach_.push_back(reach);
  }
}

size_t SourceMap::first_candidate(uint32_t begin) const {
  return static_cast<size_t>(std::upper_bound(reach_.begin(), reach_.end(), begin) -
                             reach_.begin());
}

const SourceFunction* SourceMap::function_at(uint32_t address) const {
  auto it = std::upper_bound(functions_.begin(), functions_.end(), address,
                             [](uint32_t a, const SourceFunction& f) { return a < f.low; });
  if (it == functions_.begin()) return nullptr;
  --it;
  return address < it->high ? &*it : nullptr;
}

const SourceRange* SourceMap::range_at(uint32_t address) const {
  const SourceRange* found = nullptr;
  for_each_overlap(address, address + 1, [&](const SourceRange& r) { found = &r; });
  return found;
}

}  // namespace nuv
