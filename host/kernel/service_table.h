// The kernel's services as data, generated from the one service list: number, name, the
// shape of each argument slot (for the trace), and the handler.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "host/kernel/service_call.h"
#include "runtime/kernel_services.h"

namespace nuv {

class Kernel;

enum class Shape {
  NONE,
  INT,
  HEX,
  FD,
  FLAG,
  COUNT,
  USEC,
  STR,
  PTR,
  BUF_IN,
  BUF_OUT,
  COLOR,
  RECT,
  TEXT,
  EVENT,
  SIZE,
  FDPAIR
};

using Handler = int32_t (*)(Kernel& kernel, const Slots& slots);

struct ServiceInfo {
  uint32_t number;
  const char* name;
  std::array<Shape, 3> shapes;
  Handler handler;
};

// Null for a number that names no service.
const ServiceInfo* find_service(uint32_t number);
std::span<const ServiceInfo> all_services();

// One handler per service, defined in the *_services.cpp files.
#define NUV_DECLARE_HANDLER(num, name, a, b, c) int32_t svc_##name(Kernel&, const Slots&);
NUVRELOS_SERVICES(NUV_DECLARE_HANDLER)
#undef NUV_DECLARE_HANDLER

}  // namespace nuv
