// The input as a file for code that opens what it reads by name: one memory file a process,
// rewritten for each input, so nothing reaches the disk.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/base/unique_fd.h"

namespace nuv::fuzz {

inline const std::string& as_file(const uint8_t* data, size_t size) {
  static const UniqueFd file(::memfd_create("input", MFD_CLOEXEC));
  static const std::string path = "/proc/self/fd/" + std::to_string(file.get());
  if (file.get() < 0 || ::ftruncate(file.get(), 0) != 0 ||
      ::pwrite(file.get(), data, size, 0) != static_cast<ssize_t>(size)) {
    std::abort();
  }
  return path;
}

}  // namespace nuv::fuzz
