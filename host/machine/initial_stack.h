// The stack a program starts on, as _start reads it: the argument strings at the top, below
// them the argument count, the vector of pointers to the strings and its terminating null,
// with the stack pointer on the count.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nuv {

struct InitialStack {
  uint32_t strings_at = 0;
  std::vector<uint8_t> strings;
  uint32_t sp = 0;
  std::vector<uint32_t> words;  // the count, the vector, its null
};

// The stack below `top`; the stack pointer sits stack_offset (0, 4, 8 or 12) bytes past a
// 16-byte boundary. Nullopt when the arguments would take more than half of `size` bytes.
std::optional<InitialStack> initial_stack(const std::vector<std::string>& args, uint32_t top,
                                          uint32_t size, uint32_t stack_offset);

}  // namespace nuv
