#include "host/base/printable.h"

#include <cstdint>

namespace nuv {

namespace {

constexpr char kHex[] = "0123456789abcdef";

// Code points that print nothing of their own but change what a terminal or an editor shows:
// C1 controls, line and paragraph separators, and the marks that reorder a line's display.
bool changes_the_display(uint32_t cp) {
  return cp < 0xA0 || cp == 0x061C || cp == 0x200E || cp == 0x200F ||
         (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

// The length of the well-formed UTF-8 sequence at the start of `s` and its code point; 0 when
// the first byte does not begin one (stray continuation bytes, overlong forms, surrogates,
// values past U+10FFFF, a sequence cut short).
size_t utf8_sequence(std::string_view s, uint32_t& cp) {
  auto b = static_cast<uint8_t>(s[0]);
  size_t len = b >= 0xC2 && b <= 0xDF   ? 2
               : b >= 0xE0 && b <= 0xEF ? 3
               : b >= 0xF0 && b <= 0xF4 ? 4
                                        : 0;
  if (len == 0 || len > s.size()) return 0;
  cp = b & (0x7Fu >> len);
  for (size_t k = 1; k < len; ++k) {
    auto c = static_cast<uint8_t>(s[k]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3Fu);
  }
  static constexpr uint32_t kShortest[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kShortest[len] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return 0;
  return len;
}

}  // namespace

std::string printable(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  auto escape = [&out](char c) {
    auto b = static_cast<uint8_t>(c);
    out += "\\x";
    out += kHex[b >> 4];
    out += kHex[b & 15];
  };
  while (!bytes.empty()) {
    auto b = static_cast<uint8_t>(bytes[0]);
    if (b >= 0x20 && b < 0x7F) {
      if (b == '\\') {
        escape(bytes[0]);
      } else {
        out += bytes[0];
      }
      bytes.remove_prefix(1);
      continue;
    }
    uint32_t cp = 0;
    size_t len = utf8_sequence(bytes, cp);
    if (len == 0) {
      escape(bytes[0]);
      bytes.remove_prefix(1);
      continue;
    }
    if (changes_the_display(cp)) {
      for (size_t k = 0; k < len; ++k) escape(bytes[k]);
    } else {
      out.append(bytes.substr(0, len));
    }
    bytes.remove_prefix(len);
  }
  return out;
}

}  // namespace nuv
