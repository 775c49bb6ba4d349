// Process, console and timing services.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "host/gui/compositor.h"
#include "host/kernel/kernel.h"
#include "host/kernel/service_handlers.h"

namespace nuv {
namespace {

// The most a spawn's argument vector may hold, as Linux's ARG_MAX bounds an exec's.
constexpr int32_t kMaxArguments = 4096;
constexpr size_t kMaxArgumentBytes = 128 * 1024;
constexpr uint32_t kWaitNoHang = 1;

// The argument vector at `request`: count pointers to NUL-terminated strings.
ErrorOr<std::vector<std::string>> read_arguments(Kernel& k, uint32_t request, int32_t count) {
  if (count <= 0) return err::kEINVAL;
  if (count > kMaxArguments) return err::kE2BIG;
  std::vector<uint32_t> pointers(static_cast<size_t>(count));
  if (!k.memory().copy_in(request, pointers.data(), pointers.size() * 4)) return err::kEFAULT;
  std::vector<std::string> args;
  size_t total = 0;
  for (uint32_t at : pointers) {
    size_t room = kMaxArgumentBytes - total;
    std::optional<std::string> arg = k.memory().read_string(at, room);
    if (!arg) {
      // Unterminated within what is left: too large if all of it is readable, else a fault.
      bool readable = k.memory().run_length(at, room + 1, kRead) == room + 1;
      return readable ? err::kE2BIG : err::kEFAULT;
    }
    total += arg->size() + 1;
    args.push_back(std::move(*arg));
  }
  return args;
}

}  // namespace

int32_t svc_exit(Kernel& k, Int status) {
  k.set_exited(status);
  return 0;
}

int32_t svc_getkey(Kernel& k) {
  OpenFile* in = k.files().get(0);
  unsigned char byte = 0;
  if (in == nullptr) return err::kEIO;
  int32_t got = in->read(&byte, 1);
  if (got == kMustWait) return k.block("reading descriptor 0");
  if (got != 1) return err::kEIO;  // end of input
  return byte;
}

int32_t svc_usleep(Kernel& k, Microseconds us) {
  // Among several processes a sleep waits until the machine's clock, which moves when every
  // process waits, reaches its end: the others run meanwhile.
  std::optional<uint64_t>& until = k.sleep_until();
  ProcessHost* host = k.shared().host;
  if (until || (host != nullptr && host->alive() > 1)) {
    if (!until) until = k.clock_us() + us;
    if (k.clock_us() < *until) return k.block("sleeping");
    until.reset();
    return 0;
  }
  k.advance_clock(us);
  // Nobody watches a headless run: its time is virtual and costs nothing. A window's sleep is
  // real, and ends early when the run is asked to end.
  if (k.compositor().showing_window()) k.stop_request().sleep_for(std::chrono::microseconds(us));
  return 0;
}

int32_t svc_spawn(Kernel& k, GuestAddress request, Bits flags, Int count) {
  if (flags != 0) return err::kEINVAL;
  std::vector<std::string> args = TRY(read_arguments(k, request, count));
  ProcessHost* host = k.shared().host;
  if (host == nullptr) return err::kENOSYS;  // a machine of one process (the test harness)
  if (args[0].empty()) return err::kENOENT;
  auto open = [&]() -> int {
    int fd = k.fs().open(args[0], O_RDONLY | O_NONBLOCK | O_CLOEXEC, 0);
    if (fd < 0) return fd;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      return err::kEACCES;
    }
    return fd;
  };
  // A record keeps the program, and its replay runs what it kept.
  CallJournal* journal = k.shared().journal;
  int fd = journal != nullptr ? journal->program(k, args[0], open) : open();
  if (fd < 0) return fd;
  return host->spawn(k, fd, args);
}

int32_t svc_waitpid(Kernel& k, Int pid, GuestAddress status, Bits options) {
  if ((options & ~kWaitNoHang) != 0 || pid == 0 || pid < -1) return err::kEINVAL;
  ProcessHost* host = k.shared().host;
  if (host == nullptr) return err::kECHILD;
  int32_t word = 0;
  int32_t found = host->wait(k, pid, (options & kWaitNoHang) != 0, word, false);
  if (found == kWouldBlock) return k.block("waiting for a child");
  if (found <= 0) return found;
  // The child is reaped only once its status is delivered: a bad pointer loses nothing.
  if (status != 0 && !store_for_program(k, status, &word, sizeof word)) return err::kEFAULT;
  host->wait(k, found, true, word, true);
  return found;
}

int32_t svc_fd_set_stdio(Kernel& k, Int in, Int out, Int error) {
  const int32_t fds[3] = {in, out, error};
  for (int32_t fd : fds) {
    if (fd != -1 && k.files().get(fd) == nullptr) return err::kEBADF;
  }
  for (size_t i = 0; i < 3; ++i) k.spawn_settings().stdio[i] = fds[i];
  return 0;
}

int32_t svc_fd_set_inherit(Kernel& k, Flag on) {
  k.spawn_settings().inherit = on;
  return 0;
}

int32_t svc_fd_set_nonblock(Kernel&, Fd fd, Flag on) {
  fd->nonblock = on;
  return 0;
}

}  // namespace nuv
