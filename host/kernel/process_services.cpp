// Process, console and timing services, and the services that have nothing behind them on
// this platform.
#include <chrono>

#include "host/abi/errors.h"
#include "host/gui/compositor.h"
#include "host/kernel/kernel.h"
#include "host/kernel/service_table.h"

namespace nuv {

int32_t svc_exit(Kernel& k, const Slots& s) {
  k.set_exited(static_cast<int32_t>(s[0]));
  return 0;
}

int32_t svc_getkey(Kernel& k, const Slots&) {
  OpenFile* in = k.files().get(0);
  unsigned char byte = 0;
  if (in == nullptr || in->read(&byte, 1) != 1) return err::kEIO;  // end of input
  return byte;
}

int32_t svc_usleep(Kernel& k, const Slots& s) {
  k.advance_clock(s[0]);
  // Nobody watches a headless run: its time is virtual and costs nothing. A window's sleep is
  // real, and ends early when the run is asked to end.
  if (k.compositor().showing_window()) k.stop_request().sleep_for(std::chrono::microseconds(s[0]));
  return 0;
}

#define NUV_NOT_IMPLEMENTED(name) \
  int32_t svc_##name(Kernel&, const Slots&) { return err::kENOSYS; }
NUV_NOT_IMPLEMENTED(mkfifo)
NUV_NOT_IMPLEMENTED(spawn)
NUV_NOT_IMPLEMENTED(waitpid)
NUV_NOT_IMPLEMENTED(fd_set_inherit)
NUV_NOT_IMPLEMENTED(fd_set_stdio)
NUV_NOT_IMPLEMENTED(fd_set_nonblock)
NUV_NOT_IMPLEMENTED(nuvrelfs_stream_begin)
NUV_NOT_IMPLEMENTED(nuvrelfs_stream_write)
NUV_NOT_IMPLEMENTED(nuvrelfs_stream_end)
#undef NUV_NOT_IMPLEMENTED

}  // namespace nuv
