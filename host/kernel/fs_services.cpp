// File, descriptor and directory services, backed by the host file system inside the root.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "host/abi/errors.h"
#include "host/kernel/kernel.h"
#include "host/kernel/service_table.h"
#include "runtime/fcntl.h"

namespace nuv {
namespace {

constexpr size_t kMaxPathLength = 4096;
// One call moves at most this much; callers loop on short counts as they must anyway.
constexpr size_t kMaxTransfer = 1u << 20;
// writefile holds the whole file at once.
constexpr size_t kMaxWholeFile = 64u << 20;

int32_t as_int(uint32_t v) { return static_cast<int32_t>(v); }

// Reads a guest path and resolves it inside the root.
int32_t guest_path(Kernel& k, uint32_t addr, bool follow_last, std::string& host) {
  auto path = k.memory().read_string(addr, kMaxPathLength);
  if (!path) return err::kEFAULT;
  return k.fs().resolve(*path, follow_last, host);
}

int32_t host_result(int rc) { return rc < 0 ? err::from_host_errno(errno) : 0; }

// The descriptor of a read or write (fd, buffer, count) and how many bytes of the buffer the
// kernel may use with `perms`: none is kEFAULT, unless none were asked for.
int32_t transfer(Kernel& k, const Slots& s, uint32_t perms, OpenFile*& file, size_t& n) {
  file = k.files().get(as_int(s[0]));
  if (file == nullptr) return err::kEBADF;
  if (as_int(s[2]) < 0) return err::kEINVAL;
  n = k.memory().run_length(s[1], std::min<size_t>(s[2], kMaxTransfer), perms);
  if (n == 0 && s[2] != 0) return err::kEFAULT;
  return 0;
}

}  // namespace

int32_t svc_write(Kernel& k, const Slots& s) {
  OpenFile* file = nullptr;
  size_t n = 0;
  if (int32_t rc = transfer(k, s, kRead, file, n); rc < 0) return rc;
  std::vector<uint8_t> bytes(n);
  if (!k.memory().copy_in(s[1], bytes.data(), n)) return err::kEFAULT;
  return file->write(bytes.data(), n);
}

int32_t svc_read(Kernel& k, const Slots& s) {
  OpenFile* file = nullptr;
  size_t n = 0;
  // Only as much as the guest can take is read, so nothing read is ever lost.
  if (int32_t rc = transfer(k, s, kWrite, file, n); rc < 0) return rc;
  std::vector<uint8_t> bytes(n);
  int32_t got = file->read(bytes.data(), n);
  if (got > 0 && !k.memory().copy_out(s[1], bytes.data(), static_cast<size_t>(got))) {
    return err::kEFAULT;
  }
  return got;
}

int32_t svc_open(Kernel& k, const Slots& s) {
  std::string host;
  if (int32_t rc = guest_path(k, s[0], true, host); rc < 0) return rc;
  uint32_t flags = s[1];
  int oflags = O_CLOEXEC | O_NOFOLLOW;
  bool readable = true, writable = false;
  switch (flags & NUVRELOS_O_ACCMODE) {
    case NUVRELOS_O_RDONLY:
      oflags |= O_RDONLY;
      break;
    case NUVRELOS_O_WRONLY:
      oflags |= O_WRONLY;
      readable = false;
      writable = true;
      break;
    case NUVRELOS_O_RDWR:
      oflags |= O_RDWR;
      writable = true;
      break;
    default:
      return err::kEINVAL;
  }
  if (flags & NUVRELOS_O_CREAT) oflags |= O_CREAT;
  if (flags & NUVRELOS_O_EXCL) oflags |= O_EXCL;
  if (flags & NUVRELOS_O_TRUNC) oflags |= O_TRUNC;
  if (flags & NUVRELOS_O_APPEND) oflags |= O_APPEND;
  int fd = ::open(host.c_str(), oflags, 0644);
  if (fd < 0) return err::from_host_errno(errno);
  return k.files().add(std::make_shared<HostFile>(fd, readable, writable));
}

int32_t svc_close(Kernel& k, const Slots& s) { return k.files().close(as_int(s[0])); }

int32_t svc_writefile(Kernel& k, const Slots& s) {
  std::string host;
  if (int32_t rc = guest_path(k, s[0], true, host); rc < 0) return rc;
  if (s[2] > kMaxWholeFile) return err::kENOSPC;
  std::vector<uint8_t> bytes(s[2]);
  if (!k.memory().copy_in(s[1], bytes.data(), bytes.size())) return err::kEFAULT;
  // Written beside the target and renamed over it: the old content survives a failure.
  std::string temp = host + ".nuvrelos-XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) return err::from_host_errno(errno);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  int saved = errno;
  ::fchmod(fd, 0644);
  ::close(fd);
  if (done < bytes.size()) {
    ::unlink(temp.c_str());
    return err::from_host_errno(saved);
  }
  if (::rename(temp.c_str(), host.c_str()) != 0) {
    saved = errno;
    ::unlink(temp.c_str());
    return err::from_host_errno(saved);
  }
  return static_cast<int32_t>(bytes.size());
}

int32_t svc_mkdir(Kernel& k, const Slots& s) {
  std::string host;
  if (int32_t rc = guest_path(k, s[0], false, host); rc < 0) return rc;
  return host_result(::mkdir(host.c_str(), 0755));
}

int32_t svc_unlink(Kernel& k, const Slots& s) {
  std::string host;
  if (int32_t rc = guest_path(k, s[0], false, host); rc < 0) return rc;
  return host_result(::unlink(host.c_str()));
}

int32_t svc_rmdir(Kernel& k, const Slots& s) {
  std::string host;
  if (int32_t rc = guest_path(k, s[0], false, host); rc < 0) return rc;
  if (host == k.fs().root().string()) return err::kEACCES;  // the root stays
  return host_result(::rmdir(host.c_str()));
}

int32_t svc_chdir(Kernel& k, const Slots& s) {
  auto path = k.memory().read_string(s[0], kMaxPathLength);
  if (!path) return err::kEFAULT;
  return k.fs().chdir(*path);
}

int32_t svc_getcwd(Kernel& k, const Slots& s) {
  std::string cwd = k.fs().cwd();
  if (s[1] < cwd.size() + 1) return err::kERANGE;
  if (!k.memory().copy_out(s[0], cwd.c_str(), cwd.size() + 1)) return err::kEFAULT;
  return static_cast<int32_t>(cwd.size() + 1);
}

int32_t svc_lseek(Kernel& k, const Slots& s) {
  OpenFile* file = k.files().get(as_int(s[0]));
  if (file == nullptr) return err::kEBADF;
  return file->seek(as_int(s[1]), as_int(s[2]));
}

int32_t svc_pipe(Kernel& k, const Slots& s) {
  if (k.memory().run_length(s[0], 8, kWrite) < 8) return err::kEFAULT;
  auto pipe = std::make_shared<PipeBuffer>();
  int32_t fds[2];
  fds[0] = k.files().add(std::make_shared<PipeEnd>(pipe, false));
  if (fds[0] < 0) return fds[0];
  fds[1] = k.files().add(std::make_shared<PipeEnd>(pipe, true));
  if (fds[1] < 0) {
    k.files().close(fds[0]);
    return fds[1];
  }
  k.memory().copy_out(s[0], fds, sizeof fds);
  return 0;
}

int32_t svc_dup(Kernel& k, const Slots& s) { return k.files().dup(as_int(s[0])); }

int32_t svc_dup2(Kernel& k, const Slots& s) { return k.files().dup2(as_int(s[0]), as_int(s[1])); }

}  // namespace nuv
