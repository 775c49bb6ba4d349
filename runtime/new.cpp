// The C++ allocation operators over the runtime's heap: delete is free, which keeps the memory
// on the bump heap and reuses it on the heap that frees.
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

// The bump heap's blocks are 4-byte aligned; programs are compiled with -faligned-new=4, so
// any type that needs more comes here, and aligned_alloc finds the place (free takes it back
// on a heap that reuses memory).
void *allocate_aligned(std::size_t size, std::align_val_t align, bool must) {
  void *block = aligned_alloc(static_cast<std::size_t>(align), size);
  if (block == nullptr && must) out_of_memory(size);
  return block;
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
void operator delete(void *pointer, std::align_val_t) noexcept { free(pointer); }
void operator delete[](void *pointer, std::align_val_t) noexcept { free(pointer); }
void operator delete(void *pointer, std::size_t, std::align_val_t) noexcept { free(pointer); }
void operator delete[](void *pointer, std::size_t, std::align_val_t) noexcept { free(pointer); }
