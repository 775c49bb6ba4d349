// Input events as the GUI services hand them to a program (GuiEvent, abi/gui_records.h).
#pragma once

#include <cstdint>

#include "abi/gui_records.h"

namespace nuv {

inline GuiEvent key_event(int32_t code) { return {GUI_EVENT_KEY, code, 0, 0, 0}; }
inline GuiEvent pointer_event(int32_t x, int32_t y, int32_t buttons) {
  return {GUI_EVENT_POINTER, x, y, buttons, 0};
}

}  // namespace nuv
