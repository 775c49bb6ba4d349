// The heap whose free reuses memory, for ported code that allocates and frees in a loop. A
// program opts in at link time (nuvrelos-cc --nuvrelos-heap=SIZE, or this object linked
// before the runtime archive with nuvrelos_heap_size defined): its definitions then stand in
// for the bump heap's, whose archive member is never pulled in, and the runtime's own
// allocations (strdup, streams, new) come from here too.
//
// The arena lies between nuvrelos_heap_start and nuvrelos_heap_end, which the linker script
// reserves after .bss. Blocks are boundary-tagged: an 8-byte header (the previous block's size
// when that one is free, then this block's size with two flag bits), payloads 8-byte aligned.
// Free blocks never touch each other (free merges neighbours) and wait in size-class lists:
// one per 8 bytes below 512, then one per power of two. A sentinel header at the arena's end,
// always in use, stops the merging there.
#include <stdint.h>

#include "errno.h"
#include "stdlib.h"
#include "string.h"
#include "unistd.h"

extern "C" {
extern unsigned char nuvrelos_heap_start[];
extern unsigned char nuvrelos_heap_end[];
// The bytes of blocks in use, headers included. The random generator takes its address.
uint32_t g_heap_used = 0;
}

namespace {

constexpr uint32_t kInUse = 1;
constexpr uint32_t kPrevInUse = 2;
constexpr uint32_t kFlags = 7;
constexpr uint32_t kHeader = 8;
constexpr uint32_t kMinBlock = 16;  // a header and the two list links of a free block
constexpr uint32_t kSmallLimit = 512;
constexpr int kBins = 64 + 23;

struct Block {
  uint32_t prev_size;  // valid only while the previous block is free
  uint32_t size;       // whole block, header included, with kInUse and kPrevInUse
  Block *next;         // the list links, in the payload of a free block
  Block *prev;
};

Block *g_bins[kBins];
bool g_ready = false;

uint32_t size_of(const Block *b) { return b->size & ~kFlags; }
Block *at(const Block *b, uint32_t offset) {
  return reinterpret_cast<Block *>(reinterpret_cast<uintptr_t>(b) + offset);
}
Block *block_of(const void *p) {
  return reinterpret_cast<Block *>(reinterpret_cast<uintptr_t>(p) - kHeader);
}
void *payload(Block *b) {
  return reinterpret_cast<void *>(reinterpret_cast<uintptr_t>(b) + kHeader);
}

int bin_of(uint32_t size) {
  if (size < kSmallLimit) return static_cast<int>(size / 8);
  int log = 31 - __builtin_clz(size);  // 9 and up
  return 64 + (log - 9);
}

void unlink_free(Block *b) {
  if (b->prev != nullptr) {
    b->prev->next = b->next;
  } else {
    g_bins[bin_of(size_of(b))] = b->next;
  }
  if (b->next != nullptr) b->next->prev = b->prev;
}

// Makes b a free block of `size` bytes (its kPrevInUse kept), tells its successor, and files it.
void file_free(Block *b, uint32_t size) {
  b->size = size | (b->size & kPrevInUse);
  Block *after = at(b, size);
  after->prev_size = size;
  after->size &= ~kPrevInUse;
  int bin = bin_of(size);
  b->prev = nullptr;
  b->next = g_bins[bin];
  if (b->next != nullptr) b->next->prev = b;
  g_bins[bin] = b;
}

void mark_used(Block *b, uint32_t size) {
  b->size = size | kInUse | (b->size & kPrevInUse);
  at(b, size)->size |= kPrevInUse;
}

bool prepare() {
  if (g_ready) return true;
  uintptr_t start = (reinterpret_cast<uintptr_t>(nuvrelos_heap_start) + 7) & ~uintptr_t{7};
  uintptr_t end = reinterpret_cast<uintptr_t>(nuvrelos_heap_end) & ~uintptr_t{7};
  if (end < start || end - start < kMinBlock + kHeader) return false;
  uint32_t first_size = static_cast<uint32_t>(end - start) - kHeader;
  Block *first = reinterpret_cast<Block *>(start);
  Block *sentinel = at(first, first_size);
  sentinel->size = 0 | kInUse;
  first->size = kPrevInUse;
  file_free(first, first_size);
  g_ready = true;
  return true;
}

// The block size for a request of n bytes, or 0 when none could hold it.
uint32_t block_size_for(size_t n) {
  if (n > 0xFFFFFFFFu - kHeader - 7) return 0;
  uint32_t size = (static_cast<uint32_t>(n) + kHeader + 7) & ~7u;
  return size < kMinBlock ? kMinBlock : size;
}

// Gives the bytes of b past `size` back as a free block, merged with a free successor.
void trim(Block *b, uint32_t size) {
  uint32_t whole = size_of(b);
  if (whole - size < kMinBlock) return;
  b->size = size | (b->size & (kInUse | kPrevInUse));
  Block *tail = at(b, size);
  uint32_t tail_size = whole - size;
  Block *after = at(tail, tail_size);
  if ((after->size & kInUse) == 0) {
    unlink_free(after);
    tail_size += size_of(after);
  }
  tail->size = kPrevInUse;
  file_free(tail, tail_size);
}

void *allocate(uint32_t size) {
  if (size == 0 || !prepare()) {
    errno = ENOMEM;
    return nullptr;
  }
  for (int bin = bin_of(size); bin < kBins; ++bin) {
    for (Block *b = g_bins[bin]; b != nullptr; b = b->next) {
      if (size_of(b) < size) continue;
      unlink_free(b);
      mark_used(b, size_of(b));
      trim(b, size);
      g_heap_used += size_of(b);
      return payload(b);
    }
  }
  errno = ENOMEM;
  return nullptr;
}

// A pointer free or realloc may take: inside the arena, aligned, and a block in use.
Block *checked_block(void *p, const char *caller) {
  uintptr_t address = reinterpret_cast<uintptr_t>(p);
  Block *b = block_of(p);
  if (address % 8 != 0 || address < reinterpret_cast<uintptr_t>(nuvrelos_heap_start) + kHeader ||
      address >= reinterpret_cast<uintptr_t>(nuvrelos_heap_end) || (b->size & kInUse) == 0) {
    // The fault is the caller's and the heap may be damaged: stop here, as glibc does.
    static const char kInvalid[] = "(): invalid pointer\n";
    write(1, caller, strlen(caller));
    write(1, kInvalid, sizeof kInvalid - 1);
    abort();
  }
  return b;
}

}  // namespace

