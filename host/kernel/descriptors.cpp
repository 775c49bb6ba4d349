#include "host/kernel/descriptors.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "abi/services.h"
#include "host/base/guest_errors.h"

namespace nuv {

int32_t OpenFile::read(void*, size_t) { return err::kEBADF; }
int32_t OpenFile::write(const void*, size_t) { return err::kEBADF; }
int32_t OpenFile::seek(int32_t, int32_t) { return err::kEINVAL; }

HostFile::~HostFile() { ::close(fd_); }

int32_t HostFile::read(void* buffer, size_t size) {
  if (!readable_) return err::kEBADF;
  ssize_t n = ::read(fd_, buffer, size);
  return n < 0 ? err::from_host_errno(errno) : static_cast<int32_t>(n);
}

int32_t HostFile::write(const void* data, size_t size) {
  if (!writable_) return err::kEBADF;
  ssize_t n = ::write(fd_, data, size);
  return n < 0 ? err::from_host_errno(errno) : static_cast<int32_t>(n);
}

int32_t HostFile::seek(int32_t offset, int32_t origin) {
  int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : -1;
  if (whence < 0) return err::kEINVAL;
  off_t at = ::lseek(fd_, offset, whence);
  if (at < 0) return err::from_host_errno(errno);
  // Offsets are 32-bit for the guest: a position it cannot name is refused.
  if (at > NUVRELOS_COUNT_MAX) return err::kEINVAL;
  return static_cast<int32_t>(at);
}

int32_t ConsoleIn::read(void* buffer, size_t size) {
  long n = source_ ? source_(buffer, size) : 0;
  return n < 0 ? err::kEIO : static_cast<int32_t>(n);
}

int32_t ConsoleOut::write(const void* data, size_t size) {
  int32_t rc = sink_ ? sink_(std::string_view(static_cast<const char*>(data), size)) : 0;
  return rc < 0 ? rc : static_cast<int32_t>(size);
}

PipeEnd::PipeEnd(std::shared_ptr<PipeBuffer> pipe, bool is_writer)
    : pipe_(std::move(pipe)), writer_(is_writer) {
  ++(writer_ ? pipe_->writers : pipe_->readers);
}

PipeEnd::~PipeEnd() {
  PipeBuffer& p = *pipe_;
  --(writer_ ? p.writers : p.readers);
  // With no end left nobody can read what is there. A FIFO's buffer stays with its name, so
  // its bytes and memory go now, or every FIFO a program ever used would keep 64 KiB.
  if (p.readers == 0 && p.writers == 0) {
    std::vector<uint8_t>().swap(p.ring);
    p.head = 0;
    p.used = 0;
  }
}

int32_t PipeEnd::read(void* buffer, size_t size) {
  if (writer_) return err::kEBADF;
  PipeBuffer& p = *pipe_;
  if (p.used == 0) {
    if (p.writers == 0) return 0;
    return nonblock ? err::kEAGAIN : kMustWait;
  }
  size_t n = std::min(size, p.used);
  size_t first = std::min(n, PipeBuffer::kCapacity - p.head);
  auto* out = static_cast<uint8_t*>(buffer);
  std::memcpy(out, p.ring.data() + p.head, first);
  std::memcpy(out + first, p.ring.data(), n - first);
  p.head = (p.head + n) % PipeBuffer::kCapacity;
  p.used -= n;
  if (p.used == 0) p.head = 0;
  return static_cast<int32_t>(n);
}

int32_t PipeEnd::write(const void* data, size_t size) {
  if (!writer_) return err::kEBADF;
  PipeBuffer& p = *pipe_;
  if (p.readers == 0) return err::kEPIPE;
  if (size == 0) return 0;
  size_t room = PipeBuffer::kCapacity - p.used;
  // A small write goes in whole or not at all, so writers' records never interleave.
  if (room == 0 || (size <= PipeBuffer::kAtomic && room < size)) {
    return nonblock ? err::kEAGAIN : kMustWait;
  }
  if (p.ring.empty()) p.ring.resize(PipeBuffer::kCapacity);
  size_t n = std::min(size, room);
  size_t tail = (p.head + p.used) % PipeBuffer::kCapacity;
  size_t first = std::min(n, PipeBuffer::kCapacity - tail);
  const auto* in = static_cast<const uint8_t*>(data);
  std::memcpy(p.ring.data() + tail, in, first);
  std::memcpy(p.ring.data(), in + first, n - first);
  p.used += n;
  return static_cast<int32_t>(n);
}

int32_t Descriptors::add(std::shared_ptr<OpenFile> file) {
  for (size_t i = 0; i < table_.size(); ++i) {
    if (!table_[i]) {
      table_[i] = std::move(file);
      return static_cast<int32_t>(i);
    }
  }
  if (table_.size() >= static_cast<size_t>(kMaxDescriptors)) return err::kEMFILE;
  table_.push_back(std::move(file));
  return static_cast<int32_t>(table_.size() - 1);
}

void Descriptors::install(int32_t fd, std::shared_ptr<OpenFile> file) {
  if (table_.size() <= static_cast<size_t>(fd)) table_.resize(static_cast<size_t>(fd) + 1);
  table_[static_cast<size_t>(fd)] = std::move(file);
}

std::shared_ptr<OpenFile> Descriptors::share(int32_t fd) const {
  if (get(fd) == nullptr) return nullptr;
  return table_[static_cast<size_t>(fd)];
}

OpenFile* Descriptors::get(int32_t fd) const {
  if (fd < 0 || static_cast<size_t>(fd) >= table_.size()) return nullptr;
  return table_[static_cast<size_t>(fd)].get();
}

int32_t Descriptors::close(int32_t fd) {
  if (get(fd) == nullptr) return err::kEBADF;
  table_[static_cast<size_t>(fd)].reset();
  return 0;
}

int32_t Descriptors::dup(int32_t fd) {
  if (get(fd) == nullptr) return err::kEBADF;
  return add(table_[static_cast<size_t>(fd)]);
}

int32_t Descriptors::dup2(int32_t fd, int32_t target) {
  if (get(fd) == nullptr) return err::kEBADF;
  if (target < 0 || target >= kMaxDescriptors) return err::kEBADF;
  if (fd == target) return target;
  install(target, table_[static_cast<size_t>(fd)]);
  return target;
}

}  // namespace nuv
