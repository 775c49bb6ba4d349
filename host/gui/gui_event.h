// One input event as the GUI services hand it to a program: five little-endian 32-bit words.
#pragma once

#include <cstdint>

namespace nuv {

struct GuiEventRecord {
  int32_t type = 0;
  int32_t word1 = 0;  // key: code; pointer: x
  int32_t word2 = 0;  // pointer: y
  int32_t word3 = 0;  // pointer: button bits (bit 0 left, bit 1 right, bit 2 middle)
  int32_t word4 = 0;
};
static_assert(sizeof(GuiEventRecord) == 20);

constexpr int32_t kEventKey = 1;
constexpr int32_t kEventPointer = 2;

constexpr int32_t kKeyEscape = 27;

inline GuiEventRecord key_event(int32_t code) { return {kEventKey, code, 0, 0, 0}; }
inline GuiEventRecord pointer_event(int32_t x, int32_t y, int32_t buttons) {
  return {kEventPointer, x, y, buttons, 0};
}

}  // namespace nuv
