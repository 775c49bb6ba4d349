// The "C" locale's character classes, one bit set per class for each ASCII byte.
#include "ctype.h"

#include <stdint.h>

namespace {

enum : uint8_t {
  kUpper = 1,
  kLower = 2,
  kDigit = 4,
  kSpace = 8,  // space, \t \n \v \f \r
  kPunct = 16,
  kCntrl = 32,
  kHex = 64,  // a-f, A-F (digits are hex by kDigit)
  kBlank = 128,
};

uint8_t classes(int c) {
  if (c < 0 || c > 127) return 0;
  if (c >= 'A' && c <= 'Z') return kUpper | (c <= 'F' ? kHex : 0);
  if (c >= 'a' && c <= 'z') return kLower | (c <= 'f' ? kHex : 0);
  if (c >= '0' && c <= '9') return kDigit;
  if (c == ' ') return kSpace | kBlank;
  if (c == '\t') return kSpace | kBlank | kCntrl;
  if (c >= '\n' && c <= '\r') return kSpace | kCntrl;
  if (c < 32 || c == 127) return kCntrl;
  return kPunct;
}

}  // namespace

extern "C" {

int isalnum(int c) { return (classes(c) & (kUpper | kLower | kDigit)) != 0; }
int isalpha(int c) { return (classes(c) & (kUpper | kLower)) != 0; }
int isblank(int c) { return (classes(c) & kBlank) != 0; }
int iscntrl(int c) { return (classes(c) & kCntrl) != 0; }
int isdigit(int c) { return (classes(c) & kDigit) != 0; }
int isgraph(int c) { return (classes(c) & (kUpper | kLower | kDigit | kPunct)) != 0; }
int islower(int c) { return (classes(c) & kLower) != 0; }
int isprint(int c) { return c == ' ' || isgraph(c); }
int ispunct(int c) { return (classes(c) & kPunct) != 0; }
int isspace(int c) { return (classes(c) & kSpace) != 0; }
int isupper(int c) { return (classes(c) & kUpper) != 0; }
int isxdigit(int c) { return (classes(c) & (kDigit | kHex)) != 0; }
int tolower(int c) { return isupper(c) ? c + ('a' - 'A') : c; }
int toupper(int c) { return islower(c) ? c - ('a' - 'A') : c; }
int isascii(int c) { return c >= 0 && c <= 127; }
int toascii(int c) { return c & 0x7F; }

}  // extern "C"
