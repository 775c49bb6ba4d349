// A static ELF32 i386 executable, read with libelf and checked before anything is mapped.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/emu/guest_memory.h"

namespace nuv {

class LoadError : public std::runtime_error {
 public:
  explicit LoadError(const std::string& what, int os_error = 0)
      : std::runtime_error(what), os_error_(os_error) {}
  // The host's errno when the file could not be opened at all (ENOENT, EACCES, EISDIR); 0 when
  // it was read and is no program of ours.
  int os_error() const { return os_error_; }

 private:
  int os_error_;
};

struct Segment {
  uint32_t vaddr = 0;
  uint32_t memsz = 0;
  uint32_t perms = 0;          // kRead, kWrite, kExec
  std::vector<uint8_t> bytes;  // file contents; the rest up to memsz is zero
};

struct Section {
  std::string name;
  uint64_t flags = 0;  // SHF_* bits
  uint32_t addr = 0;
  uint32_t align = 0;
  std::vector<uint8_t> bytes;
};

class ElfImage {
 public:
  // Throws LoadError naming what is wrong with the file.
  static ElfImage load(const std::string& path);

  uint32_t entry() const { return entry_; }
  // The stack size the program asked for at link time (PT_GNU_STACK's memory size, as
  // `-z stack-size=N` sets it); 0 when it asked for none.
  uint32_t stack_size() const { return stack_size_; }
  const std::vector<Segment>& segments() const { return segments_; }
  std::optional<uint32_t> symbol(const std::string& name) const;
  std::optional<Section> section(const std::string& name) const;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  uint32_t entry_ = 0;
  uint32_t stack_size_ = 0;
  std::vector<Segment> segments_;
  std::unordered_map<std::string, uint32_t> symbols_;
  std::vector<Section> sections_;
};

}  // namespace nuv
