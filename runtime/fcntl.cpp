#include "fcntl.h"

#include "internal_wrappers.h"

using nuv::addr;

extern "C" {

int open(const char *path, int flags, ...) {
  if (path == nullptr) return -1;
  // The third slot repeats the flags when creating and is 0 otherwise; the caller's third
  // argument is never read.
  uint32_t third = (flags & O_CREAT) != 0 ? static_cast<uint32_t>(flags) : 0u;
  return nuvrelos_syscall_inline(SVC_open, addr(path), static_cast<uint32_t>(flags), third);
}

int creat(const char *path, int /*mode*/) {
  if (path == nullptr) return -1;
  return nuvrelos_syscall_inline(SVC_open, addr(path), O_WRONLY | O_CREAT | O_TRUNC, 0);
}

}  // extern "C"
