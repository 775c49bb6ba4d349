// Programs write Latin-1: each byte is the code point of the same value. The host's own text
// (window captions, the trace's JSON) is UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace nuv {

// The UTF-8 of one byte (one or two bytes) at `out`; returns the end.
inline char* utf8_of_latin1(uint8_t byte, char* out) {
  if (byte < 0x80) {
    *out++ = static_cast<char>(byte);
  } else {
    *out++ = static_cast<char>(0xC0 | (byte >> 6));
    *out++ = static_cast<char>(0x80 | (byte & 0x3F));
  }
  return out;
}

inline std::string utf8_of_latin1(std::string_view latin1) {
  std::string out;
  char two[2];
  for (char c : latin1) out.append(two, utf8_of_latin1(static_cast<uint8_t>(c), two));
  return out;
}

}  // namespace nuv
