// The source map from the program's own debugging information, through the debugger's reader.
#include <algorithm>
#include <filesystem>
#include <map>

#include "host/debug/debug_info.h"
#include "host/measure/source_map.h"

namespace nuv {

SourceMap SourceMap::read(const std::string& executable) {
  std::unique_ptr<DebugInfo> info;
  try {
    info = DebugInfo::open(executable);
  } catch (const DebugInfoError& e) {
    throw std::runtime_error(e.what());
  }
  std::vector<std::string> files;
  std::map<std::string, uint32_t> index;
  // Units compiled from relative paths name their files through "..": reports want one name
  // per file.
  auto file_index = [&](const std::string& recorded) {
    std::string name = std::filesystem::path(recorded).lexically_normal().string();
    auto [it, fresh] = index.try_emplace(name, static_cast<uint32_t>(files.size()));
    if (fresh) files.push_back(name);
    return it->second;
  };

  // A row's code reaches to the next row's address, but never past the end of its function:
  // the last row before padding or a unit without lines would swallow them otherwise.
  std::span<const LineRow> rows = info->lines();
  std::vector<SourceRange> ranges;
  ranges.reserve(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    uint32_t begin = rows[i].address;
    size_t next = i + 1;
    while (next < rows.size() && rows[next].address == begin) ++next;
    uint32_t end = next < rows.size() ? rows[next].address : begin + 1;
    if (const Function* f = info->function_at(begin)) end = std::min(end, f->high);
    if (end <= begin || rows[i].line <= 0) continue;
    ranges.push_back(
        SourceRange{begin, end, file_index(rows[i].file), static_cast<uint32_t>(rows[i].line)});
  }

  std::vector<SourceFunction> functions;
  for (const Function& f : info->functions()) {
    SourceFunction sf{f.name, f.linkage_name, f.low, std::max(f.high, f.low + 1), 0, 0};
    if (auto line = info->line_at(f.low); line && line->line > 0) {
      sf.file = file_index(line->file);
      sf.line = static_cast<uint32_t>(line->line);
    }
    functions.push_back(std::move(sf));
  }
  return SourceMap(std::move(files), std::move(ranges), std::move(functions));
}

}  // namespace nuv
