#include "host/kernel/root_fs.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <deque>
#include <stdexcept>

#include "host/base/guest_errors.h"

namespace nuv {
namespace {

constexpr int kMaxLinks = 40;
constexpr size_t kMaxName = 255;
// A final component that turns into a link between the walk and the open is walked again;
// a tree that keeps changing under every attempt gets err::kELOOP.
constexpr int kAttempts = 8;

std::atomic<bool> g_openat2_missing{false};

std::deque<std::string> split(std::string_view path) {
  std::deque<std::string> parts;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string_view::npos) j = path.size();
    if (j > i) parts.emplace_back(path.substr(i, j - i));
    i = j + 1;
  }
  return parts;
}

int32_t check_path(std::string_view guest_path) {
  if (guest_path.empty()) return err::kENOENT;
  if (guest_path.size() > RootFs::kMaxPath) return err::kENAMETOOLONG;
  return 0;
}

}  // namespace

RootFs::RootFs(const std::filesystem::path& root, Resolver resolver) : resolver_(resolver) {
  std::error_code ec;
  root_ = std::filesystem::canonical(root, ec);
  UniqueFd fd(ec ? -1 : ::open(root_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0) {
    throw std::runtime_error("root directory " + root.string() + " does not exist");
  }
  top_.chain.push_back(Dir{"", st.st_dev, st.st_ino});
  top_.fd = std::make_shared<const UniqueFd>(std::move(fd));
  cwd_ = top_;
}

int32_t RootFs::up(Place& at) const {
  // ".." at the root stays at the root, as on any Unix.
  if (at.chain.size() <= 1) return 0;
  at.chain.pop_back();
  if (at.chain.size() == 1) {
    at.fd = top_.fd;
    return 0;
  }
  UniqueFd parent(::openat(at.fd->get(), "..", O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st {};
  if (!parent || ::fstat(parent.get(), &st) != 0) return err::from_host_errno(errno);
  // The directory was moved elsewhere since the walk came down through its parent: the way
  // back up is gone.
  if (st.st_dev != at.chain.back().dev || st.st_ino != at.chain.back().ino) return err::kENOENT;
  at.fd = std::make_shared<const UniqueFd>(std::move(parent));
  return 0;
}

int32_t RootFs::walk(std::string_view guest_path, bool follow_last, Walked& out) const {
  if (int32_t rc = check_path(guest_path); rc < 0) return rc;
  out.at = guest_path.front() == '/' ? top_ : cwd_;
  out.name.clear();
  out.last.reset();
  std::deque<std::string> todo = split(guest_path);
  int links = 0;
  while (!todo.empty()) {
    std::string part = std::move(todo.front());
    todo.pop_front();
    bool final = todo.empty();
    if (part == ".") continue;
    if (part == "..") {
      if (int32_t rc = up(out.at); rc < 0) return rc;
      continue;
    }
    if (part.size() > kMaxName) return err::kENAMETOOLONG;
    if (final && !follow_last) {
      out.name = std::move(part);
      return 0;
    }
    int parent = out.at.fd->get();
    UniqueFd fd(::openat(parent, part.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) {
      // A missing last component is where a new file goes.
      if (errno == ENOENT && final) {
        out.name = std::move(part);
        return 0;
      }
      return err::from_host_errno(errno);
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return err::from_host_errno(errno);
    if (S_ISLNK(st.st_mode)) {
      // Read through the descriptor of the link itself: what is read is what was opened.
      if (++links > kMaxLinks) return err::kELOOP;
      std::string target(kMaxPath, '\0');
      ssize_t n = ::readlinkat(fd.get(), "", target.data(), target.size());
      if (n < 0) return err::from_host_errno(errno);
      if (n == 0) return err::kENOENT;
      target.resize(static_cast<size_t>(n));
      if (target.front() == '/') out.at = top_;
      std::deque<std::string> more = split(target);
      todo.insert(todo.begin(), more.begin(), more.end());
      continue;
    }
    if (final) {
      out.name = std::move(part);
      out.last = std::move(fd);
      out.last_stat = st;
      return 0;
    }
    if (!S_ISDIR(st.st_mode)) return err::kENOTDIR;
    out.at.chain.push_back(Dir{std::move(part), st.st_dev, st.st_ino});
    out.at.fd = std::make_shared<const UniqueFd>(std::move(fd));
  }
  return 0;
}

std::optional<int32_t> RootFs::open_in_one_call(std::string_view guest_path, int flags,
                                                mode_t mode) const {
  // Absolute paths start at the root with the kernel keeping them in it; relative ones start
  // at the working directory and must stay beneath it, else the walk decides.
  bool absolute = guest_path.front() == '/';
  open_how how{};
  how.flags = static_cast<uint64_t>(flags | O_CLOEXEC);
  how.mode = (flags & O_CREAT) ? mode : 0;
  how.resolve = RESOLVE_NO_MAGICLINKS | (absolute ? RESOLVE_IN_ROOT : RESOLVE_BENEATH);
  int base = absolute ? top_.fd->get() : cwd_.fd->get();
  std::string path(guest_path);
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    long fd = ::syscall(SYS_openat2, base, path.c_str(), &how, sizeof how);
    if (fd >= 0) return static_cast<int32_t>(fd);
    if (errno == EAGAIN) continue;  // a rename raced a "..": the kernel asks to try again
    if (errno == ENOSYS || errno == EPERM || errno == E2BIG) {
      // No openat2 here (or a sandbox that forbids it): walk from now on.
      g_openat2_missing = true;
      return std::nullopt;
    }
    if (errno == EXDEV) return std::nullopt;  // left the working directory: ".." or a link
    return err::from_host_errno(errno);
  }
  return std::nullopt;
}

int32_t RootFs::open(std::string_view guest_path, int flags, mode_t mode) const {
  if (int32_t rc = check_path(guest_path); rc < 0) return rc;
  if (resolver_ == Resolver::Auto && !g_openat2_missing) {
    if (auto fd = open_in_one_call(guest_path, flags, mode)) return *fd;
  }
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    Walked w;
    if (int32_t rc = walk(guest_path, true, w); rc < 0) return rc;
    int dir = w.at.fd->get();
    const char* name = w.name.empty() ? "." : w.name.c_str();
    int fd = ::openat(dir, name, flags | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) return fd;
    // The name became a link after the walk looked at it: look again.
    if (errno == ELOOP && !w.name.empty()) continue;
    return err::from_host_errno(errno);
  }
  return err::kELOOP;
}

int32_t RootFs::locate(std::string_view guest_path, bool follow_last, Entry& out) const {
  Walked w;
  if (int32_t rc = walk(guest_path, follow_last, w); rc < 0) return rc;
  out.dir = w.at.fd;
  out.name = std::move(w.name);
  out.dir_is_root = w.at.chain.size() == 1;
  return 0;
}

std::string RootFs::cwd() const {
  if (cwd_.chain.size() == 1) return "/";
  std::string out;
  for (size_t i = 1; i < cwd_.chain.size(); ++i) out += "/" + cwd_.chain[i].name;
  return out;
}

int32_t RootFs::chdir(std::string_view guest_path) {
  Walked w;
  if (int32_t rc = walk(guest_path, true, w); rc < 0) return rc;
  if (!w.name.empty()) {
    if (!w.last) return err::kENOENT;
    if (!S_ISDIR(w.last_stat.st_mode)) return err::kENOTDIR;
    w.at.chain.push_back(Dir{w.name, w.last_stat.st_dev, w.last_stat.st_ino});
    w.at.fd = std::make_shared<const UniqueFd>(std::move(w.last));
  }
  cwd_ = std::move(w.at);
  return 0;
}

}  // namespace nuv
