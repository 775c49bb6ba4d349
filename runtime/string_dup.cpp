// strdup and strndup: the string functions that take from the heap, in a unit of their own so
// a program that only measures or compares strings carries no heap.
#include <stdint.h>

#include "stdlib.h"
#include "string.h"

namespace {

constexpr uintptr_t kLowLimit = 4096;

bool is_low(const void *p) { return reinterpret_cast<uintptr_t>(p) < kLowLimit; }

char *empty_copy() {
  char *copy = static_cast<char *>(malloc(1));
  if (copy != nullptr) copy[0] = '\0';
  return copy;
}

}  // namespace

extern "C" {

char *strdup(const char *s) {
  if (s == nullptr) return nullptr;
  if (is_low(s)) return empty_copy();
  size_t bytes = strlen(s) + 1;
  char *copy = static_cast<char *>(malloc(bytes));
  if (copy != nullptr) memcpy(copy, s, bytes);
  return copy;
}

char *strndup(const char *s, size_t n) {
  if (s == nullptr) return nullptr;
  if (is_low(s) || n == 0) return empty_copy();
  size_t k = strnlen(s, n);
  char *copy = static_cast<char *>(malloc(k + 1));
  if (copy == nullptr) return nullptr;
  memcpy(copy, s, k);
  copy[k] = '\0';
  return copy;
}

}  // extern "C"
