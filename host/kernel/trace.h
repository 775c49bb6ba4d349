// Decoding of service calls for the trace: the strings and records a call passes or
// receives, written as JSON Lines or in the strace style. It wraps the dispatch; handlers
// know nothing of it.
#pragma once

#include <cstdio>
#include <ostream>
#include <string>

#include "host/emu/guest_memory.h"
#include "host/kernel/kernel.h"
#include "host/kernel/service_call.h"
#include "host/kernel/service_table.h"

namespace nuv {

// Before the handler: what the call passes (strings, input buffers, records).
void decode_arguments(const GuestMemory& memory, const ServiceInfo* info, ServiceCall& call);
// After the handler: what the call received (read buffers, events, sizes, descriptors).
void decode_results(const GuestMemory& memory, const ServiceInfo* info, ServiceCall& call);

// {"seq":..,"number":..,"name":..,"slots":[..],"decoded":[..],"result":..}. Byte strings
// map each byte to the code point of the same value, so any bytes survive the trip.
nlohmann::json trace_json(const ServiceCall& call);
// name(args) = result, as strace prints it.
std::string trace_text(const ServiceCall& call);
const char* service_name(uint32_t number);

CallObserver json_lines_writer(std::ostream& out);
CallObserver strace_writer(std::FILE* out);

}  // namespace nuv
