// nuvrelos-run: runs an i386 program of the system on Linux, the way a user-mode emulator
// runs a foreign binary.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "host/runner/run.h"

namespace {

// A standard descriptor the runner was started without is taken by one that fails every
// write (and reads nothing), so no file the guest opens can take its number and receive what
// was meant for the console.
void hold_closed_standard_descriptors() {
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    int held = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (held >= 0 && held != fd) {
      ::dup3(held, fd, O_CLOEXEC);
      ::close(held);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  hold_closed_standard_descriptors();
  // A reader that goes away must not kill the runner in the middle of a write: it ends the
  // guest as SIGPIPE would, then closes the trace and ends with SIGPIPE's status.
  std::signal(SIGPIPE, SIG_IGN);
  auto options = nuv::parse_run_options(argc, argv);
  if (const int* status = std::get_if<int>(&options)) return *status;
  return nuv::exit_status(nuv::run_program(std::get<nuv::RunOptions>(options)));
}
