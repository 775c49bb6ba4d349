// The kernel's services as data, generated from the one service list (abi/services.h): each
// service's number, name, and how its call is served and shown (service_handlers.h).
#pragma once

#include <cstdint>
#include <span>

#include "abi/services.h"
#include "host/kernel/service_call.h"

namespace nuv {

class Kernel;

struct ServiceInfo {
  uint32_t number;
  const char* name;
  // The slots the call uses, from the first: the trace's strace form shows these.
  uint32_t arity;
  // Reads the arguments and runs the handler; with `shown`, fills its args with what the
  // readers read and the handler stored. Null for a number nothing serves yet.
  int32_t (*serve)(Kernel& kernel, const Slots& slots, ServiceCall* shown);
  // Only reads the arguments, to show them, for a call answered without its handler; a
  // destination shows what `stored` says was stored at its address.
  void (*show)(Kernel& kernel, const Slots& slots, ServiceCall& shown,
               const std::vector<CallStore>& stored);
};

// Null for a number that names no service.
const ServiceInfo* find_service(uint32_t number);
std::span<const ServiceInfo> all_services();
// Service numbers are below this.
inline constexpr uint32_t kServiceNumbers = 256;

}  // namespace nuv
