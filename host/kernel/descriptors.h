// The guest's descriptor table. Descriptors 0, 1 and 2 are the console (standard input and
// output); dup'd descriptors share one open file and its offset.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

namespace nuv {

// What a read or write answers when it has to wait (a pipe's empty or full buffer): the
// kernel parks the call and runs it again later, or answers -EAGAIN to a descriptor that asked
// not to wait.
constexpr int32_t kMustWait = INT32_MIN;

class OpenFile {
 public:
  virtual ~OpenFile() = default;
  // fd_set_nonblock: what would wait answers -EAGAIN. Shared by every descriptor of the open
  // file (dup'd or given to a child), as O_NONBLOCK is.
  bool nonblock = false;
  // Byte counts or negative errors, as the services answer them.
  virtual int32_t read(void* buffer, size_t size);
  virtual int32_t write(const void* data, size_t size);
  virtual int32_t seek(int32_t offset, int32_t origin);
};

class HostFile final : public OpenFile {
 public:
  HostFile(int fd, bool readable, bool writable)
      : fd_(fd), readable_(readable), writable_(writable) {}
  ~HostFile() override;
  int32_t read(void* buffer, size_t size) override;
  int32_t write(const void* data, size_t size) override;
  int32_t seek(int32_t offset, int32_t origin) override;

 private:
  int fd_;
  bool readable_;
  bool writable_;
};

class ConsoleIn final : public OpenFile {
 public:
  explicit ConsoleIn(std::function<long(void*, size_t)> source) : source_(std::move(source)) {}
  int32_t read(void* buffer, size_t size) override;

 private:
  std::function<long(void*, size_t)> source_;
};

class ConsoleOut final : public OpenFile {
 public:
  // The sink returns 0, or the error the write answers.
  explicit ConsoleOut(std::function<int32_t(std::string_view)> sink) : sink_(std::move(sink)) {}
  int32_t write(const void* data, size_t size) override;

 private:
  std::function<int32_t(std::string_view)> sink_;
};

// A pipe between processes of the machine: a bounded ring of bytes, and how many of its ends
// are open. Every descriptor of an end (dup'd, given to a child) holds one PipeEnd, so an end
// closes when the last of them does.
struct PipeBuffer {
  static constexpr size_t kCapacity = 65536;
  // Writes up to this many bytes go in whole or wait: never interleaved with another's.
  static constexpr size_t kAtomic = 4096;
  std::vector<uint8_t> ring;  // kCapacity bytes, from the first write on
  size_t head = 0;            // the oldest byte
  size_t used = 0;
  int readers = 0;
  int writers = 0;
};

class PipeEnd final : public OpenFile {
 public:
  PipeEnd(std::shared_ptr<PipeBuffer> pipe, bool is_writer);
  ~PipeEnd() override;
  PipeEnd(const PipeEnd&) = delete;
  PipeEnd& operator=(const PipeEnd&) = delete;
  // Bytes, 0 at the end (no writer left), or kMustWait / -EAGAIN while the pipe is empty.
  int32_t read(void* buffer, size_t size) override;
  // Bytes taken (a write over kAtomic may take fewer), -EPIPE with no reader left, or
  // kMustWait / -EAGAIN while there is no room.
  int32_t write(const void* data, size_t size) override;
  const std::shared_ptr<PipeBuffer>& pipe() const { return pipe_; }

 private:
  std::shared_ptr<PipeBuffer> pipe_;
  bool writer_;
};

// A named pipe of the machine's: the node in the root is only its name; the bytes go through
// the kernel's own pipe. An open waits for the other side: the first open of the other side
// makes the ends of those waiting (by pid), which their open then takes.
struct FifoState {
  std::shared_ptr<PipeBuffer> pipe = std::make_shared<PipeBuffer>();
  std::map<int32_t, bool> waiting;  // pid: waits to read (true) or to write
  std::map<int32_t, std::shared_ptr<OpenFile>> ready;
};

class Descriptors {
 public:
  static constexpr int32_t kMaxDescriptors = 64;

  // The lowest free descriptor, or a negative error when the table is full.
  int32_t add(std::shared_ptr<OpenFile> file);
  OpenFile* get(int32_t fd) const;
  int32_t close(int32_t fd);
  int32_t dup(int32_t fd);
  int32_t dup2(int32_t fd, int32_t target);
  void install(int32_t fd, std::shared_ptr<OpenFile> file);
  // The open file behind a descriptor, to give it to another process; null when closed.
  std::shared_ptr<OpenFile> share(int32_t fd) const;
  // Closes every descriptor (the process ended).
  void close_all() { table_.clear(); }
  int32_t size() const { return static_cast<int32_t>(table_.size()); }

 private:
  std::vector<std::shared_ptr<OpenFile>> table_;
};

}  // namespace nuv
