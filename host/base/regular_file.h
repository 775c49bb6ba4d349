// Input files the runner reads whole (the program, a font, a scenario): only regular files,
// and opened so that a FIFO or a device named by mistake is refused instead of waited on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/base/unique_fd.h"

namespace nuv {

// A descriptor of the regular file at `path`, or an empty one with `why` saying what it is.
UniqueFd open_regular_file(const std::string& path, std::string& why);

// The whole file, at most max_size bytes; false with `why` set when it cannot be read.
bool read_regular_file(const std::string& path, size_t max_size, std::vector<uint8_t>& bytes,
                       std::string& why);

}  // namespace nuv
