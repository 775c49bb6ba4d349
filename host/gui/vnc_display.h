// The display as a VNC server: viewers on any machine (a VNC viewer, or noVNC in a browser,
// which LibVNCServer's built-in WebSockets let connect to the same port) see the shown window
// and give it input.
//
// Threads: the program's thread presents and takes input; one server thread of the display's
// own runs LibVNCServer, which is not told about threads at all. A frame crosses over as a
// copy under a lock; the server thread compares it with what viewers were last sent and
// marks only the changed rectangles. A viewer that stalls holds up the server thread for at
// most kWriteWaitMs, never the program.
//
// Viewers: up to kMaxViewers at once, all of them watching and all giving input (as QEMU's VNC
// server does). While one holds a mouse button the pointer is its own, and the others' pointer
// events are ignored until it lets go (LibVNCServer's rule); keys of all are taken. A viewer
// that goes away while holding a button lets it go.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "host/gui/display.h"
#include "host/gui/vnc_input.h"

struct _rfbScreenInfo;

namespace nuv {

struct VncLibrary;

struct VncOptions {
  std::string address = "127.0.0.1";  // an IPv4 address to listen on
  uint16_t port = 0;                  // 0: any free port
  std::string password;               // empty: none, which only loopback allows
};

// "ADDRESS:PORT" (either may be empty: 127.0.0.1, any free port); nullopt, with the reason in
// *error, for anything else.
std::optional<VncOptions> parse_vnc_listen(std::string_view text, std::string* error);
// Whether the address is one of this machine's loopback addresses (127.0.0.0/8).
bool is_loopback_address(const std::string& address);

class VncDisplay : public Display {
 public:
  static constexpr int32_t kMaxViewers = 8;
  static constexpr int kWriteWaitMs = 3000;

  // Listens at once; throws DisplayError when LibVNCServer cannot be loaded or the address
  // cannot be listened on.
  VncDisplay(const VncOptions& options, int32_t width, int32_t height);
  ~VncDisplay() override;
  VncDisplay(const VncDisplay&) = delete;
  VncDisplay& operator=(const VncDisplay&) = delete;

  // Where viewers connect.
  const std::string& address() const { return address_; }
  uint16_t port() const { return port_; }

  void set_title(const std::string& title) override;
  void show(const Surface& picture) override;
  bool watched() const override { return viewers_.load() > 0; }
  bool wants_picture() override { return joined_.exchange(false); }
  const std::vector<GuiEvent>& pump(int timeout_ms = 0) override;
  // Viewers draw their own pointer.
  void set_cursor_visible(bool) override {}
  bool warp_pointer(int32_t, int32_t) override { return false; }

  // Viewers connected now (for tests and benchmarks).
  int32_t viewers() const { return viewers_.load(); }

 private:
  friend struct VncHooks;  // LibVNCServer's callbacks, on the server thread

  void serve();
  bool take_frame();
  void wake();

  const VncLibrary* vnc_;
  _rfbScreenInfo* screen_ = nullptr;
  std::string address_;
  uint16_t port_ = 0;
  std::string password_;
  std::vector<char*> passwords_;  // LibVNCServer's list: the password, then null
  int wake_fd_ = -1;

  // What viewers are sent: the server thread's alone.
  Surface shown_;
  Surface staging_;
  std::string desktop_name_;

  // Handed from the program's thread to the server thread.
  std::mutex handover_;
  Surface incoming_;
  bool fresh_ = false;
  std::string title_;
  bool title_changed_ = false;

  ViewerInput input_;
  std::vector<GuiEvent> events_;
  std::atomic<int32_t> viewers_{0};
  std::atomic<bool> joined_{false};
  std::atomic<bool> stopping_{false};
  std::thread server_;
};

}  // namespace nuv
