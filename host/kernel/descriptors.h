// The guest's descriptor table. Descriptors 0, 1 and 2 are the console (standard input and
// output); dup'd descriptors share one open file and its offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace nuv {

class OpenFile {
 public:
  virtual ~OpenFile() = default;
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

// An in-memory pipe: one process, so a read of an empty pipe whose writer is still open
// answers "try again" instead of blocking forever.
struct PipeBuffer {
  static constexpr size_t kCapacity = 65536;
  std::deque<uint8_t> bytes;
  bool reader_open = true;
  bool writer_open = true;
};

class PipeEnd final : public OpenFile {
 public:
  PipeEnd(std::shared_ptr<PipeBuffer> pipe, bool is_writer)
      : pipe_(std::move(pipe)), writer_(is_writer) {}
  ~PipeEnd() override;
  int32_t read(void* buffer, size_t size) override;
  int32_t write(const void* data, size_t size) override;

 private:
  std::shared_ptr<PipeBuffer> pipe_;
  bool writer_;
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

 private:
  std::vector<std::shared_ptr<OpenFile>> table_;
};

}  // namespace nuv
