#include "host/base/replaced_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace nuv {

namespace {

constexpr int kAttempts = 16;

// ".NAME.nuvrelos-" and eight hex digits: hidden, and named after the file it stands in for.
std::string stand_in_name(const std::string& name) {
  uint32_t r = 0;
  if (::getrandom(&r, sizeof r, GRND_NONBLOCK) != sizeof r) {
    r = static_cast<uint32_t>(::getpid()) * 2654435761u ^ static_cast<uint32_t>(::time(nullptr));
  }
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "%08x", r);
  return "." + name + ".nuvrelos-" + suffix;
}

}  // namespace

ReplacedFile::~ReplacedFile() { discard(); }

std::string ReplacedFile::failure(int error) const {
  return "cannot write " + (what_.empty() ? "" : what_ + " ") + path_.string() + ": " +
         std::strerror(error);
}

bool ReplacedFile::open(const std::filesystem::path& path, std::string& why) {
  namespace fs = std::filesystem;
  discard();
  path_ = path;
  std::error_code ec;
  fs::path target = fs::absolute(path, ec);
  if (ec) {
    why = failure(ec.value());
    return false;
  }
  // A link stays a link: the file it points to is the one replaced.
  if (fs::is_symlink(fs::symlink_status(target, ec))) target = fs::weakly_canonical(target, ec);
  struct stat st {};
  bool exists = ::stat(target.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    why = failure(EISDIR);
    return false;
  }
  int fd = -1;
  if (exists && !S_ISREG(st.st_mode)) {
    // A device or a FIFO is no file to replace: it takes the writes as they come.
    fd = ::open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    in_place_ = true;
  } else if (exists && ::access(target.c_str(), W_OK) != 0) {
    // A file the user made read-only stays theirs, as it would for a write in place.
    why = failure(errno);
    return false;
  } else {
    dir_.reset(::open(target.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!dir_) {
      why = failure(errno);
      return false;
    }
    name_ = target.filename().string();
    mode_t mode = exists ? (st.st_mode & 07777) : 0666;
    fd = ::openat(dir_.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd < 0 && errno != EACCES && errno != EROFS && errno != ENOSPC && errno != EDQUOT) {
      for (int attempt = 0; attempt < kAttempts && fd < 0; ++attempt) {
        temporary_ = stand_in_name(name_);
        fd =
            ::openat(dir_.get(), temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST) break;
      }
      if (fd < 0) temporary_.clear();
    }
    // The old file's permissions carry over exactly; a new one's follow the umask.
    if (fd >= 0 && exists) ::fchmod(fd, mode);
  }
  if (fd < 0) {
    why = failure(errno);
    discard();
    return false;
  }
  stream_ = ::fdopen(fd, "w");
  if (stream_ == nullptr) {
    why = failure(errno);
    ::close(fd);
    discard();
    return false;
  }
  std::setvbuf(stream_, nullptr, _IOFBF, 1 << 16);
  return true;
}

void ReplacedFile::write(std::string_view bytes) {
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size() && write_error_ == 0) {
    write_error_ = errno != 0 ? errno : EIO;
  }
}

bool ReplacedFile::commit(std::string& why) {
  if (stream_ == nullptr) {
    why = failure(EBADF);
    return false;
  }
  errno = 0;
  int error = write_error_;
  if ((std::fflush(stream_) != 0 || std::ferror(stream_)) && error == 0) {
    error = errno != 0 ? errno : EIO;
  }
  if (error == 0 && !in_place_ && temporary_.empty()) {
    // The unnamed file gets a name of its own for the instant before the rename.
    std::string self = "/proc/self/fd/" + std::to_string(::fileno(stream_));
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
      temporary_ = stand_in_name(name_);
      if (::linkat(AT_FDCWD, self.c_str(), dir_.get(), temporary_.c_str(), AT_SYMLINK_FOLLOW) ==
          0) {
        break;
      }
      error = errno;
      temporary_.clear();
      if (error != EEXIST) break;
    }
    if (!temporary_.empty()) error = 0;
  }
  if (std::fclose(stream_) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  stream_ = nullptr;
  if (error == 0 && !in_place_ &&
      ::renameat(dir_.get(), temporary_.c_str(), dir_.get(), name_.c_str()) != 0) {
    error = errno;
  }
  if (error == 0) temporary_.clear();
  discard();
  if (error != 0) why = failure(error);
  return error == 0;
}

void ReplacedFile::discard() {
  if (stream_ != nullptr) std::fclose(stream_);
  stream_ = nullptr;
  if (!temporary_.empty() && dir_) ::unlinkat(dir_.get(), temporary_.c_str(), 0);
  temporary_.clear();
  dir_.reset();
  in_place_ = false;
  write_error_ = 0;
}

}  // namespace nuv
