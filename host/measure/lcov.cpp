#include "host/measure/lcov.h"

#include <algorithm>

#include "host/emu/printable.h"

namespace nuv {

LineCoverage line_coverage(const SourceMap& map, const std::vector<CodeBlock>& ran) {
  LineCoverage out;
  std::vector<FileCoverage*> by_index;
  for (const std::string& f : map.files()) by_index.push_back(&out[f]);
  for (const SourceRange& r : map.ranges()) {
    if (r.line != 0 && r.file < by_index.size()) by_index[r.file]->lines.try_emplace(r.line, 0);
  }
  for (const CodeBlock& b : ran) {
    map.for_each_overlap(b.begin, b.end, [&](const SourceRange& r) {
      if (r.line != 0 && r.file < by_index.size()) by_index[r.file]->lines[r.line] = 1;
    });
  }
  auto entry_ran = [&](uint32_t entry) {
    auto it = std::upper_bound(ran.begin(), ran.end(), entry,
                               [](uint32_t a, const CodeBlock& b) { return a < b.begin; });
    // Blocks are by start; a block that started a little earlier may still hold the entry.
    for (int back = 0; back < 8 && it != ran.begin(); ++back) {
      --it;
      if (it->begin <= entry && entry < it->end) return true;
    }
    return false;
  };
  for (const SourceFunction& f : map.functions()) {
    if (f.line == 0 || f.file >= by_index.size()) continue;
    FunctionHits& hits =
        by_index[f.file]
            ->functions.try_emplace(f.symbol.empty() ? f.name : f.symbol, FunctionHits{f.line, 0})
            .first->second;
    if (entry_ran(f.low)) hits.hits = 1;
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
