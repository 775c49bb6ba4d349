// The address range that holds a program's code: what the coverage and profile hooks watch.
#pragma once

#include <cstdint>
#include <stdexcept>

#include "host/emu/elf_image.h"

namespace nuv {

struct CodeSpan {
  uint32_t begin = 0;  // [begin, end); empty for a program without executable segments
  uint32_t end = 0;
};

// Per-address tables over more code than this would be a waste; no program here comes near.
constexpr uint32_t kMaxWatchedCode = 64u << 20;

// Throws std::runtime_error for code spread over more than kMaxWatchedCode bytes.
inline CodeSpan code_span(const ElfImage& image) {
  CodeSpan s{UINT32_MAX, 0};
  for (const Segment& seg : image.segments()) {
    if ((seg.perms & kExec) == 0 || seg.memsz == 0) continue;
    s.begin = std::min(s.begin, seg.vaddr);
    s.end = static_cast<uint32_t>(
        std::max<uint64_t>(s.end, std::min<uint64_t>(uint64_t{seg.vaddr} + seg.memsz, UINT32_MAX)));
  }
  if (s.end == 0) return CodeSpan{};
  if (s.end - s.begin > kMaxWatchedCode) {
    throw std::runtime_error(image.path() +
                             ": code spread over more than 64 MiB cannot be watched");
  }
  return s;
}

}  // namespace nuv
