// One kernel service call as the kernel saw it: what the trace writes and the tests inspect.
#pragma once

#include <array>
#include <cstdint>
#include <nlohmann/json.hpp>

namespace nuv {

using Slots = std::array<uint32_t, 3>;

struct ServiceCall {
  uint64_t seq = 0;
  uint32_t number = 0;
  Slots slots{};
  int32_t result = 0;
  // Decoded strings and records the call passed or received, by slot ("1", "2", "3"); filled
  // only while decoding is on (tracing, or Kernel::set_decoding).
  nlohmann::json detail;
};

}  // namespace nuv
