// One kernel service call as the kernel saw it: its slots, its result, and each argument
// decoded into a typed value, which the trace prints and the tests inspect.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace nuv {

using Slots = std::array<uint32_t, 3>;

// What an argument slot held, decoded by the shape the service list gives it. A record or
// string that could not be read from guest memory stays the number of its slot (Hex).
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
struct Color {
  uint8_t r, g, b;
};
struct Rect {
  int32_t x, y, w, h;
  Color color;
};
struct Text {
  int32_t x, y;
  Color color;
  std::optional<std::string> text;  // nullopt: the text pointer could not be read
};
struct Event {
  int32_t type, word1, word2, word3, word4;
};
struct Size {
  int32_t width, height;
};
struct FdPair {
  int32_t read_end, write_end;
};

// Signed, Unsigned and Hex are plain numbers: the slot says all there is.
using Value = std::variant<Signed, Unsigned, Hex, Bytes, Color, Rect, Text, Event, Size, FdPair>;

inline bool is_number(const Value& v) { return v.index() <= 2; }

}  // namespace decoded

struct ServiceCall {
  uint64_t seq = 0;
  uint32_t number = 0;
  Slots slots{};
  int32_t result = 0;
  // Filled only while decoding is on (a trace, or Kernel::set_decoding): before the handler
  // with what the call passes, after it with what the call received.
  std::array<decoded::Value, 3> args{};
};

}  // namespace nuv
