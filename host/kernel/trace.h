// The trace: what every service call passes and receives, as the call's argument readers took
// it (ServiceCall::args), printed as JSON Lines or in the strace style. It watches the
// dispatch; handlers know nothing of it.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "host/kernel/service_call.h"
#include "host/kernel/service_table.h"

namespace nuv {

// {"seq":..,"number":..,"name":..,"slots":[..],"decoded":[..],"result":..} and a newline.
// Byte strings map each byte to the code point of the same value, so any bytes survive.
void append_json_line(std::string& out, const ServiceCall& call);
// name(args) = result, as strace prints it, and a newline.
void append_strace_line(std::string& out, const ServiceCall& call);
const char* service_name(uint32_t number);
// The same printers for a writer that reserves room itself: at most line_bound(call) bytes
// from `at`; each returns the end of what it wrote.
size_t line_bound(const ServiceCall& call);
char* print_json_line(char* at, const ServiceCall& call);
char* print_strace_line(char* at, const ServiceCall& call);

// Which services a trace shows, as strace's -e trace= has it: "a,b" only those, "!a,!b" all
// but those.
class TraceFilter {
 public:
  TraceFilter() : shown_(kServiceNumbers, true) {}
  // Throws std::invalid_argument naming an unknown service.
  static TraceFilter parse(std::string_view list);
  bool shows(uint32_t number) const { return number < kServiceNumbers ? shown_[number] : others_; }

 private:
  std::vector<bool> shown_;
  bool others_ = true;  // numbers that name no service
};

enum class TraceFormat { JsonLines, Strace };

// Writes each call the filter shows to out as one line. Lines collect in out's buffer;
// flush_lines pushes each one out at once, for a stream the guest's console shares.
CallObserver trace_writer(std::FILE* out, TraceFormat format, TraceFilter filter, bool flush_lines);

}  // namespace nuv
