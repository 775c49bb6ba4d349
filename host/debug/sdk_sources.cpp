#include "host/debug/sdk_sources.h"

#include <system_error>

namespace nuv {

namespace {

// bin/../share/nuvrelos of the running command; empty when it cannot be told.
const std::filesystem::path& share_dir() {
  static const std::filesystem::path dir = [] {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::filesystem::path();
    return exe.parent_path().parent_path() / "share" / "nuvrelos";
  }();
  return dir;
}

}  // namespace

std::filesystem::path installed_source(const std::filesystem::path& recorded) {
  const std::string& text = recorded.native();
  if (!text.starts_with(kSdkSourcePrefix) || share_dir().empty()) return recorded;
  std::filesystem::path copy = share_dir() / text.substr(kSdkSourcePrefix.size());
  std::error_code ec;
  return std::filesystem::exists(copy, ec) ? copy.lexically_normal() : recorded;
}

}  // namespace nuv
