// The guest's file system: a host directory that the guest sees as "/".
//
// Every guest path is resolved against open descriptors, never as a host path string: the
// root and the working directory are descriptors, and each step of a walk opens the next
// component relative to the one before without following host links. Links are read and
// resolved in the guest's own namespace (an absolute target starts at the root, ".." stops at
// it), so neither a path nor a link swapped in by another process while the guest works can
// lead outside the root. Where the host kernel has openat2, open() lets it resolve the whole
// path with the same rules in one call.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/base/unique_fd.h"

namespace nuv {

class RootFs {
 public:
  // Auto uses openat2 when the host kernel has it; Walk always walks (for the tests of the
  // walk itself, and hosts without openat2).
  enum class Resolver { Auto, Walk };

  // The longest guest path in bytes without its terminator: Linux's PATH_MAX of 4096 counts
  // the terminator.
  static constexpr size_t kMaxPath = 4095;

  // Throws std::runtime_error when the root is not an existing directory.
  explicit RootFs(const std::filesystem::path& root, Resolver resolver = Resolver::Auto);

  // Where a path leads: the directory that holds its last component, and that component.
  struct Entry {
    std::shared_ptr<const UniqueFd> dir;
    std::string name;  // empty when the path names `dir` itself ("/", ".", "a/..")
    bool dir_is_root = false;
  };

  // Opens a guest path with host open(2) flags; the last component's links are followed
  // inside the root. A host descriptor, or a negative error (err::kENOENT for an empty path,
  // err::kELOOP for too many links, err::kENAMETOOLONG).
  int32_t open(std::string_view guest_path, int flags, mode_t mode) const;
  // With follow_last false a final symbolic link is the entry itself (unlink, rmdir, mkdir).
  int32_t locate(std::string_view guest_path, bool follow_last, Entry& out) const;

  // The guest's working directory as the guest named it on the way in ("/", "/a/b").
  std::string cwd() const;
  int32_t chdir(std::string_view guest_path);
  const std::filesystem::path& root() const { return root_; }

 private:
  // A directory on the way from the root, known by its name and its identity; only the
  // innermost one of a walk is held open, so a path of any depth costs the host a constant
  // number of descriptors.
  struct Dir {
    std::string name;
    dev_t dev = 0;
    ino_t ino = 0;
  };
  using Chain = std::vector<Dir>;  // from the root (front) down to a directory
  struct Place {
    Chain chain;
    std::shared_ptr<const UniqueFd> fd;  // chain.back(), open
  };
  struct Walked {
    Place at;
    std::string name;
    UniqueFd last;  // the last component (O_PATH, not followed) when it exists
    struct stat last_stat {};
  };

  int32_t walk(std::string_view guest_path, bool follow_last, Walked& out) const;
  // One step up: the parent is opened through ".." and must be the very directory the walk
  // came down through, so ".." never leads anywhere the walk did not.
  int32_t up(Place& at) const;
  // nullopt when the walk must decide.
  std::optional<int32_t> open_in_one_call(std::string_view guest_path, int flags,
                                          mode_t mode) const;

  std::filesystem::path root_;
  Resolver resolver_;
  Place top_;  // the root
  Place cwd_;
};

}  // namespace nuv
