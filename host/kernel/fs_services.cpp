// File, descriptor and directory services, backed by the host file system inside the root.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "abi/open_flags.h"
#include "host/kernel/kernel.h"
#include "host/kernel/service_handlers.h"
#include "host/kernel/whole_file.h"

namespace nuv {
namespace {

int32_t host_result(int rc) { return rc < 0 ? err::from_host_errno(errno) : 0; }

// The directory that holds a path's last component, and that component.
ErrorOr<RootFs::Entry> entry_of(Kernel& k, std::string_view path, bool follow_last) {
  RootFs::Entry entry;
  int32_t rc = k.fs().locate(path, follow_last, entry);
  if (rc < 0) return static_cast<err::Error>(rc);
  return entry;
}

// The host's open(2) flags for the program's, or nullopt for an access mode there is none of.
std::optional<int> host_open_flags(uint32_t flags) {
  int oflags = 0;
  switch (flags & NUVRELOS_O_ACCMODE) {
    case NUVRELOS_O_RDONLY:
      oflags = O_RDONLY;
      break;
    case NUVRELOS_O_WRONLY:
      oflags = O_WRONLY;
      break;
    case NUVRELOS_O_RDWR:
      oflags = O_RDWR;
      break;
    default:
      return std::nullopt;
  }
  if (flags & NUVRELOS_O_CREAT) oflags |= O_CREAT;
  if (flags & NUVRELOS_O_EXCL) oflags |= O_EXCL;
  if (flags & NUVRELOS_O_TRUNC) oflags |= O_TRUNC;
  if (flags & NUVRELOS_O_APPEND) oflags |= O_APPEND;
  return oflags;
}

// The identity of the FIFO a path names (links followed), or nullopt for anything else.
std::optional<std::pair<uint64_t, uint64_t>> fifo_node(Kernel& k, std::string_view path) {
  RootFs::Entry entry;
  if (k.fs().locate(path, true, entry) < 0 || entry.name.empty()) return std::nullopt;
  struct stat st;
  if (::fstatat(entry.dir->get(), entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISFIFO(st.st_mode)) {
    return std::nullopt;
  }
  return std::pair<uint64_t, uint64_t>{st.st_dev, st.st_ino};
}

// An open of a FIFO waits for the other side, as a POSIX open does; the host's FIFO itself is
// never opened, so nothing outside the machine can hold the run.
int32_t open_fifo(Kernel& k, std::pair<uint64_t, uint64_t> id, int access) {
  if (access == O_RDWR) return err::kEINVAL;
  bool reader = access == O_RDONLY;
  std::shared_ptr<FifoState>& slot = k.shared().fifos[id];
  if (!slot) slot = std::make_shared<FifoState>();
  FifoState& fifo = *slot;
  std::shared_ptr<OpenFile> end;
  if (auto made = fifo.ready.find(k.pid()); made != fifo.ready.end()) {
    end = std::move(made->second);
    fifo.ready.erase(made);
  } else {
    PipeBuffer& pipe = *fifo.pipe;
    bool other_open = (reader ? pipe.writers : pipe.readers) > 0;
    bool other_waits = false;
    for (const auto& [pid, waits_to_read] : fifo.waiting) other_waits |= waits_to_read != reader;
    if (!other_open && !other_waits) {
      fifo.waiting[k.pid()] = reader;
      return k.block(reader ? "opening a FIFO to read" : "opening a FIFO to write");
    }
    // Bytes nobody could read any more do not reach the next pair of ends.
    if (pipe.readers == 0 && pipe.writers == 0) {
      pipe.used = 0;
      pipe.head = 0;
    }
    end = std::make_shared<PipeEnd>(fifo.pipe, !reader);
    for (auto it = fifo.waiting.begin(); it != fifo.waiting.end();) {
      if (it->second == reader) {
        ++it;
        continue;
      }
      fifo.ready[it->first] = std::make_shared<PipeEnd>(fifo.pipe, it->second == false);
      it = fifo.waiting.erase(it);
    }
  }
  fifo.waiting.erase(k.pid());
  int32_t fd = k.files().add(std::move(end));
  return fd;
}

}  // namespace

int32_t svc_write(Kernel& k, Fd fd, const GuestBytesIn<3>& data, Count) {
  int32_t put = fd->write(data.bytes.data(), data.bytes.size());
  if (put == kMustWait) return k.block("writing descriptor " + std::to_string(fd.number));
  return put;
}

// Only as much as the guest can take is read, so nothing read is ever lost.
int32_t svc_read(Kernel& k, Fd fd, GuestBytesOut<3>& data, Count) {
  int32_t got = fd->read(data.buffer().data(), data.buffer().size());
  if (got == kMustWait) return k.block("reading descriptor " + std::to_string(fd.number));
  if (got < 0) return got;
  TRY(data.put(static_cast<size_t>(got)));
  return got;
}

int32_t svc_open(Kernel& k, const GuestPath& path, Bits flags, Bits) {
  std::optional<int> oflags = host_open_flags(flags);
  if (!oflags) return err::kEINVAL;
  int access = *oflags & O_ACCMODE;
  if (std::optional<std::pair<uint64_t, uint64_t>> fifo = fifo_node(k, path)) {
    return open_fifo(k, *fifo, access);
  }
  // Opened without blocking, so a FIFO or device someone left in the root cannot hang the
  // host; the guest's reads and writes block as usual afterwards.
  int fd = k.fs().open(path, *oflags | O_NONBLOCK, 0644);
  if (fd < 0) return fd;
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return k.files().add(std::make_shared<HostFile>(fd, access != O_WRONLY, access != O_RDONLY));
}

int32_t svc_close(Kernel& k, Fd fd) { return k.files().close(fd.number); }

int32_t svc_writefile(Kernel& k, const GuestPath& path, const GuestWholeIn<3>& data, Count) {
  RootFs::Entry entry = TRY(entry_of(k, path, true));
  if (entry.name.empty()) return err::kEISDIR;
  return replace_whole_file(entry.dir->get(), entry.name, data.bytes,
                            k.config().write_through_links);
}

int32_t svc_mkdir(Kernel& k, const GuestPath& path) {
  RootFs::Entry entry = TRY(entry_of(k, path, false));
  if (entry.name.empty()) return err::kEEXIST;
  return host_result(::mkdirat(entry.dir->get(), entry.name.c_str(), 0755));
}

int32_t svc_unlink(Kernel& k, const GuestPath& path) {
  RootFs::Entry entry = TRY(entry_of(k, path, false));
  if (entry.name.empty()) return err::kEISDIR;
  return host_result(::unlinkat(entry.dir->get(), entry.name.c_str(), 0));
}

int32_t svc_rmdir(Kernel& k, const GuestPath& path) {
  RootFs::Entry entry = TRY(entry_of(k, path, false));
  // The root stays; "d/." and the like name a directory by itself, as rmdir refuses on Linux.
  if (entry.name.empty()) return entry.dir_is_root ? err::kEACCES : err::kEINVAL;
  return host_result(::unlinkat(entry.dir->get(), entry.name.c_str(), AT_REMOVEDIR));
}

int32_t svc_chdir(Kernel& k, const GuestPath& path) { return k.fs().chdir(path); }

int32_t svc_getcwd(Kernel& k, GuestStringOut<2>& buffer, Count) {
  std::string cwd = k.fs().cwd();
  TRY(buffer.put(cwd));
  return static_cast<int32_t>(cwd.size() + 1);
}

int32_t svc_lseek(Kernel&, Fd fd, Int offset, Int origin) { return fd->seek(offset, origin); }

int32_t svc_pipe(Kernel& k, GuestOut<NuvrelosFdPair>& fds) {
  auto pipe = std::make_shared<PipeBuffer>();
  NuvrelosFdPair pair{};
  pair.read_end = k.files().add(std::make_shared<PipeEnd>(pipe, false));
  if (pair.read_end < 0) return pair.read_end;
  pair.write_end = k.files().add(std::make_shared<PipeEnd>(pipe, true));
  ErrorOr<void> stored =
      pair.write_end < 0 ? static_cast<err::Error>(pair.write_end) : fds.put(pair);
  if (stored.is_error()) {
    // Nothing of a pipe the program cannot learn about stays open.
    k.files().close(pair.read_end);
    if (pair.write_end >= 0) k.files().close(pair.write_end);
    return stored.error();
  }
  return 0;
}

int32_t svc_mkfifo(Kernel& k, const GuestPath& path) {
  RootFs::Entry entry = TRY(entry_of(k, path, false));
  if (entry.name.empty()) return err::kEEXIST;
  return host_result(::mkfifoat(entry.dir->get(), entry.name.c_str(), 0644));
}

int32_t svc_nuvrelfs_stream_begin(Kernel& k, const GuestPath& path) {
  RootFs::Entry entry = TRY(entry_of(k, path, true));
  if (entry.name.empty()) return err::kEISDIR;
  struct stat st;
  if (::fstatat(entry.dir->get(), entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISDIR(st.st_mode)) {
    return err::kEISDIR;
  }
  auto& streams = k.streams();
  if (streams.size() >= Kernel::kMaxStreams) return err::kEMFILE;
  int32_t handle = 1;
  while (streams.count(handle) != 0) ++handle;
  auto stream = std::make_unique<Kernel::Stream>();
  stream->file.reset(::openat(entry.dir->get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644));
  if (!stream->file) return err::from_host_errno(errno);
  stream->dir = entry.dir;
  stream->name = entry.name;
  streams[handle] = std::move(stream);
  return handle;
}

int32_t svc_nuvrelfs_stream_write(Kernel& k, Int handle, const GuestWholeIn<3>& data, Count) {
  auto it = k.streams().find(handle);
  if (it == k.streams().end()) return err::kEBADF;
  size_t done = 0;
  while (done < data.bytes.size()) {
    ssize_t n = ::write(it->second->file.get(), data.bytes.data() + done, data.bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return err::from_host_errno(n < 0 ? errno : EIO);
    done += static_cast<size_t>(n);
  }
  return static_cast<int32_t>(done);
}

int32_t svc_nuvrelfs_stream_end(Kernel& k, Int handle) {
  auto it = k.streams().find(handle);
  if (it == k.streams().end()) return err::kEBADF;
  std::unique_ptr<Kernel::Stream> stream = std::move(it->second);
  k.streams().erase(it);
  int dir = stream->dir->get();
  // The finished file gets a name of its own beside the target for the instant before it is
  // renamed over it, so the target always holds the old content or the new.
  std::string temp = whole_file_temp_name(stream->name) + "s";
  ::unlinkat(dir, temp.c_str(), 0);
  std::string from = "/proc/self/fd/" + std::to_string(stream->file.get());
  if (::linkat(AT_FDCWD, from.c_str(), dir, temp.c_str(), AT_SYMLINK_FOLLOW) != 0) {
    return err::from_host_errno(errno);
  }
  if (::renameat(dir, temp.c_str(), dir, stream->name.c_str()) != 0) {
    int32_t rc = err::from_host_errno(errno);
    ::unlinkat(dir, temp.c_str(), 0);
    return rc;
  }
  return 0;
}

int32_t svc_dup(Kernel& k, Fd fd) { return k.files().dup(fd.number); }

int32_t svc_dup2(Kernel& k, Fd fd, Int target) { return k.files().dup2(fd.number, target); }

}  // namespace nuv
