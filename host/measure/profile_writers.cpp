#include "host/measure/profile_writers.h"

#include <cinttypes>
#include <cstdio>
#include <map>
#include <vector>

#include "host/base/printable.h"
#include "host/kernel/service_table.h"

namespace nuv {

namespace {

constexpr const char* kUnknown = "???";
constexpr const char* kKernelObject = "[kernel]";

struct Cost {
  uint64_t ir = 0;
  uint64_t kc = 0;
};

struct Place {
  std::string file;
  uint32_t line = 0;
  auto operator<=>(const Place&) const = default;
};

struct Call {
  Place site;
  std::string callee;
  Place target;
  bool kernel = false;
  uint64_t calls = 0;
  Cost inclusive;
};

struct FunctionCosts {
  std::string file;  // where the function is; its cost lines switch away for inlined code
  std::map<Place, Cost> self;
  std::vector<Call> calls;
};

std::string function_name(const SourceMap& map, uint32_t address) {
  const SourceFunction* f = map.function_at(address);
  return f ? f->name : kUnknown;
}

Place place_of(const SourceMap& map, uint32_t address) {
  if (const SourceRange* r = map.range_at(address)) return {map.files()[r->file], r->line};
  if (const SourceFunction* f = map.function_at(address); f && f->line != 0) {
    return {map.files()[f->file], 0};
  }
  return {kUnknown, 0};
}

// Where a function is: the file and line of its first instruction. Calls name their callee
// by this place, the same the callee's own costs are filed under.
Place home_of(const SourceMap& map, uint32_t address) {
  const SourceFunction* f = map.function_at(address);
  if (f && f->line != 0) return {map.files()[f->file], f->line};
  return {place_of(map, address).file, 0};
}

// A name or path as one line of the file: printable, and never read back as the "(N)" of the
// format's name compression ("(anonymous namespace)::f" is no such thing).
std::string callgrind_name(std::string_view name) {
  std::string s = printable(name);
  size_t digits = s.find_first_not_of("0123456789", 1);
  if (s.starts_with('(') && digits > 1 && digits != std::string::npos && s[digits] == ')') {
    s.replace(0, 1, "\\x28");
  }
  return s;
}

// A function as one frame of a folded stack, where ';' would split it in two.
std::string folded_name(std::string_view name) {
  std::string s;
  for (char c : printable(name)) s += c == ';' ? std::string("\\x3b") : std::string(1, c);
  return s;
}

std::string kernel_function(uint32_t number) {
  const ServiceInfo* info = find_service(number);
  if (info != nullptr) return std::string("kernel ") + info->name;
  return "kernel service " + std::to_string(number);
}

}  // namespace

void write_callgrind(std::ostream& out, const SourceMap& map, const RawProfile& profile,
                     const std::string& program, const std::string& command) {
  write_callgrind(out, {ProgramProfile{program, &map, &profile}}, command);
}

void write_callgrind(std::ostream& out, const std::vector<ProgramProfile>& programs,
                     const std::string& command) {
  uint64_t total_ir = 0;
  uint64_t total_kc = 0;
  for (const ProgramProfile& p : programs) {
    total_ir += p.profile->total_instructions;
    total_kc += p.profile->total_kernel_calls;
  }
  out << "# callgrind format\nversion: 1\ncreator: nuvrelos-run\n";
  out << "cmd: " << printable(command) << "\npart: 1\n\npositions: line\nevents: Ir Kc\n";
  out << "summary: " << total_ir << " " << total_kc << "\n\n";
  std::map<std::string, uint64_t> kernel;
  for (const ProgramProfile& p : programs) {
    const SourceMap& map = *p.map;
    const RawProfile& profile = *p.profile;
    std::map<std::string, FunctionCosts> fns;
    auto costs_of = [&](uint32_t address) -> FunctionCosts& {
      auto [it, fresh] = fns.try_emplace(function_name(map, address));
      if (fresh) it->second.file = home_of(map, address).file;
      return it->second;
    };
    for (size_t i = 0; i < profile.instructions.size(); ++i) {
      if (profile.instructions[i] == 0) continue;
      uint32_t address = profile.base + static_cast<uint32_t>(i);
      costs_of(address).self[place_of(map, address)].ir += profile.instructions[i];
    }
    for (const auto& [key, edge] : profile.calls) {
      auto [site, entry] = key;
      Call c{place_of(map, site), function_name(map, entry),
             home_of(map, entry), false,
             edge.calls,          {edge.instructions, edge.kernel_calls}};
      costs_of(site).calls.push_back(std::move(c));
    }
    for (const auto& [key, count] : profile.kernel_calls) {
      auto [site, number] = key;
      std::string name = kernel_function(number);
      kernel[name] += count;
      costs_of(site).calls.push_back(
          Call{place_of(map, site), name, {kKernelObject, 0}, true, count, {0, count}});
    }

    out << "ob=" << callgrind_name(p.program) << "\n";
    for (const auto& [name, f] : fns) {
      out << "fl=" << callgrind_name(f.file) << "\nfn=" << callgrind_name(name) << "\n";
      std::string current = f.file;
      auto at_file = [&](const std::string& file) {
        if (file != current) out << "fi=" << callgrind_name(file) << "\n";
        current = file;
      };
      for (const auto& [place, cost] : f.self) {
        at_file(place.file);
        out << place.line << " " << cost.ir << " " << cost.kc << "\n";
      }
      for (const Call& c : f.calls) {
        at_file(c.site.file);
        out << "cob=" << (c.kernel ? kKernelObject : callgrind_name(p.program)) << "\n";
        out << "cfi=" << callgrind_name(c.target.file) << "\ncfn=" << callgrind_name(c.callee)
            << "\n";
        out << "calls=" << c.calls << " " << c.target.line << "\n";
        out << c.site.line << " " << c.inclusive.ir << " " << c.inclusive.kc << "\n";
      }
      out << "\n";
    }
  }
  if (!kernel.empty()) {
    out << "ob=" << kKernelObject << "\nfl=" << kKernelObject << "\n";
    for (const auto& [name, count] : kernel) out << "fn=" << name << "\n0 0 " << count << "\n";
    out << "\n";
  }
  out << "totals: " << total_ir << " " << total_kc << "\n";
}

void write_folded(std::ostream& out, const SourceMap& map, const RawProfile& profile) {
  write_folded(out, {ProgramProfile{"", &map, &profile}});
}

void write_folded(std::ostream& out, const std::vector<ProgramProfile>& programs) {
  // Stacks of different entries can name the same functions (two entries into one function,
  // or two programs with a main each): add them up under the names.
  std::map<std::string, uint64_t> lines;
  for (const ProgramProfile& p : programs) {
    for (const auto& [chain, count] : p.profile->stacks) {
      std::string key;
      for (uint32_t entry : chain) {
        if (!key.empty()) key += ';';
        key += folded_name(function_name(*p.map, entry));
      }
      lines[key] += count;
    }
  }
  for (const auto& [key, count] : lines) out << key << " " << count << "\n";
}

}  // namespace nuv
