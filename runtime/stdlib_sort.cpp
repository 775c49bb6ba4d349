// qsort and bsearch. The sort is a heapsort: no recursion, no allocation and n log n
// comparisons whatever the input; like any qsort it keeps no order among equal elements.
#include <stdint.h>

#include "stdlib.h"

namespace {

using Compare = int (*)(const void *, const void *);

void swap_bytes(unsigned char *a, unsigned char *b, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    unsigned char t = a[i];
    a[i] = b[i];
    b[i] = t;
  }
}

// Moves element `root` down the heap of the first `count` elements until both its children
// are no greater.
void sift_down(unsigned char *base, size_t root, size_t count, size_t size, Compare compare) {
  for (;;) {
    size_t child = 2 * root + 1;
    if (child >= count) return;
    if (child + 1 < count && compare(base + child * size, base + (child + 1) * size) < 0) {
      ++child;
    }
    if (compare(base + root * size, base + child * size) >= 0) return;
    swap_bytes(base + root * size, base + child * size, size);
    root = child;
  }
}

}  // namespace

extern "C" {

void qsort(void *base, size_t count, size_t size, Compare compare) {
  if (base == nullptr || count < 2 || size == 0 || compare == nullptr) return;
  unsigned char *bytes = static_cast<unsigned char *>(base);
  for (size_t i = count / 2; i > 0; --i) sift_down(bytes, i - 1, count, size, compare);
  for (size_t end = count - 1; end > 0; --end) {
    swap_bytes(bytes, bytes + end * size, size);
    sift_down(bytes, 0, end, size, compare);
  }
}

void *bsearch(const void *key, const void *base, size_t count, size_t size, Compare compare) {
  const unsigned char *bytes = static_cast<const unsigned char *>(base);
  size_t low = 0, high = count;
  while (low < high) {
    size_t middle = low + (high - low) / 2;
    const unsigned char *element = bytes + middle * size;
    int order = compare(key, element);
    if (order == 0) return const_cast<unsigned char *>(element);
    if (order < 0) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return nullptr;
}

}  // extern "C"
