// The debugger's connection: listens on the loopback interface only, takes one debugger, and
// serves it packets until it kills the program, detaches or goes away.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "host/debug/process_target.h"

namespace nuv {

struct GdbServerError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class GdbServer {
 public:
  // Listens on 127.0.0.1:port (0: any free port); throws GdbServerError naming the problem
  // (a port in use among them).
  explicit GdbServer(uint16_t port);
  ~GdbServer();
  GdbServer(const GdbServer&) = delete;
  GdbServer& operator=(const GdbServer&) = delete;

  uint16_t port() const { return port_; }

  enum class End { Killed, Detached, Disconnected, Stopped };
  // Waits for the debugger, then answers it. The program stays stopped until it says
  // otherwise; after Detached or Disconnected it is the caller's to run on. A stop_fd that
  // becomes readable (the run is to end) ends the wait for the debugger or for its next
  // packet at once: Stopped, with the connection closed.
  End serve(ProcessTarget& target, int stop_fd = -1);

  // What the debugger may send while the program runs (it should send nothing but Ctrl-C) is
  // kept for when it stops, up to this much; the rest is dropped, as a damaged packet.
  static constexpr size_t kMaxKeptWhileRunning = 128 * 1024;

 private:
  int listen_fd_ = -1;
  uint16_t port_ = 0;
};

}  // namespace nuv
