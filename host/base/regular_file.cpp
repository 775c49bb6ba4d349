#include "host/base/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace nuv {

UniqueFd open_regular_file(const std::string& path, std::string& why) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd) {
    why = std::strerror(errno);
    return fd;
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) {
    why = std::strerror(errno);
    return UniqueFd();
  }
  if (!S_ISREG(st.st_mode)) {
    why = S_ISDIR(st.st_mode) ? "a directory, not a regular file" : "not a regular file";
    return UniqueFd();
  }
  // Regular files never block; later reads need no special mode.
  ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  return fd;
}

bool read_regular_file(const std::string& path, size_t max_size, std::vector<uint8_t>& bytes,
                       std::string& why) {
  UniqueFd fd = open_regular_file(path, why);
  if (!fd) return false;
  bytes.clear();
  uint8_t chunk[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      why = std::strerror(errno);
      return false;
    }
    if (n == 0) return true;
    if (bytes.size() + static_cast<size_t>(n) > max_size) {
      why = "larger than " + std::to_string(max_size) + " bytes";
      return false;
    }
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
}

}  // namespace nuv
