// What VNC viewers send, turned into the program's input events exactly as the SDL window
// makes them (host/gui/sdl_display.h), and the changes between two frames that viewers are
// sent. Free of LibVNCServer, so tests and the fuzzer drive it directly.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "host/gui/gui_event.h"
#include "host/gui/surface.h"

namespace nuv {

// The key code a program sees for an X keysym (RFB names keys so) while Ctrl is held or not,
// or -1 for keys that make no event: the code the SDL window gives for the same key on a US
// keyboard. Viewers send the shifted symbol ("!" for Shift-1, "Q" for Shift-q) where SDL
// names the key ("1", "q"), so symbols are taken back to their key before gui_key_code
// decides: letters keep their case, Ctrl with a letter gives its control code, Shift-1 is "1".
int32_t vnc_key_code(uint32_t keysym, bool ctrl);

// RFB's button mask (bit 0 left, 1 middle, 2 right, 3 and 4 the wheel) as the program's
// button bits (0 left, 1 right, 2 middle); the wheel makes none, as in the SDL window.
int32_t vnc_buttons(int32_t mask);

// What the display remembers of one viewer.
struct ViewerState {
  bool ctrl_left = false;
  bool ctrl_right = false;
  int32_t x = 0;
  int32_t y = 0;
  int32_t buttons = 0;
};

// The input of every viewer, kept until the program's thread takes it. The viewers' thread
// adds; the program's thread takes. Bounded: a move that changes no button replaces the move
// before it, and past kMaxPending events what arrives is dropped until the program catches up.
class ViewerInput {
 public:
  static constexpr size_t kMaxPending = 1024;

  ViewerInput(int32_t width, int32_t height) : width_(width), height_(height) {}

  void key(ViewerState& viewer, bool down, uint32_t keysym);
  // Positions outside the content area are taken to its nearest edge.
  void pointer(ViewerState& viewer, int32_t mask, int32_t x, int32_t y);
  // The viewer went away: a button it held is let go, so no drag outlives it.
  void gone(ViewerState& viewer);

  // Moves what is pending into `out` (cleared first), waiting up to timeout_ms for the first
  // event when there is none.
  void take(std::vector<GuiEvent>& out, int timeout_ms);
  // Ends a wait in take at once (the display is going away).
  void interrupt();

 private:
  void push(const GuiEvent& event);

  const int32_t width_;
  const int32_t height_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<GuiEvent> pending_;
  bool interrupted_ = false;
};

// A rectangle of changed pixels, x2 and y2 exclusive.
struct ChangedRect {
  int32_t x1, y1, x2, y2;
  bool operator==(const ChangedRect&) const = default;
};

// Rows are compared in bands of this many; each band with a change is one rectangle across its
// changed columns. A moving window then costs two thin rectangles per band, not the screen.
constexpr int32_t kChangeBandRows = 16;

// Copies `picture` over `shown` (the same size) and returns what changed, band by band, top
// to bottom.
std::vector<ChangedRect> apply_changes(const Surface& picture, Surface& shown);

}  // namespace nuv
