#include "host/kernel/trace.h"

#include <algorithm>
#include <stdexcept>

namespace nuv {

const char* service_name(uint32_t number) {
  const ServiceInfo* info = find_service(number);
  return info ? info->name : nullptr;
}

TraceFilter TraceFilter::parse(std::string_view list) {
  TraceFilter f;
  if (list.empty()) return f;
  bool only = false;
  std::vector<uint32_t> kept, dropped;
  for (;;) {
    size_t comma = list.find(',');
    std::string_view item = list.substr(0, comma);
    bool drop = item.starts_with('!');
    if (drop) item.remove_prefix(1);
    auto services = all_services();
    auto it = std::find_if(services.begin(), services.end(),
                           [&](const ServiceInfo& s) { return item == s.name; });
    if (it == services.end()) {
      throw std::invalid_argument("no service is called '" + std::string(item) + "'");
    }
    (drop ? dropped : kept).push_back(it->number);
    only = only || !drop;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  if (only) {
    f.shown_.assign(kServiceNumbers, false);
    f.others_ = false;
    for (uint32_t n : kept) f.shown_[n] = true;
  }
  for (uint32_t n : dropped) f.shown_[n] = false;
  return f;
}

CallObserver trace_writer(std::FILE* out, TraceFormat format, TraceFilter filter,
                          bool flush_lines) {
  auto print = format == TraceFormat::JsonLines ? print_json_line : print_strace_line;
  return [out, print, filter = std::move(filter), flush_lines,
          line = std::vector<char>()](const ServiceCall& call) mutable {
    if (!filter.shows(call.number)) return;
    size_t room = line_bound(call);
    if (line.size() < room) line.resize(room);
    char* end = print(line.data(), call);
    // One thread writes the trace: the stream's lock would only cost.
    fwrite_unlocked(line.data(), 1, static_cast<size_t>(end - line.data()), out);
    if (flush_lines) std::fflush(out);
  };
}

}  // namespace nuv
