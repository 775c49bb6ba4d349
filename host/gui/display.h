// Where the compositor shows its picture and gets its input from: the SDL window on this
// machine's screen (host/gui/sdl_display.h), or a VNC server that viewers on any machine
// connect to (host/gui/vnc_display.h). Headless runs have none.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/gui/gui_event.h"
#include "host/gui/surface.h"

namespace nuv {

class DisplayError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Display {
 public:
  virtual ~Display() = default;

  virtual void set_title(const std::string& title) = 0;
  // Shows the picture; the display may keep the reference until the next call.
  virtual void show(const Surface& picture) = 0;
  // Whether anyone looks at the picture: while nobody does (a VNC server without viewers), the
  // compositor neither paints frames nor shows them.
  virtual bool watched() const { return true; }
  // True when the display needs the current picture again although nothing was presented
  // (a viewer that just arrived); the compositor asks at every pump.
  virtual bool wants_picture() { return false; }
  // Turns the user's input since the last call into events; the list is reused from call to
  // call. Waits up to timeout_ms for the first one when asked to.
  virtual const std::vector<GuiEvent>& pump(int timeout_ms = 0) = 0;
  // The user closed the display, which ends the run.
  virtual bool closed() const { return false; }
  // Closed by something other than the user: another program destroyed the window.
  virtual bool lost() const { return false; }
  virtual void set_cursor_visible(bool on) = 0;
  // Moves the user's pointer, whose motion then comes back as an event; false where the
  // display cannot move it, and the compositor reports the move itself.
  virtual bool warp_pointer(int32_t x, int32_t y) = 0;
};

}  // namespace nuv
