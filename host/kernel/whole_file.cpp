#include "host/kernel/whole_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "host/base/guest_errors.h"
#include "host/base/unique_fd.h"

namespace nuv {
namespace {

constexpr mode_t kNewFileMode = 0644;

int32_t write_all(int fd, std::span<const uint8_t> bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return err::from_host_errno(n < 0 ? errno : EIO);
    done += static_cast<size_t>(n);
  }
  return 0;
}

// Removes a temporary file that nobody holds any more (its writer was killed).
bool remove_stale(int dir, const std::string& temp) {
  UniqueFd fd(::openat(dir, temp.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return false;
  return ::unlinkat(dir, temp.c_str(), 0) == 0;
}

int32_t write_in_place(int dir, const std::string& name, std::span<const uint8_t> bytes) {
  UniqueFd fd(::openat(dir, name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return err::from_host_errno(errno);
  if (int32_t rc = write_all(fd.get(), bytes); rc < 0) return rc;
  if (::ftruncate(fd.get(), static_cast<off_t>(bytes.size())) != 0) {
    return err::from_host_errno(errno);
  }
  return static_cast<int32_t>(bytes.size());
}

}  // namespace

std::string whole_file_temp_name(std::string_view name) {
  uint32_t hash = 2166136261u;  // FNV-1a
  for (unsigned char c : name) hash = (hash ^ c) * 16777619u;
  char buf[24];
  std::snprintf(buf, sizeof buf, ".nuvrelos-%08x", hash);
  return buf;
}

int32_t replace_whole_file(int dir, const std::string& name, std::span<const uint8_t> bytes,
                           bool through_links) {
  if (name.empty() || name == "." || name == "..") return err::kEISDIR;
  struct stat old;
  bool exists = ::fstatat(dir, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
  if (!exists && errno != ENOENT) return err::from_host_errno(errno);
  if (exists && S_ISDIR(old.st_mode)) return err::kEISDIR;
  // The name turned into a link after it was resolved: never write where it points now.
  if (exists && S_ISLNK(old.st_mode)) return err::kELOOP;
  bool regular = exists && S_ISREG(old.st_mode);
  if (regular && old.st_nlink > 1 && through_links) return write_in_place(dir, name, bytes);

  std::string temp = whole_file_temp_name(name);
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  UniqueFd fd(::openat(dir, temp.c_str(), flags, 0600));
  if (!fd && errno == EEXIST) {
    if (!remove_stale(dir, temp)) return err::kEAGAIN;  // a live writer of the same name
    fd.reset(::openat(dir, temp.c_str(), flags, 0600));
  }
  if (!fd) return err::from_host_errno(errno);
  // The lock tells a later writer that this temporary file is not abandoned.
  ::flock(fd.get(), LOCK_EX | LOCK_NB);
  int32_t rc = write_all(fd.get(), bytes);
  if (rc == 0 && regular) {
    // The owner first: changing it clears set-user-ID bits the mode then restores. Only a
    // privileged runner may give a file away; otherwise the runner's user owns the new file.
    (void)::fchown(fd.get(), old.st_uid, old.st_gid);
  }
  if (rc == 0 && ::fchmod(fd.get(), regular ? old.st_mode & 07777 : kNewFileMode) != 0) {
    rc = err::from_host_errno(errno);
  }
  if (rc == 0 && ::renameat(dir, temp.c_str(), dir, name.c_str()) != 0) {
    rc = err::from_host_errno(errno);
  }
  if (rc < 0) {
    ::unlinkat(dir, temp.c_str(), 0);
    return rc;
  }
  return static_cast<int32_t>(bytes.size());
}

}  // namespace nuv
