// A VNC viewer inside the test (or benchmark) process, on libvncclient: it connects to a
// runner's --display vnc, keeps the picture it is sent, and sends pointer and key events. Its
// picture uses the compositor's pixel format, so it compares with a Surface directly.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "host/gui/surface.h"

struct _rfbClient;

namespace nuv::test {

class VncViewer {
 public:
  // Connects to 127.0.0.1:port and completes the handshake (see connected()). `encodings` is
  // libvncclient's list, best first; JPEG is never asked for, so every encoding is exact.
  explicit VncViewer(uint16_t port, std::string password = "", std::string encodings = "raw");
  ~VncViewer();
  VncViewer(const VncViewer&) = delete;
  VncViewer& operator=(const VncViewer&) = delete;

  bool connected() const { return client_ != nullptr; }
  // Reads what the server sends until `done` holds after a whole update; false when the
  // connection ends or `patience` runs out first.
  bool until(const std::function<bool(const Surface&)>& done,
             std::chrono::milliseconds patience = std::chrono::seconds(50));
  // Reads for about this long (at least one wait), keeping the picture current.
  bool read_for(std::chrono::milliseconds time);
  const Surface& picture() const { return picture_; }
  // Whole updates received so far.
  uint64_t updates() const { return updates_; }

  // RFB button mask: bit 0 left, bit 1 middle, bit 2 right.
  bool pointer(int32_t x, int32_t y, int32_t mask);
  bool key(uint32_t keysym, bool down);
  // Presses and releases.
  bool type(uint32_t keysym) { return key(keysym, true) && key(keysym, false); }

 private:
  bool read_once(int wait_us);
  static void finished(_rfbClient* client);

  _rfbClient* client_ = nullptr;
  std::string password_;
  std::string encodings_;
  Surface picture_;
  uint64_t updates_ = 0;
};

}  // namespace nuv::test
