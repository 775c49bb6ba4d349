// Byte strings and memory. Bytes compare as unsigned values; bad pointers get fixed answers
// instead of faults: "low" pointers (below the first page, null included) are never read.
#include "string.h"

#include <stdint.h>

namespace {

constexpr uintptr_t kLowLimit = 4096;

bool is_low(const void *p) { return reinterpret_cast<uintptr_t>(p) < kLowLimit; }

int byte_at(const char *s, size_t i) { return static_cast<unsigned char>(s[i]); }

int fold(int byte) { return byte >= 'A' && byte <= 'Z' ? byte + 32 : byte; }

bool in_set(char c, const char *set) {
  for (; *set != '\0'; ++set) {
    if (*set == c) return true;
  }
  return false;
}

}  // namespace

extern "C" {

size_t strlen(const char *s) {
  if (is_low(s)) return 0;
  size_t n = 0;
  while (s[n] != '\0') ++n;
  return n;
}

size_t strnlen(const char *s, size_t max) {
  if (is_low(s)) return 0;
  size_t n = 0;
  while (n < max && s[n] != '\0') ++n;
  return n;
}

int strcmp(const char *a, const char *b) {
  if (a == b) return 0;
  if (is_low(a)) return -1;
  if (is_low(b)) return 1;
  for (size_t i = 0;; ++i) {
    int x = byte_at(a, i), y = byte_at(b, i);
    if (x != y) return x - y;
    if (x == 0) return 0;
  }
}

int strncmp(const char *a, const char *b, size_t n) {
  if (n == 0 || a == b) return 0;
  if (is_low(a)) return -1;
  if (is_low(b)) return 1;
  for (size_t i = 0; i < n; ++i) {
    int x = byte_at(a, i), y = byte_at(b, i);
    if (x != y) return x - y;
    if (x == 0) return 0;
  }
  return 0;
}

char *strcpy(char *dst, const char *src) {
  if (dst == nullptr) return nullptr;
  if (src == nullptr) {
    dst[0] = '\0';
    return dst;
  }
  size_t i = 0;
  do {
    dst[i] = src[i];
  } while (src[i++] != '\0');
  return dst;
}

char *strncpy(char *dst, const char *src, size_t n) {
  if (dst == nullptr || n == 0) return dst;
  size_t i = 0;
  if (src != nullptr) {
    for (; i < n && src[i] != '\0'; ++i) dst[i] = src[i];
  }
  for (; i < n; ++i) dst[i] = '\0';
  return dst;
}

// A destination in the first page can't be a real string: write nothing there, as for null.
char *strcat(char *dst, const char *src) {
  if (is_low(dst)) return nullptr;
  strcpy(dst + strlen(dst), src == nullptr ? "" : src);
  return dst;
}

char *strncat(char *dst, const char *src, size_t n) {
  if (is_low(dst)) return nullptr;
  if (src == nullptr || n == 0) return dst;
  char *end = dst + strlen(dst);
  size_t i = 0;
  for (; i < n && src[i] != '\0'; ++i) end[i] = src[i];
  end[i] = '\0';
  return dst;
}

char *strchr(const char *s, int c) {
  if (s == nullptr) return nullptr;
  char wanted = static_cast<char>(c);
  for (;; ++s) {
    if (*s == wanted) return const_cast<char *>(s);
    if (*s == '\0') return nullptr;
  }
}

char *strrchr(const char *s, int c) {
  if (s == nullptr) return nullptr;
  char wanted = static_cast<char>(c);
  const char *last = nullptr;
  for (;; ++s) {
    if (*s == wanted) last = s;
    if (*s == '\0') return const_cast<char *>(last);
  }
}

char *strstr(const char *haystack, const char *needle) {
  if (haystack == nullptr || needle == nullptr) return nullptr;
  for (const char *start = haystack;; ++start) {
    size_t i = 0;
    while (needle[i] != '\0' && start[i] == needle[i]) ++i;
    if (needle[i] == '\0') return const_cast<char *>(start);
    if (*start == '\0') return nullptr;
  }
}

void *memcpy(void *dst, const void *src, size_t k) {
  unsigned char *d = static_cast<unsigned char *>(dst);
  const unsigned char *s = static_cast<const unsigned char *>(src);
  for (size_t i = 0; i < k; ++i) d[i] = s[i];
  return dst;
}

void *memmove(void *dst, const void *src, size_t k) {
  unsigned char *d = static_cast<unsigned char *>(dst);
  const unsigned char *s = static_cast<const unsigned char *>(src);
  if (d == s || k == 0) return dst;
  if (reinterpret_cast<uintptr_t>(d) < reinterpret_cast<uintptr_t>(s)) {
    for (size_t i = 0; i < k; ++i) d[i] = s[i];
  } else {
    for (size_t i = k; i > 0; --i) d[i - 1] = s[i - 1];
  }
  return dst;
}

void *memset(void *dst, int c, size_t k) {
  unsigned char *d = static_cast<unsigned char *>(dst);
  unsigned char byte = static_cast<unsigned char>(c);
  for (size_t i = 0; i < k; ++i) d[i] = byte;
  return dst;
}

int memcmp(const void *a, const void *b, size_t k) {
  const unsigned char *x = static_cast<const unsigned char *>(a);
  const unsigned char *y = static_cast<const unsigned char *>(b);
  for (size_t i = 0; i < k; ++i) {
    if (x[i] != y[i]) return x[i] - y[i];
  }
  return 0;
}

int strcasecmp(const char *a, const char *b) {
  if (a == nullptr && b == nullptr) return 0;
  if (a == nullptr) return -1;
  if (b == nullptr) return 1;
  for (size_t i = 0;; ++i) {
    int x = fold(byte_at(a, i)), y = fold(byte_at(b, i));
    if (x != y) return x - y;
    if (x == 0) return 0;
  }
}

int strncasecmp(const char *a, const char *b, size_t n) {
  if (n == 0 || a == b) return 0;
  if (a == nullptr) return -1;
  if (b == nullptr) return 1;
  for (size_t i = 0; i < n; ++i) {
    int x = fold(byte_at(a, i)), y = fold(byte_at(b, i));
    if (x != y) return x - y;
    if (x == 0) return 0;
  }
  return 0;
}

// One saved position for the whole process: two tokenisations can't interleave.
char *strtok(char *s, const char *delim) {
  static char *s_next = nullptr;
  char *p = s != nullptr ? s : s_next;
  if (p == nullptr) return nullptr;
  bool has_set = delim != nullptr && delim[0] != '\0';
  if (has_set) {
    while (*p != '\0' && in_set(*p, delim)) ++p;
  }
  if (*p == '\0') {
    s_next = nullptr;
    return nullptr;
  }
  char *token = p;
  if (has_set) {
    for (; *p != '\0'; ++p) {
      if (in_set(*p, delim)) {
        *p = '\0';
        s_next = p + 1;
        return token;
      }
    }
  }
  s_next = nullptr;
  return token;
}

}  // extern "C"
