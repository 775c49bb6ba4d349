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
#include "host/kernel/whole_file.h"
#include "runtime/fcntl.h"

namespace nuv {
namespace {

// One call moves at most this much; callers loop on short counts as they must anyway.
constexpr size_t kMaxTransfer = 1u << 20;
// writefile holds the whole file at once.
constexpr size_t kMaxWholeFile = 64u << 20;

int32_t as_int(uint32_t v) { return static_cast<int32_t>(v); }

// Reads a guest path: err::kEFAULT for a bad pointer, err::kENAMETOOLONG for a path longer
// than any the root takes.
int32_t read_path(Kernel& k, uint32_t addr, std::string& out) {
  auto path = k.memory().read_string(addr, RootFs::kMaxPath);
  if (path) {
    out = std::move(*path);
    return 0;
  }
  // Readable all the way yet unterminated within the limit: too long, not a bad pointer.
  constexpr size_t kTooLong = RootFs::kMaxPath + 1;
  if (k.memory().run_length(addr, kTooLong, kRead) == kTooLong) return err::kENAMETOOLONG;
  return err::kEFAULT;
}

// Reads a guest path and finds the directory that holds its last component.
int32_t guest_entry(Kernel& k, uint32_t addr, bool follow_last, RootFs::Entry& entry) {
  std::string path;
  if (int32_t rc = read_path(k, addr, path); rc < 0) return rc;
  return k.fs().locate(path, follow_last, entry);
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
  std::string path;
  if (int32_t rc = read_path(k, s[0], path); rc < 0) return rc;
  uint32_t flags = s[1];
  int oflags = 0;
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
  // Opened without blocking, so a FIFO or device someone left in the root cannot hang the
  // host; the guest's reads and writes block as usual afterwards.
  int fd = k.fs().open(path, oflags | O_NONBLOCK, 0644);
  if (fd < 0) return fd;
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return k.files().add(std::make_shared<HostFile>(fd, readable, writable));
}

int32_t svc_close(Kernel& k, const Slots& s) { return k.files().close(as_int(s[0])); }

int32_t svc_writefile(Kernel& k, const Slots& s) {
  RootFs::Entry entry;
  if (int32_t rc = guest_entry(k, s[0], true, entry); rc < 0) return rc;
  if (entry.name.empty()) return err::kEISDIR;
  if (s[2] > kMaxWholeFile) return err::kENOSPC;
  std::vector<uint8_t> bytes(s[2]);
  if (!k.memory().copy_in(s[1], bytes.data(), bytes.size())) return err::kEFAULT;
  return replace_whole_file(entry.dir->get(), entry.name, bytes, k.config().write_through_links);
}

int32_t svc_mkdir(Kernel& k, const Slots& s) {
  RootFs::Entry entry;
  if (int32_t rc = guest_entry(k, s[0], false, entry); rc < 0) return rc;
  if (entry.name.empty()) return err::kEEXIST;
  return host_result(::mkdirat(entry.dir->get(), entry.name.c_str(), 0755));
}

int32_t svc_unlink(Kernel& k, const Slots& s) {
  RootFs::Entry entry;
  if (int32_t rc = guest_entry(k, s[0], false, entry); rc < 0) return rc;
  if (entry.name.empty()) return err::kEISDIR;
  return host_result(::unlinkat(entry.dir->get(), entry.name.c_str(), 0));
}

int32_t svc_rmdir(Kernel& k, const Slots& s) {
  RootFs::Entry entry;
  if (int32_t rc = guest_entry(k, s[0], false, entry); rc < 0) return rc;
  // The root stays; "d/." and the like name a directory by itself, as rmdir refuses on Linux.
  if (entry.name.empty()) return entry.dir_is_root ? err::kEACCES : err::kEINVAL;
  return host_result(::unlinkat(entry.dir->get(), entry.name.c_str(), AT_REMOVEDIR));
}

int32_t svc_chdir(Kernel& k, const Slots& s) {
  std::string path;
  if (int32_t rc = read_path(k, s[0], path); rc < 0) return rc;
  return k.fs().chdir(path);
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
