#include "host/gui/vnc_input.h"

#include <SDL2/SDL_keycode.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string_view>

#include "host/gui/sdl_display.h"

namespace nuv {
namespace {

// X keysyms of the keys outside Latin-1 that make events in the SDL window.
constexpr uint32_t kXkBackSpace = 0xFF08;
constexpr uint32_t kXkTab = 0xFF09;
constexpr uint32_t kXkReturn = 0xFF0D;
constexpr uint32_t kXkEscape = 0xFF1B;
constexpr uint32_t kXkDelete = 0xFFFF;
constexpr uint32_t kXkIsoLeftTab = 0xFE20;  // what X names Shift-Tab
constexpr uint32_t kXkControlL = 0xFFE3;
constexpr uint32_t kXkControlR = 0xFFE4;

// The symbols of a US keyboard's shifted keys, and the keys that make them.
constexpr std::string_view kShifted = "!@#$%^&*()_+{}|:\"<>?~";
constexpr std::string_view kUnshifted = "1234567890-=[]\\;',./`";

}  // namespace

int32_t vnc_key_code(uint32_t keysym, bool ctrl) {
  uint32_t ctrl_mod = ctrl ? KMOD_LCTRL : 0;
  switch (keysym) {
    case kXkBackSpace:
      return gui_key_code(SDLK_BACKSPACE, ctrl_mod);
    case kXkTab:
    case kXkIsoLeftTab:
      return gui_key_code(SDLK_TAB, ctrl_mod);
    case kXkReturn:
      return gui_key_code(SDLK_RETURN, ctrl_mod);
    case kXkEscape:
      return gui_key_code(SDLK_ESCAPE, ctrl_mod);
    case kXkDelete:
      return gui_key_code(SDLK_DELETE, ctrl_mod);
    default:
      break;
  }
  if (keysym < 0x20 || keysym > 0x7E) return -1;
  auto c = static_cast<char>(keysym);
  if (c >= 'A' && c <= 'Z') return gui_key_code(c - 'A' + 'a', ctrl_mod | KMOD_LSHIFT);
  size_t shifted = kShifted.find(c);
  if (shifted != std::string_view::npos) c = kUnshifted[shifted];
  return gui_key_code(c, ctrl_mod);
}

int32_t vnc_buttons(int32_t mask) {
  return ((mask & 1) ? GUI_BUTTON_LEFT : 0) | ((mask & 4) ? GUI_BUTTON_RIGHT : 0) |
         ((mask & 2) ? GUI_BUTTON_MIDDLE : 0);
}

void ViewerInput::push(const GuiEvent& event) {
  if (event.type == GUI_EVENT_POINTER && !pending_.empty() &&
      pending_.back().type == GUI_EVENT_POINTER && pending_.back().word3 == event.word3) {
    pending_.back() = event;
  } else if (pending_.size() < kMaxPending) {
    pending_.push_back(event);
  } else {
    return;
  }
  arrived_.notify_one();
}

void ViewerInput::key(ViewerState& viewer, bool down, uint32_t keysym) {
  if (keysym == kXkControlL) viewer.ctrl_left = down;
  if (keysym == kXkControlR) viewer.ctrl_right = down;
  if (!down) return;
  int32_t code = vnc_key_code(keysym, viewer.ctrl_left || viewer.ctrl_right);
  if (code < 0) return;
  std::lock_guard lock(mutex_);
  push(key_event(code));
}

void ViewerInput::pointer(ViewerState& viewer, int32_t mask, int32_t x, int32_t y) {
  int32_t cx = std::clamp(x, 0, std::max(width_ - 1, 0));
  int32_t cy = std::clamp(y, 0, std::max(height_ - 1, 0));
  int32_t buttons = vnc_buttons(mask);
  // The wheel alone moves nothing and presses nothing.
  if (cx == viewer.x && cy == viewer.y && buttons == viewer.buttons) return;
  viewer.x = cx;
  viewer.y = cy;
  viewer.buttons = buttons;
  std::lock_guard lock(mutex_);
  push(pointer_event(cx, cy, buttons));
}

void ViewerInput::gone(ViewerState& viewer) {
  if (viewer.buttons == 0) return;
  viewer.buttons = 0;
  std::lock_guard lock(mutex_);
  push(pointer_event(viewer.x, viewer.y, 0));
}

void ViewerInput::take(std::vector<GuiEvent>& out, int timeout_ms) {
  out.clear();
  std::unique_lock lock(mutex_);
  if (pending_.empty() && timeout_ms > 0) {
    arrived_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                      [this] { return !pending_.empty() || interrupted_; });
  }
  out.assign(pending_.begin(), pending_.end());
  pending_.clear();
}

void ViewerInput::interrupt() {
  std::lock_guard lock(mutex_);
  interrupted_ = true;
  arrived_.notify_all();
}

std::vector<ChangedRect> apply_changes(const Surface& picture, Surface& shown) {
  std::vector<ChangedRect> changed;
  if (picture.width != shown.width || picture.height != shown.height) return changed;
  const int32_t width = picture.width;
  const size_t row_bytes = static_cast<size_t>(width) * sizeof(uint32_t);
  for (int32_t top = 0; top < picture.height; top += kChangeBandRows) {
    int32_t bottom = std::min(top + kChangeBandRows, picture.height);
    int32_t left = width, right = 0;
    for (int32_t y = top; y < bottom; ++y) {
      const uint32_t* in = picture.row(y);
      uint32_t* out = shown.row(y);
      if (std::memcmp(in, out, row_bytes) == 0) continue;
      int32_t first = 0;
      while (in[first] == out[first]) ++first;
      int32_t last = width - 1;
      while (in[last] == out[last]) --last;
      left = std::min(left, first);
      right = std::max(right, last + 1);
      std::memcpy(out + first, in + first,
                  static_cast<size_t>(last + 1 - first) * sizeof(uint32_t));
    }
    if (left < right) changed.push_back({left, top, right, bottom});
  }
  return changed;
}

}  // namespace nuv
