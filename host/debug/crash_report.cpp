#include "host/debug/crash_report.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "host/base/printable.h"
#include "host/debug/cpu_state.h"

namespace nuv {

namespace {

std::string hex32(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08" PRIx32, v);
  return buf;
}

std::string eflags_text(uint32_t flags) {
  static constexpr std::pair<int, const char*> kBits[] = {{0, "CF"}, {2, "PF"},  {4, "AF"},
                                                          {6, "ZF"}, {7, "SF"},  {8, "TF"},
                                                          {9, "IF"}, {10, "DF"}, {11, "OF"}};
  std::string s = "[";
  for (auto [bit, name] : kBits) {
    if (flags & (1u << bit)) s += std::string(" ") + name;
  }
  return s + " ]";
}

}  // namespace

std::string signal_name(int signal) {
  const char* abbreviation = sigabbrev_np(signal);
  return abbreviation ? std::string("SIG") + abbreviation : "signal " + std::to_string(signal);
}

CrashReport make_crash_report(Process& process, const RunResult& fault, const DebugInfo* info) {
  CrashReport report;
  report.pid = process.kernel().pid();
  report.fault = fault.message;
  report.signal = fault.signal;
  report.address = fault.fault_address;
  report.access = fault.access;
  auto regs = i386_registers();
  for (size_t i = 0; i <= static_cast<size_t>(kGdbGs); ++i) {
    uint32_t v = 0;
    read_register(process.engine(), i, reinterpret_cast<uint8_t*>(&v));
    report.registers.emplace_back(regs[i].name, v);
  }
  Registers unwind_regs = read_unwind_registers(process.engine());
  if (info == nullptr) {
    report.backtrace.push_back(Frame{unwind_regs[kEip], nullptr, std::nullopt});
    return report;
  }
  GuestMemory& memory = process.memory();
  report.backtrace = info->unwind(unwind_regs, [&memory](uint32_t at, uint32_t& v) {
    return memory.copy_in(at, &v, sizeof v);
  });
  // As gdb shows it: main is where the program's own story starts.
  auto main_frame =
      std::find_if(report.backtrace.begin(), report.backtrace.end(),
                   [](const Frame& f) { return f.function && f.function->name == "main"; });
  if (main_frame != report.backtrace.end())
    report.backtrace.erase(main_frame + 1, report.backtrace.end());
  return report;
}

std::string format_crash_report(const CrashReport& r) {
  const std::string prefix = "nuvrelos-run: ";
  std::string s = prefix + "guest fault: " + r.fault + "\n";
  s += prefix + "  signal " + signal_name(r.signal);
  if (r.address) s += ", " + (r.access.empty() ? "access" : r.access) + " of " + hex32(*r.address);
  s += "\n";
  for (size_t i = 0; i < r.registers.size(); ++i) {
    if (i % 4 == 0) s += prefix + " ";
    const auto& [name, value] = r.registers[i];
    char buf[32];
    std::snprintf(buf, sizeof buf, " %-6s 0x%08" PRIx32, name.c_str(), value);
    s += buf;
    if (name == "eflags") s += " " + eflags_text(value);
    if (i % 4 == 3 || i + 1 == r.registers.size()) s += "\n";
  }
  s += prefix + "  backtrace:\n";
  for (size_t i = 0; i < r.backtrace.size(); ++i) {
    // Function names and source paths are the program's: one may hold a terminal's escape
    // sequence or a newline that forges a line of this report.
    s += prefix + "    #" + std::to_string(i) + " " + printable(describe(r.backtrace[i])) + "\n";
  }
  return s;
}

nlohmann::json crash_record(const CrashReport& r) {
  nlohmann::json regs = nlohmann::json::object();
  for (const auto& [name, value] : r.registers) regs[name] = value;
  nlohmann::json frames = nlohmann::json::array();
  for (const Frame& f : r.backtrace) {
    nlohmann::json frame{
        {"pc", f.pc},
        {"function", f.function ? nlohmann::json(printable(f.function->name)) : nullptr}};
    if (f.line) {
      frame["file"] = printable(f.line->file);
      frame["line"] = f.line->line;
    }
    frames.push_back(frame);
  }
  nlohmann::json crash{{"fault", r.fault},
                       {"signal", signal_name(r.signal)},
                       {"registers", regs},
                       {"backtrace", frames}};
  if (r.address) {
    crash["address"] = *r.address;
    crash["access"] = r.access;
  }
  return nlohmann::json{{"pid", r.pid}, {"crash", crash}};
}

}  // namespace nuv
