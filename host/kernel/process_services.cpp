// Process, console and timing services.
#include <chrono>

#include "host/gui/compositor.h"
#include "host/kernel/kernel.h"
#include "host/kernel/service_handlers.h"

namespace nuv {

int32_t svc_exit(Kernel& k, Int status) {
  k.set_exited(status);
  return 0;
}

int32_t svc_getkey(Kernel& k) {
  OpenFile* in = k.files().get(0);
  unsigned char byte = 0;
  if (in == nullptr || in->read(&byte, 1) != 1) return err::kEIO;  // end of input
  return byte;
}

int32_t svc_usleep(Kernel& k, Microseconds us) {
  k.advance_clock(us);
  // Nobody watches a headless run: its time is virtual and costs nothing. A window's sleep is
  // real, and ends early when the run is asked to end.
  if (k.compositor().showing_window()) k.stop_request().sleep_for(std::chrono::microseconds(us));
  return 0;
}

}  // namespace nuv
