// The guest's 32-bit address space. The kernel and the test harness reach it only through
// these checked copies: a bad guest pointer is a failed copy, never a host crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct uc_struct;

namespace nuv {

// Access permissions of a mapping, as bits.
constexpr uint32_t kRead = 1;
constexpr uint32_t kWrite = 2;
constexpr uint32_t kExec = 4;

struct Region {
  uint32_t begin = 0;
  uint64_t end = 0;    // exclusive
  uint32_t perms = 0;  // kRead, kWrite, kExec
  std::string name;
  uint8_t* host = nullptr;  // the region's bytes, shared with the emulated CPU
};

class GuestMemory {
 public:
  explicit GuestMemory(uc_struct* uc) : uc_(uc) {}
  ~GuestMemory();
  GuestMemory(const GuestMemory&) = delete;
  GuestMemory& operator=(const GuestMemory&) = delete;

  // Maps [addr, addr+size) (page-aligned) with the given permissions, zero-filled.
  void map(uint32_t addr, uint32_t size, uint32_t perms, std::string name);

  // Guest to host: the whole range must be mapped readable.
  bool copy_in(uint32_t addr, void* out, size_t size) const;
  // Host to guest: the whole range must be mapped writable by the guest. Code it writes over
  // runs as written (translations of it are dropped).
  bool copy_out(uint32_t addr, const void* in, size_t size);
  // A NUL-terminated guest string of at most max_len bytes (without the NUL); nullopt when it
  // is unmapped, unterminated within the limit, or crosses into unreadable memory.
  std::optional<std::string> read_string(uint32_t addr, size_t max_len) const;

  // Loader and harness only: writes regardless of guest permissions (still must be mapped).
  bool poke(uint32_t addr, const void* in, size_t size);

  // How many bytes from addr, up to max, are mapped with the given permissions.
  size_t run_length(uint32_t addr, size_t max, uint32_t perms) const;

  const Region* region_at(uint32_t addr) const;
  // Every mapping, in the order they were made.
  const std::vector<Region>& regions() const { return regions_; }
  // What every mapping holds together, in bytes.
  uint64_t mapped_bytes() const {
    uint64_t total = 0;
    for (const Region& r : regions_) total += r.end - r.begin;
    return total;
  }

 private:
  // Visits the pieces of [addr, addr+size) region by region; false if any byte lacks `need`.
  template <typename Fn>
  bool each_piece(uint32_t addr, size_t size, uint32_t need, Fn&& fn) const;

  // Every write of the host's into the guest: code included.
  void store(const Region& r, size_t offset, const uint8_t* bytes, size_t n);

  uc_struct* uc_;
  std::vector<Region> regions_;
  mutable size_t last_ = 0;  // the region the last lookup found
};

}  // namespace nuv
