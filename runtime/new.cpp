// The C++ allocation operators over the runtime's bump heap. delete is free, which keeps the
// memory, so the sized and aligned forms have nothing more to do.
#include <stdint.h>

#include <new>

#include "stdio.h"
#include "stdlib.h"
#include "unistd.h"

namespace {

// No exceptions to throw: say what failed and end the program, as an uncaught bad_alloc would.
[[noreturn]] void out_of_memory(std::size_t size) {
  char line[96];
  int n = snprintf(line, sizeof line, "out of memory: operator new could not get %u bytes\n",
                   static_cast<unsigned>(size));
  // One write: the stream layer would send the console a kernel call per byte.
  write(1, line, static_cast<size_t>(n));
  abort();
}

void *allocate(std::size_t size) {
  void *block = malloc(size);
  if (block == nullptr) out_of_memory(size);
  return block;
}

// The heap's blocks start 4 bytes into an 8-byte slot (after the size header), so they are
// 4-byte aligned; programs are compiled with -faligned-new=4, so any type that needs more
// comes here. The block takes align - 4 spare bytes and the object starts inside it; nothing
// is ever handed back, so the moved start is never freed.
void *allocate_aligned(std::size_t size, std::align_val_t align, bool must) {
  std::size_t a = static_cast<std::size_t>(align);
  if (a <= 4) return must ? allocate(size) : malloc(size);
  void *block = size <= 0xFFFFFFFFu - a ? malloc(size + a - 4) : nullptr;
  if (block == nullptr) {
    if (must) out_of_memory(size);
    return nullptr;
  }
  uintptr_t start = (reinterpret_cast<uintptr_t>(block) + a - 1) & ~(uintptr_t{a} - 1);
  return reinterpret_cast<void *>(start);
}

}  // namespace

namespace std {
const nothrow_t nothrow{};
}  // namespace std

void *operator new(std::size_t size) { return allocate(size); }
void *operator new[](std::size_t size) { return allocate(size); }
void *operator new(std::size_t size, std::align_val_t align) {
  return allocate_aligned(size, align, true);
}
void *operator new[](std::size_t size, std::align_val_t align) {
  return allocate_aligned(size, align, true);
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept { return malloc(size); }
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept { return malloc(size); }

void operator delete(void *pointer) noexcept { free(pointer); }
void operator delete[](void *pointer) noexcept { free(pointer); }
void operator delete(void *pointer, std::size_t) noexcept { free(pointer); }
void operator delete[](void *pointer, std::size_t) noexcept { free(pointer); }
void operator delete(void *, std::align_val_t) noexcept {}
void operator delete[](void *, std::align_val_t) noexcept {}
void operator delete(void *, std::size_t, std::align_val_t) noexcept {}
void operator delete[](void *, std::size_t, std::align_val_t) noexcept {}
