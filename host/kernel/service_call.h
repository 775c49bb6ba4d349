// One kernel service call as the kernel saw it: its slots, its result, and each argument as
// the kernel read it (and what it stored), which the trace prints and the tests inspect.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "abi/gui_records.h"
#include "abi/services.h"

namespace nuv {

using Slots = std::array<uint32_t, 3>;

// What an argument slot held, as the service's argument reader took it. An argument that was
// not read (its memory could not be, or an earlier argument already failed the call) shows as
// the number in its slot.
namespace decoded {

struct Signed {
  int32_t value;
};
struct Unsigned {
  uint32_t value;
};
struct Hex {
  uint32_t value;
};
// Guest bytes as they are (a string without its NUL, or a buffer); long ones are cut.
struct Bytes {
  std::string bytes;
};
// A text record and its string; nullopt: the string could not be read.
struct Text {
  GuiText record;
  std::optional<std::string> text;
};

// Signed, Unsigned and Hex are plain numbers: the slot says all there is.
using Value = std::variant<Signed, Unsigned, Hex, Bytes, GuiColor, GuiRect, Text, GuiEvent, GuiSize,
                           NuvrelosFdPair>;

inline bool is_number(const Value& v) { return v.index() <= 2; }

}  // namespace decoded

// A stretch of the program's memory a call's handler stored into, with the bytes stored.
struct CallStore {
  uint32_t address = 0;
  std::vector<uint8_t> bytes;
};

struct ServiceCall {
  uint64_t seq = 0;
  int32_t pid = 1;       // the process that made the call
  bool several = false;  // more than one process had run by then: strace names the pid
  uint32_t number = 0;
  Slots slots{};
  int32_t result = 0;
  // Filled only while decoding is on (a trace, or Kernel::set_decoding): what the call passed
  // and, for what the kernel stores, what it stored.
  std::array<decoded::Value, 3> args{};
};

// Sees every call after it completed (the trace writers).
using CallObserver = std::function<void(const ServiceCall& call)>;

}  // namespace nuv
