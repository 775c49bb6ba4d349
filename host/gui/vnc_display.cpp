#include "host/gui/vnc_display.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "host/gui/vnc_library.h"

namespace nuv {

namespace {

// How long the server thread sleeps when neither a viewer nor the program has anything for
// it, in microseconds (LibVNCServer takes less than a second).
constexpr long kIdleWaitUs = 200'000;

std::string os_error(int error) { return std::strerror(error); }

}  // namespace

std::optional<VncOptions> parse_vnc_listen(std::string_view text, std::string* error) {
  VncOptions out;
  size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) {
    *error = "expected ADDRESS:PORT, got '" + std::string(text) + "'";
    return std::nullopt;
  }
  std::string address(text.substr(0, colon));
  std::string_view port = text.substr(colon + 1);
  if (!address.empty()) {
    if (address == "localhost") address = "127.0.0.1";
    in_addr parsed{};
    if (::inet_pton(AF_INET, address.c_str(), &parsed) != 1) {
      *error = "'" + address + "' is not an IPv4 address";
      return std::nullopt;
    }
    out.address = address;
  }
  if (!port.empty()) {
    unsigned value = 0;
    auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (ec != std::errc() || end != port.data() + port.size() || value > 65535) {
      *error = "port '" + std::string(port) + "' is not a number from 0 to 65535";
      return std::nullopt;
    }
    out.port = static_cast<uint16_t>(value);
  }
  return out;
}

bool is_loopback_address(const std::string& address) {
  in_addr parsed{};
  if (::inet_pton(AF_INET, address.c_str(), &parsed) != 1) return false;
  return (ntohl(parsed.s_addr) >> 24) == 127;
}

// LibVNCServer's callbacks; each runs on the server thread.
struct VncHooks {
  static VncDisplay& display(rfbClientPtr client) {
    return *static_cast<VncDisplay*>(client->screen->screenData);
  }
  static ViewerState& viewer(rfbClientPtr client) {
    return *static_cast<ViewerState*>(client->clientData);
  }

  static void gone(rfbClientPtr client) {
    VncDisplay& d = display(client);
    auto* state = static_cast<ViewerState*>(client->clientData);
    if (state == nullptr) return;
    d.input_.gone(*state);
    delete state;
    client->clientData = nullptr;
    d.viewers_.fetch_sub(1);
    // LibVNCServer 0.9.14 never frees a WebSocket viewer's context (45 KB each time a browser
    // connects); nothing of it is used after this hook, and a library that frees it itself
    // finds null.
    ::free(client->wsctx);
    client->wsctx = nullptr;
  }

  static rfbNewClientAction arrived(rfbClientPtr client) {
    VncDisplay& d = display(client);
    if (d.viewers_.load() >= VncDisplay::kMaxViewers) return RFB_CLIENT_REFUSE;
    client->clientData = new ViewerState;
    client->clientGoneHook = gone;
    d.viewers_.fetch_add(1);
    // The frames presented while nobody watched were not kept: the program's thread is asked
    // for the picture.
    d.joined_.store(true);
    return RFB_CLIENT_ACCEPT;
  }

  static void key(rfbBool down, rfbKeySym keysym, rfbClientPtr client) {
    if (client->clientData == nullptr) return;
    display(client).input_.key(viewer(client), down != 0, keysym);
  }

  static void pointer(int mask, int x, int y, rfbClientPtr client) {
    if (client->clientData == nullptr) return;
    display(client).input_.pointer(viewer(client), mask, x, y);
  }
};

