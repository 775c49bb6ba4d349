// The real display: one SDL2 window showing the compositor's picture, and the user's mouse
// and keys as GUI events.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/gui/display.h"

struct SDL_Window;

namespace nuv {

// True when a window can be opened here (an X11 or Wayland display that SDL can reach);
// otherwise false with the reason in *why.
bool display_available(std::string* why);

// The key code a program sees for an SDL key with the given modifiers, or -1 for keys that
// make no event: letters follow Shift and Caps Lock ("q" 113, "Q" 81), Ctrl with a letter
// gives its control code (Ctrl-Q 17), other keys of the ASCII range give their own code
// (Escape 27, Enter 13); keys outside it (arrows, function keys) make none.
int32_t gui_key_code(int32_t sdl_key, uint32_t sdl_modifiers);

class SdlDisplay : public Display {
 public:
  // Opens the window, centred, not resizable, its client area the content size.
  SdlDisplay(const std::string& title, int32_t width, int32_t height);
  ~SdlDisplay();
  SdlDisplay(const SdlDisplay&) = delete;
  SdlDisplay& operator=(const SdlDisplay&) = delete;

  void set_title(const std::string& title) override;
  void show(const Surface& picture) override;
  const std::vector<GuiEvent>& pump(int timeout_ms = 0) override;
  // The user closed the window, or another program destroyed it (then lost() too).
  bool closed() const override { return closed_; }
  bool lost() const override { return lost_; }
  void set_cursor_visible(bool on) override;
  bool warp_pointer(int32_t x, int32_t y) override;

 private:
  SDL_Window* window_ = nullptr;
  int32_t buttons_ = 0;
  bool closed_ = false;
  bool lost_ = false;
  bool exposed_ = false;
  std::vector<GuiEvent> events_;
  const Surface* last_ = nullptr;
};

}  // namespace nuv
