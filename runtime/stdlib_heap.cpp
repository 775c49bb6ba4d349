// The heap: a bump allocator over one static arena. Blocks are never reclaimed, so a block is
// just a 32-bit size header followed by the caller's bytes, padded to 8.
#include <stdint.h>

#include "errno.h"
#include "stdlib.h"
#include "string.h"

namespace {

constexpr uint32_t kArenaBytes = 0x100000;
constexpr uint32_t kHeaderBytes = 4;

// Makes a block recording n (n >= 1) at the end of the used arena, or fails with ENOMEM.
void *make_block(uint32_t n);

}  // namespace

extern "C" {

// Words, not bytes, so the headers are read and written as the 32-bit objects they are;
// the 16-byte alignment keeps every block start on an 8-byte boundary.
alignas(16) uint32_t g_heap[kArenaBytes / 4];
uint32_t g_heap_used = 0;

void *malloc(size_t size) { return make_block(size == 0 ? 1 : size); }

void *calloc(size_t count, size_t size) {
  if (count == 0 || size == 0) return make_block(1);
  if (count > 0xFFFFFFFFu / size) {
    errno = ENOMEM;
    return nullptr;
  }
  uint32_t bytes = count * size;
  void *block = make_block(bytes);
  if (block != nullptr) memset(block, 0, bytes);
  return block;
}

void *realloc(void *pointer, size_t size) {
  if (pointer == nullptr) return malloc(size);
  uint32_t n = size == 0 ? 1 : size;
  void *block = make_block(n);
  if (block == nullptr) return nullptr;
  uint32_t old_size = static_cast<const uint32_t *>(pointer)[-1];
  memcpy(block, pointer, old_size < n ? old_size : n);
  return block;
}

void free(void *) {}

// Blocks are 4-byte aligned; a larger alignment takes alignment - 4 spare bytes and starts the
// caller's bytes inside the block, with a size word of its own in front for realloc.
void *aligned_alloc(size_t alignment, size_t size) {
  if (alignment == 0 || (alignment & (alignment - 1)) != 0) {
    errno = EINVAL;
    return nullptr;
  }
  uint32_t n = size == 0 ? 1 : size;
  if (alignment <= kHeaderBytes) return make_block(n);
  if (n > 0xFFFFFFFFu - alignment) {
    errno = ENOMEM;
    return nullptr;
  }
  void *block = make_block(n + alignment - kHeaderBytes);
  if (block == nullptr) return nullptr;
  uintptr_t start = (reinterpret_cast<uintptr_t>(block) + alignment - 1) & ~(alignment - 1);
  // Blocks sit 4 past a multiple of 8, so a moved start is at least 4 bytes in.
  reinterpret_cast<uint32_t *>(start)[-1] = n;
  return reinterpret_cast<void *>(start);
}

int posix_memalign(void **block, size_t alignment, size_t size) {
  if (block == nullptr || alignment < sizeof(void *) || (alignment & (alignment - 1)) != 0) {
    return EINVAL;
  }
  int saved = errno;
  void *p = aligned_alloc(alignment, size);
  if (p == nullptr) {
    int error = errno;
    errno = saved;
    return error;
  }
  *block = p;
  return 0;
}

}  // extern "C"

namespace {

void *make_block(uint32_t n) {
  // Compare against what remains rather than rounding n first: n + 4 would wrap for
  // requests near 4 GiB. The remainder is a multiple of 8, so n + 4 fitting means the
  // rounded-up block fits too.
  uint32_t remaining = kArenaBytes - g_heap_used;
  if (remaining < kHeaderBytes || n > remaining - kHeaderBytes) {
    errno = ENOMEM;
    return nullptr;
  }
  uint32_t total = (n + kHeaderBytes + 7) & ~7u;
  uint32_t *header = &g_heap[g_heap_used / 4];
  *header = n;
  g_heap_used += total;
  return header + 1;
}

}  // namespace
