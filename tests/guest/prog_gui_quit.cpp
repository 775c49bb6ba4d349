// A window that quits on any key at once, without presenting the frame it is in: each frame it
// presents is one colour, frame N in grey N.
#include <gui.h>

int main() {
  GuiHandle handle = gui_create("Quits at once", "any key");
  if (handle < 0) return 1;
  for (int frame = 0;; ++frame) {
    GuiEvent event;
    while (gui_poll_event(handle, &event) > 0) {
      if (event.type == 1) return 0;
    }
    GuiColor grey = {static_cast<unsigned char>(frame), static_cast<unsigned char>(frame),
                     static_cast<unsigned char>(frame), 0};
    gui_begin(handle);
    gui_clear(handle, &grey);
    gui_present(handle);
  }
}