extern "C" {

void *malloc(size_t n) {
  uint32_t size = block_size_for(n);
  if (size == 0) {
    errno = ENOMEM;
    return nullptr;
  }
  return allocate(size);
}

void *calloc(size_t count, size_t size) {
  if (size != 0 && count > 0xFFFFFFFFu / size) {
    errno = ENOMEM;
    return nullptr;
  }
  uint32_t bytes = count * size;
  void *p = malloc(bytes);
  if (p != nullptr) memset(p, 0, bytes);
  return p;
}

void free(void *p) {
  if (p == nullptr) return;
  Block *b = checked_block(p, "free");
  // Cleared at once, so freeing the same pointer again is seen as the fault it is.
  b->size &= ~kInUse;
  uint32_t size = size_of(b);
  g_heap_used -= size;
  Block *after = at(b, size);
  if ((after->size & kInUse) == 0) {
    unlink_free(after);
    size += size_of(after);
  }
  if ((b->size & kPrevInUse) == 0) {
    Block *before = reinterpret_cast<Block *>(reinterpret_cast<uintptr_t>(b) - b->prev_size);
    unlink_free(before);
    size += size_of(before);
    b = before;
  }
  file_free(b, size);
}

void *realloc(void *p, size_t n) {
  if (p == nullptr) return malloc(n);
  Block *b = checked_block(p, "realloc");
  uint32_t size = block_size_for(n);
  if (size == 0) {
    errno = ENOMEM;
    return nullptr;
  }
  uint32_t old_size = size_of(b);
  Block *after = at(b, old_size);
  if (size > old_size && (after->size & kInUse) == 0 && old_size + size_of(after) >= size) {
    // Grow in place into the free successor.
    unlink_free(after);
    uint32_t whole = old_size + size_of(after);
    mark_used(b, whole);
    g_heap_used += whole - old_size;
    old_size = whole;
  }
  if (size <= old_size) {
    trim(b, size);
    g_heap_used -= old_size - size_of(b);
    return p;
  }
  void *moved = malloc(n);
  if (moved == nullptr) return nullptr;
  memcpy(moved, p, old_size - kHeader);
  free(p);
  return moved;
}

void *aligned_alloc(size_t alignment, size_t n) {
  if (alignment == 0 || (alignment & (alignment - 1)) != 0) {
    errno = EINVAL;
    return nullptr;
  }
  if (alignment <= 8) return malloc(n);
  uint32_t size = block_size_for(n);
  if (size == 0 || alignment > 0x80000000u || size > 0xFFFFFFFFu - alignment - kMinBlock) {
    errno = ENOMEM;
    return nullptr;
  }
  // Room to move the start to an aligned place at least a whole free block in.
  void *p = malloc(size - kHeader + alignment + kMinBlock);
  if (p == nullptr) return nullptr;
  uintptr_t address = reinterpret_cast<uintptr_t>(p);
  uintptr_t aligned = (address + alignment - 1) & ~uintptr_t{alignment - 1};
  if (aligned != address && aligned - address < kMinBlock) aligned += alignment;
  Block *b = block_of(p);
  if (aligned != address) {
    uint32_t lead = static_cast<uint32_t>(aligned - address);
    uint32_t whole = size_of(b);
    Block *moved = block_of(reinterpret_cast<void *>(aligned));
    // The lead becomes a free block of its own: its predecessor is in use, as every free
    // block's is, so it merges with nothing.
    moved->size = (whole - lead) | kInUse;
    file_free(b, lead);
    g_heap_used -= lead;
    b = moved;
  }
  uint32_t whole = size_of(b);
  trim(b, size);
  g_heap_used -= whole - size_of(b);
  return payload(b);
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
