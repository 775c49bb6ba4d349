#include "host/kernel/root_fs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <stdexcept>

#include "host/abi/errors.h"

namespace nuv {
namespace {

constexpr size_t kMaxPath = 4096;
constexpr int kMaxLinks = 40;

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

std::string join(const std::filesystem::path& root, const std::vector<std::string>& parts) {
  std::string out = root.string();
  for (const auto& p : parts) {
    out += '/';
    out += p;
  }
  return out;
}

}  // namespace

RootFs::RootFs(const std::filesystem::path& root) {
  std::error_code ec;
  root_ = std::filesystem::canonical(root, ec);
  if (ec || !std::filesystem::is_directory(root_)) {
    throw std::runtime_error("root directory " + root.string() + " does not exist");
  }
}

int32_t RootFs::walk(std::string_view guest_path, bool follow_last,
                     std::vector<std::string>& out) const {
  if (guest_path.empty()) return err::kENOENT;
  if (guest_path.size() > kMaxPath) return err::kENAMETOOLONG;
  out = guest_path.front() == '/' ? std::vector<std::string>{} : cwd_;
  std::deque<std::string> todo = split(guest_path);
  int links = 0;
  while (!todo.empty()) {
    std::string part = std::move(todo.front());
    todo.pop_front();
    if (part == ".") continue;
    if (part == "..") {
      // ".." at the root stays at the root, as on any Unix.
      if (!out.empty()) out.pop_back();
      continue;
    }
    out.push_back(std::move(part));
    if (todo.empty() && !follow_last) break;
    std::string host = join(root_, out);
    struct stat st;
    if (::lstat(host.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) continue;
    // A link is read and its target walked inside the root like any guest path.
    if (++links > kMaxLinks) return err::kELOOP;
    std::string target(kMaxPath, '\0');
    ssize_t n = ::readlink(host.c_str(), target.data(), target.size());
    if (n < 0) return err::from_host_errno(errno);
    target.resize(static_cast<size_t>(n));
    out.pop_back();
    if (!target.empty() && target.front() == '/') out.clear();
    std::deque<std::string> more = split(target);
    todo.insert(todo.begin(), more.begin(), more.end());
  }
  return 0;
}

int32_t RootFs::resolve(std::string_view guest_path, bool follow_last,
                        std::string& host_path) const {
  std::vector<std::string> parts;
  int32_t rc = walk(guest_path, follow_last, parts);
  if (rc < 0) return rc;
  host_path = join(root_, parts);
  return 0;
}

std::string RootFs::cwd() const {
  if (cwd_.empty()) return "/";
  std::string out;
  for (const auto& p : cwd_) out += "/" + p;
  return out;
}

int32_t RootFs::chdir(std::string_view guest_path) {
  std::vector<std::string> parts;
  int32_t rc = walk(guest_path, true, parts);
  if (rc < 0) return rc;
  struct stat st;
  if (::stat(join(root_, parts).c_str(), &st) != 0) return err::from_host_errno(errno);
  if (!S_ISDIR(st.st_mode)) return err::kENOTDIR;
  cwd_ = std::move(parts);
  return 0;
}

}  // namespace nuv
