#include "host/measure/lcov.h"

#include <algorithm>
#include <map>

#include "host/base/printable.h"

namespace nuv {

ExecutionCounts::ExecutionCounts(const std::vector<CodeBlock>& ran) {
  std::map<uint32_t, int64_t> change;
  for (const CodeBlock& b : ran) {
    if (b.end <= b.begin || b.count == 0) continue;
    change[b.begin] += static_cast<int64_t>(b.count);
    change[b.end] -= static_cast<int64_t>(b.count);
  }
  int64_t count = 0;
  for (const auto& [address, delta] : change) {
    count += delta;
    steps_.emplace_back(address, static_cast<uint64_t>(count));
  }
}

uint64_t ExecutionCounts::at(uint32_t address) const { return most_in(address, address + 1); }

uint64_t ExecutionCounts::most_in(uint32_t begin, uint32_t end) const {
  auto it = std::upper_bound(steps_.begin(), steps_.end(), begin,
                             [](uint32_t a, const auto& step) { return a < step.first; });
  if (it != steps_.begin()) --it;
  // From the step that holds at `begin` (if any does) to the last that starts before `end`.
  uint64_t most = 0;
  for (; it != steps_.end() && it->first < end; ++it) most = std::max(most, it->second);
  return most;
}

LineCoverage line_coverage(const SourceMap& map, const std::vector<CodeBlock>& ran) {
  LineCoverage out;
  std::vector<FileCoverage*> by_index;
  for (const std::string& f : map.files()) by_index.push_back(&out[f]);
  ExecutionCounts counts(ran);
  for (const SourceRange& r : map.ranges()) {
    if (r.line == 0 || r.file >= by_index.size()) continue;
    uint64_t& hits = by_index[r.file]->lines[r.line];
    hits = std::max(hits, counts.most_in(r.begin, r.end));
  }
  for (const SourceFunction& f : map.functions()) {
    if (f.line == 0 || f.file >= by_index.size()) continue;
    FunctionHits& hits =
        by_index[f.file]
            ->functions.try_emplace(f.symbol.empty() ? f.name : f.symbol, FunctionHits{f.line, 0})
            .first->second;
    hits.hits = std::max(hits.hits, counts.at(f.low));
  }
  std::erase_if(out, [](const auto& kv) { return kv.second.lines.empty(); });
  return out;
}

void merge(LineCoverage& into, const LineCoverage& more) {
  for (const auto& [file, cov] : more) {
    FileCoverage& to = into[file];
    for (const auto& [line, hits] : cov.lines) to.lines[line] += hits;
    for (const auto& [name, fn] : cov.functions) {
      auto [it, fresh] = to.functions.try_emplace(name, fn);
      if (!fresh) it->second.hits += fn.hits;
    }
  }
}

void keep_files(LineCoverage& coverage, const std::function<bool(const std::string&)>& keep) {
  std::erase_if(coverage, [&](const auto& kv) { return !keep(kv.first); });
}

std::string lcov_test_name(std::string_view name) {
  std::string out;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    out += ok ? c : '_';
  }
  return out.empty() ? "run" : out;
}

void write_lcov(std::ostream& out, std::string_view test_name, const LineCoverage& coverage) {
  for (const auto& [file, cov] : coverage) {
    out << "TN:" << test_name << "\n";
    // Paths and names are the program's: made printable, none can end a line or a record.
    out << "SF:" << printable(file) << "\n";
    // genhtml lists functions in the order given; by line reads like the source.
    std::vector<std::pair<std::string, FunctionHits>> fns(cov.functions.begin(),
                                                          cov.functions.end());
    std::stable_sort(fns.begin(), fns.end(),
                     [](const auto& a, const auto& b) { return a.second.line < b.second.line; });
    size_t fn_hit = 0;
    for (const auto& [name, fn] : fns) out << "FN:" << fn.line << "," << printable(name) << "\n";
    for (const auto& [name, fn] : fns) {
      out << "FNDA:" << fn.hits << "," << printable(name) << "\n";
      if (fn.hits > 0) ++fn_hit;
    }
    out << "FNF:" << fns.size() << "\nFNH:" << fn_hit << "\n";
    size_t line_hit = 0;
    for (const auto& [line, hits] : cov.lines) {
      out << "DA:" << line << "," << hits << "\n";
      if (hits > 0) ++line_hit;
    }
    out << "LF:" << cov.lines.size() << "\nLH:" << line_hit << "\nend_of_record\n";
  }
}

}  // namespace nuv
