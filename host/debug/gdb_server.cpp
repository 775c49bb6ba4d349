#include "host/debug/gdb_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "host/debug/gdb_packet.h"

namespace nuv {

namespace {

bool send_all(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// While the program runs, the debugger may only interrupt it: a thread watches the connection
// for Ctrl-C (or for the debugger going away) and keeps whatever else arrives for later.
class RunWatch {
 public:
  RunWatch(int fd, ProcessTarget& target, std::string& kept, bool& gone, bool asked)
      : thread_([this, fd, &target, &kept, &gone, asked]() mutable {
          while (!done_) {
            // Asked again on every round: a pause asked for just before the run began would
            // otherwise be lost.
            if (asked) target.interrupt();
            pollfd p{fd, POLLIN, 0};
            int ready = ::poll(&p, 1, 20);
            if (ready <= 0) continue;
            char buf[512];
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) {
              gone = true;
              target.interrupt();
              return;
            }
            for (ssize_t i = 0; i < n; ++i) {
              if (buf[i] == '\x03') {
                asked = true;
                target.interrupt();
              } else if (kept.size() < GdbServer::kMaxKeptWhileRunning) {
                kept.push_back(buf[i]);
              }
            }
          }
        }) {}
  ~RunWatch() {
    done_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> done_{false};
  std::thread thread_;
};

}  // namespace

GdbServer::GdbServer(uint16_t port) {
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) throw GdbServerError(std::string("cannot make a socket: ") + strerror(errno));
  int one = 1;
  ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listen_fd_, 1) != 0) {
    int e = errno;
    ::close(listen_fd_);
    listen_fd_ = -1;
    throw GdbServerError("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " +
                         (e == EADDRINUSE ? std::string("the port is in use") : strerror(e)));
  }
  socklen_t len = sizeof addr;
  ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
}

GdbServer::~GdbServer() {
  if (listen_fd_ >= 0) ::close(listen_fd_);
}

GdbServer::End GdbServer::serve(ProcessTarget& target, int stop_fd) {
  // Waits for `fd` to be readable: false when the run is to end first.
  auto wait_for = [stop_fd](int fd) {
    for (;;) {
      pollfd p[2] = {{fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
      if (::poll(p, stop_fd >= 0 ? 2 : 1, -1) < 0 && errno != EINTR) return true;
      if (stop_fd >= 0 && (p[1].revents & POLLIN)) return false;
      if (p[0].revents != 0) return true;
    }
  };
  if (!wait_for(listen_fd_)) return End::Stopped;
  int fd = -1;
  do {
    fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return End::Disconnected;
  // One debugger per run: nobody else may connect meanwhile.
  ::close(listen_fd_);
  listen_fd_ = -1;
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

  GdbPacketParser parser;
  GdbSession session(target);
  std::string last_reply;
  std::string kept;
  bool gone = false;
  target.on_run = [&]() -> std::shared_ptr<void> {
    return std::make_shared<RunWatch>(fd, target, kept, gone, parser.take_interrupt());
  };
  End end = End::Disconnected;
  auto send_reply = [&](const std::string& body) {
    last_reply = gdb_frame(body);
    return send_all(fd, last_reply);
  };
  for (bool open = true; open;) {
    while (auto in = parser.next()) {
      bool sent = true;
      switch (in->kind) {
        case GdbInput::Kind::Packet: {
          if (!session.no_ack()) sent = send_all(fd, "+");
          std::optional<std::string> reply = session.handle(in->payload);
          if (!kept.empty()) {
            parser.feed(kept);
            kept.clear();
          }
          if (reply && sent) sent = send_reply(*reply);
          break;
        }
        case GdbInput::Kind::Interrupt:
          sent = send_reply(session.interrupted());
          break;
        case GdbInput::Kind::Nack:
          if (!session.no_ack() && !last_reply.empty()) sent = send_all(fd, last_reply);
          break;
        case GdbInput::Kind::Damaged:
          if (!session.no_ack()) sent = send_all(fd, "-");
          break;
        case GdbInput::Kind::Ack:
          break;
      }
      if (session.end() != GdbSession::End::None) {
        end = session.end() == GdbSession::End::Killed ? End::Killed : End::Detached;
        open = false;
        break;
      }
      if (!sent || gone) {
        open = false;
        break;
      }
    }
    if (!open) break;
    if (!wait_for(fd)) {
      end = End::Stopped;
      break;
    }
    char buf[4096];
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    parser.feed(std::string_view(buf, static_cast<size_t>(n)));
  }
  target.on_run = nullptr;
  ::close(fd);
  return end;
}

}  // namespace nuv
