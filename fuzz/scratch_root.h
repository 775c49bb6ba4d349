// A directory the fuzzed guest sees as its root: made once per process, emptied before each
// input so that no input depends on what an earlier one left, removed at exit.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace nuv::fuzz {

inline const std::filesystem::path& scratch_root() {
  static const std::filesystem::path dir = [] {
    std::string name = (std::filesystem::temp_directory_path() / "nuv-fuzz-XXXXXX").string();
    if (::mkdtemp(name.data()) == nullptr) std::abort();
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(scratch_root(), ec);
    });
    return std::filesystem::path(name);
  }();
  return dir;
}

// The root, emptied of what the last input made (the guest's directories are always 0755).
inline const std::filesystem::path& empty_scratch_root() {
  const std::filesystem::path& root = scratch_root();
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(root, ec)) {
    std::filesystem::remove_all(entry.path(), ec);
  }
  return root;
}

}  // namespace nuv::fuzz
