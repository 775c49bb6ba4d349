// The ISO C, POSIX and GNU string functions beside the system's own: searching, spans,
// splitting and copying that answer where they stopped. They follow the standards' contracts
// and take no bad pointers; bytes compare as unsigned values.
#include <stdint.h>

#include "string.h"
#include "strings.h"

namespace {

// A 256-bit set of the bytes of a NUL-terminated string.
struct ByteSet {
  uint32_t words[8];
};

ByteSet set_of(const char *bytes) {
  ByteSet set = {};
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(bytes); *p != 0; ++p) {
    set.words[*p / 32] |= 1u << (*p % 32);
  }
  return set;
}

bool in(const ByteSet &set, char c) {
  unsigned char byte = static_cast<unsigned char>(c);
  return (set.words[byte / 32] >> (byte % 32) & 1u) != 0;
}

}  // namespace

extern "C" {

void *memchr(const void *s, int c, size_t n) {
  const unsigned char *p = static_cast<const unsigned char *>(s);
  unsigned char wanted = static_cast<unsigned char>(c);
  for (size_t i = 0; i < n; ++i) {
    if (p[i] == wanted) return const_cast<unsigned char *>(p + i);
  }
  return nullptr;
}

void *memrchr(const void *s, int c, size_t n) {
  const unsigned char *p = static_cast<const unsigned char *>(s);
  unsigned char wanted = static_cast<unsigned char>(c);
  for (size_t i = n; i > 0; --i) {
    if (p[i - 1] == wanted) return const_cast<unsigned char *>(p + i - 1);
  }
  return nullptr;
}

void *rawmemchr(const void *s, int c) {
  const unsigned char *p = static_cast<const unsigned char *>(s);
  unsigned char wanted = static_cast<unsigned char>(c);
  while (*p != wanted) ++p;
  return const_cast<unsigned char *>(p);
}

void *memmem(const void *haystack, size_t haystack_length, const void *needle,
             size_t needle_length) {
  const unsigned char *h = static_cast<const unsigned char *>(haystack);
  const unsigned char *n = static_cast<const unsigned char *>(needle);
  if (needle_length == 0) return const_cast<unsigned char *>(h);
  if (needle_length > haystack_length) return nullptr;
  for (size_t start = 0; start <= haystack_length - needle_length; ++start) {
    size_t i = 0;
    while (i < needle_length && h[start + i] == n[i]) ++i;
    if (i == needle_length) return const_cast<unsigned char *>(h + start);
  }
  return nullptr;
}

void *mempcpy(void *dst, const void *src, size_t n) {
  return static_cast<unsigned char *>(memcpy(dst, src, n)) + n;
}

size_t strspn(const char *s, const char *accept) {
  ByteSet set = set_of(accept);
  size_t n = 0;
  while (s[n] != '\0' && in(set, s[n])) ++n;
  return n;
}

size_t strcspn(const char *s, const char *reject) {
  ByteSet set = set_of(reject);
  size_t n = 0;
  while (s[n] != '\0' && !in(set, s[n])) ++n;
  return n;
}

char *strpbrk(const char *s, const char *accept) {
  s += strcspn(s, accept);
  return *s != '\0' ? const_cast<char *>(s) : nullptr;
}

char *strsep(char **s, const char *delim) {
  char *token = *s;
  if (token == nullptr) return nullptr;
  char *end = token + strcspn(token, delim);
  if (*end == '\0') {
    *s = nullptr;
  } else {
    *end = '\0';
    *s = end + 1;
  }
  return token;
}

char *strtok_r(char *s, const char *delim, char **saved) {
  if (s == nullptr) s = *saved;
  if (s == nullptr) return nullptr;
  s += strspn(s, delim);
  if (*s == '\0') {
    *saved = nullptr;
    return nullptr;
  }
  char *end = s + strcspn(s, delim);
  if (*end == '\0') {
    *saved = nullptr;
  } else {
    *end = '\0';
    *saved = end + 1;
  }
  return s;
}

char *strchrnul(const char *s, int c) {
  char wanted = static_cast<char>(c);
  while (*s != '\0' && *s != wanted) ++s;
  return const_cast<char *>(s);
}

char *stpcpy(char *dst, const char *src) {
  size_t i = 0;
  while ((dst[i] = src[i]) != '\0') ++i;
  return dst + i;
}

char *stpncpy(char *dst, const char *src, size_t n) {
  size_t i = 0;
  for (; i < n && src[i] != '\0'; ++i) dst[i] = src[i];
  char *end = dst + i;
  for (; i < n; ++i) dst[i] = '\0';
  return end;
}

int strcoll(const char *a, const char *b) { return strcmp(a, b); }

size_t strxfrm(char *dst, const char *src, size_t n) {
  size_t length = strlen(src);
  if (length < n) memcpy(dst, src, length + 1);
  return length;
}

int bcmp(const void *a, const void *b, size_t n) { return memcmp(a, b, n); }

void bcopy(const void *src, void *dst, size_t n) { memmove(dst, src, n); }

void bzero(void *dst, size_t n) { memset(dst, 0, n); }

int ffs(int value) { return value == 0 ? 0 : __builtin_ctz(static_cast<unsigned>(value)) + 1; }

char *index(const char *s, int c) { return strchr(s, c); }

char *rindex(const char *s, int c) { return strrchr(s, c); }

}  // extern "C"
