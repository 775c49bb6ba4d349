#include "host/machine/initial_stack.h"

namespace nuv {

std::optional<InitialStack> initial_stack(const std::vector<std::string>& args, uint32_t top,
                                          uint32_t size, uint32_t stack_offset) {
  constexpr uint32_t kPage = 0x1000;
  size_t total = 0;
  for (const auto& a : args) total += a.size() + 1;
  if (total + 4 * (args.size() + 2) + 64 > size / 2) return std::nullopt;
  InitialStack s;
  s.strings_at = ((top - 16 - static_cast<uint32_t>(total)) & ~(kPage - 1)) - 16;
  uint32_t at = s.strings_at;
  s.words.push_back(static_cast<uint32_t>(args.size()));
  for (const auto& a : args) {
    s.words.push_back(at);
    s.strings.insert(s.strings.end(), a.begin(), a.end());
    s.strings.push_back(0);
    at += static_cast<uint32_t>(a.size() + 1);
  }
  s.words.push_back(0);
  uint32_t words_size = static_cast<uint32_t>(s.words.size() * 4);
  s.sp = ((s.strings_at - words_size - 16) & ~15u) + (stack_offset & 12u);
  return s;
}

}  // namespace nuv
