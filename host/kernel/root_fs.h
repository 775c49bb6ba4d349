// The guest's file system: a host directory that the guest sees as "/". Every guest path is
// resolved inside it: "..", absolute paths and symbolic links can never lead outside.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace nuv {

class RootFs {
 public:
  // Throws std::runtime_error when the root is not an existing directory.
  explicit RootFs(const std::filesystem::path& root);

  // The host path for a guest path, or a negative error (err::kENOENT for an empty path,
  // err::kELOOP for too many links, err::kENAMETOOLONG). With follow_last false a final
  // symbolic link is not followed (unlink, rmdir, mkdir).
  int32_t resolve(std::string_view guest_path, bool follow_last, std::string& host_path) const;

  // The guest's working directory as the guest sees it ("/", "/a/b").
  std::string cwd() const;
  int32_t chdir(std::string_view guest_path);
  const std::filesystem::path& root() const { return root_; }

 private:
  int32_t walk(std::string_view guest_path, bool follow_last, std::vector<std::string>& out) const;

  std::filesystem::path root_;
  std::vector<std::string> cwd_;
};

}  // namespace nuv