VncDisplay::VncDisplay(const VncOptions& options, int32_t width, int32_t height)
    : address_(options.address),
      password_(options.password),
      shown_(width, height),
      staging_(width, height),
      incoming_(width, height),
      input_(width, height) {
  std::string why;
  vnc_ = vnc_library(&why);
  if (vnc_ == nullptr) throw DisplayError(why);
  // LibVNCServer reports every connection on standard error; the runner's own lines say what
  // users need.
  vnc_->LogEnable(0);

  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(options.port);
  if (::inet_pton(AF_INET, options.address.c_str(), &where.sin_addr) != 1) {
    throw DisplayError("cannot listen on " + options.address + ": not an IPv4 address");
  }
  std::string place = options.address + ":" + std::to_string(options.port);
  // The socket is ours, so port 0 takes any free port as --gdb 0 does (LibVNCServer's own
  // search tries 5900 upwards).
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) throw DisplayError("cannot listen on " + place + ": " + os_error(errno));
  int on = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (::bind(listener, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
      ::listen(listener, 16) != 0) {
    int error = errno;
    ::close(listener);
    throw DisplayError("cannot listen on " + place + ": " + os_error(error));
  }
  socklen_t length = sizeof where;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&where), &length);
  port_ = ntohs(where.sin_port);

  wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  int argc = 0;
  screen_ = vnc_->GetScreen(&argc, nullptr, width, height, 8, 3, 4);
  if (wake_fd_ < 0 || screen_ == nullptr) {
    ::close(listener);
    if (wake_fd_ >= 0) ::close(wake_fd_);
    throw DisplayError("cannot start the VNC server");
  }
  rfbScreenInfoPtr s = screen_;
  s->screenData = this;
  // Our pixels are 0x00RRGGBB words: viewers get them without conversion.
  s->serverFormat.redShift = 16;
  s->serverFormat.greenShift = 8;
  s->serverFormat.blueShift = 0;
  s->frameBuffer = reinterpret_cast<char*>(shown_.pixels.data());
  s->desktopName = "nuvrelos";
  // Drawn into the pictures of viewers that cannot draw it themselves, the default cursor
  // would make them differ from what the program drew; viewers show their own pointer.
  s->cursor = nullptr;
  s->alwaysShared = TRUE;  // a viewer asking for the screen alone does not push others out
  s->deferUpdateTime = 0;
  s->deferPtrUpdateTime = 0;
  s->maxClientWait = kWriteWaitMs;
  *vnc_->max_client_wait = kWriteWaitMs;
  // The runner decides what a broken pipe does; the server thread blocks the signal instead.
  s->ignoreSIGPIPE = FALSE;
  s->newClientHook = VncHooks::arrived;
  s->kbdAddEvent = VncHooks::key;
  s->ptrAddEvent = VncHooks::pointer;
  if (!password_.empty()) {
    passwords_ = {password_.data(), nullptr};
    s->authPasswdData = passwords_.data();
    s->passwordCheck = vnc_->CheckPasswordByList;
    s->authPasswdFirstViewOnly = 1;
  }
  // Our listening socket, and the program's wake-ups in the same wait.
  s->port = port_;
  s->ipv6port = 0;
  s->listenSock = listener;
  s->socketState = RFB_SOCKET_READY;
  FD_SET(listener, &s->allFds);
  FD_SET(wake_fd_, &s->allFds);
  s->maxFd = std::max(listener, wake_fd_);
  vnc_->InitServer(s);
  server_ = std::thread([this] { serve(); });
}

VncDisplay::~VncDisplay() {
  stopping_.store(true);
  wake();
  input_.interrupt();
  if (server_.joinable()) server_.join();
  if (wake_fd_ >= 0) ::close(wake_fd_);
}

void VncDisplay::wake() {
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(wake_fd_, &one, sizeof one);
}

void VncDisplay::set_title(const std::string& title) {
  {
    std::lock_guard lock(handover_);
    title_ = title;
    title_changed_ = true;
  }
  wake();
}

void VncDisplay::show(const Surface& picture) {
  if (picture.width != incoming_.width || picture.height != incoming_.height) return;
  {
    std::lock_guard lock(handover_);
    std::memcpy(incoming_.pixels.data(), picture.pixels.data(),
                incoming_.pixels.size() * sizeof(uint32_t));
    fresh_ = true;
  }
  wake();
}

const std::vector<GuiEvent>& VncDisplay::pump(int timeout_ms) {
  input_.take(events_, timeout_ms);
  return events_;
}

bool VncDisplay::take_frame() {
  {
    std::lock_guard lock(handover_);
    if (title_changed_) {
      // Viewers read the name when they connect.
      desktop_name_ = title_;
      screen_->desktopName = desktop_name_.c_str();
      title_changed_ = false;
    }
    if (!fresh_) return false;
    std::swap(incoming_, staging_);
    fresh_ = false;
  }
  std::vector<ChangedRect> changed = apply_changes(staging_, shown_);
  for (const ChangedRect& r : changed) vnc_->MarkRectAsModified(screen_, r.x1, r.y1, r.x2, r.y2);
  return !changed.empty();
}

void VncDisplay::serve() {
  // A viewer that went away makes writes fail with EPIPE here, whatever the process does
  // with the signal.
  sigset_t pipe_signal;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
  long wait_us = kIdleWaitUs;
  while (!stopping_.load()) {
    // Reads what viewers sent, answers their requests with what is marked, and sleeps until
    // a viewer or the program (the wake-up descriptor) has something.
    vnc_->ProcessEvents(screen_, wait_us);
    uint64_t count = 0;
    while (::read(wake_fd_, &count, sizeof count) > 0) {
    }
    // Something marked goes out on the next round, without waiting.
    wait_us = take_frame() ? 0 : kIdleWaitUs;
  }
  vnc_->ShutdownServer(screen_, TRUE);
  FD_CLR(wake_fd_, &screen_->allFds);
  vnc_->ScreenCleanup(screen_);
  screen_ = nullptr;
}

}  // namespace nuv
