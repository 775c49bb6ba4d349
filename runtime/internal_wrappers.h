/* Shared by the wrapper units: the argument rules every wrapper applies before its call. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "syscall.h"

namespace nuv {

inline uint32_t addr(const void *p) { return reinterpret_cast<uint32_t>(p); }

// The kernel must never see a count that reads as negative.
inline uint32_t clamp_count(size_t count) {
  return count > NUVRELOS_COUNT_MAX ? NUVRELOS_COUNT_MAX : count;
}

inline uint32_t flag01(int flag) { return flag != 0 ? 1u : 0u; }

}  // namespace nuv
