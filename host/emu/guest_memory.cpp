#include "host/emu/guest_memory.h"

#include <sys/mman.h>
#include <unicorn/unicorn.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace nuv {

GuestMemory::~GuestMemory() {
  // The CPU must be closed first: it works on these bytes directly.
  for (const auto& r : regions_) ::munmap(r.host, static_cast<size_t>(r.end - r.begin));
}

void GuestMemory::map(uint32_t addr, uint32_t size, uint32_t perms, std::string name) {
  // The bytes live in host memory the CPU shares, so the kernel's copies are plain memcpy
  // instead of a trip through the emulator for every record it reads.
  void* host = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (host == MAP_FAILED) throw std::runtime_error("no host memory for guest " + name);
  // The engine never gets execute permission: it then asks its fetch hooks for every byte of
  // code it translates, and the process's block limit answers from the regions' own
  // permissions (host/machine/block_limit.h).
  uint32_t uc_perms = ((perms & kRead) ? UC_PROT_READ : 0) | ((perms & kWrite) ? UC_PROT_WRITE : 0);
  if (uc_mem_map_ptr(uc_, addr, size, uc_perms, host) != UC_ERR_OK) {
    ::munmap(host, size);
    throw std::runtime_error("cannot map guest memory for " + name);
  }
  regions_.push_back(
      Region{addr, uint64_t{addr} + size, perms, std::move(name), static_cast<uint8_t*>(host)});
}

const Region* GuestMemory::region_at(uint32_t addr) const {
  // The kernel's records come from the same region call after call (mostly the stack).
  if (last_ < regions_.size()) {
    const Region& r = regions_[last_];
    if (addr >= r.begin && addr < r.end) return &r;
  }
  for (size_t i = 0; i < regions_.size(); ++i) {
    const Region& r = regions_[i];
    if (addr >= r.begin && addr < r.end) {
      last_ = i;
      return &r;
    }
  }
  return nullptr;
}

template <typename Fn>
bool GuestMemory::each_piece(uint32_t addr, size_t size, uint32_t need, Fn&& fn) const {
  // Nothing to move is no fault anywhere, as a zero-length read or write is none on Linux; and
  // the caller's pointer may then be null, which memcpy must never see.
  if (size == 0) return true;
  uint64_t at = addr;
  uint64_t end = uint64_t{addr} + size;
  if (end > 0x100000000ull) return false;
  // Nearly every record the kernel moves lies inside one region.
  const Region* first = region_at(addr);
  if (first != nullptr && end <= first->end) {
    if ((first->perms & need) != need) return false;
    fn(*first, static_cast<size_t>(at - first->begin), size_t{0}, size);
    return true;
  }
  // Check everything before touching anything: a copy is whole or not at all.
  while (at < end) {
    const Region* r = region_at(static_cast<uint32_t>(at));
    if (r == nullptr || (r->perms & need) != need) return false;
    at = r->end;
  }
  for (at = addr; at < end;) {
    const Region* r = region_at(static_cast<uint32_t>(at));
    uint64_t stop = std::min(end, r->end);
    fn(*r, static_cast<size_t>(at - r->begin), static_cast<size_t>(at - addr),
       static_cast<size_t>(stop - at));
    at = stop;
  }
  return true;
}

size_t GuestMemory::run_length(uint32_t addr, size_t max, uint32_t perms) const {
  uint64_t at = addr;
  uint64_t end = std::min<uint64_t>(uint64_t{addr} + max, 0x100000000ull);
  while (at < end) {
    const Region* r = region_at(static_cast<uint32_t>(at));
    if (r == nullptr || (r->perms & perms) != perms) break;
    at = r->end;
  }
  return static_cast<size_t>(std::min(at, end) - addr);
}

bool GuestMemory::copy_in(uint32_t addr, void* out, size_t size) const {
  auto* dst = static_cast<uint8_t*>(out);
  return each_piece(addr, size, kRead, [&](const Region& r, size_t off, size_t done, size_t n) {
    std::memcpy(dst + done, r.host + off, n);
  });
}

void GuestMemory::store(const Region& r, size_t offset, const uint8_t* bytes, size_t n) {
  std::memcpy(r.host + offset, bytes, n);
  // Code may already be translated: its translations are dropped, as a store of the CPU's
  // would drop them, so the next run of that code is the new bytes. (The engine's own
  // uc_mem_write does not drop them for memory it shares with the host.)
  if (r.perms & kExec) {
    uint64_t begin = r.begin + offset;
    uc_ctl_remove_cache(uc_, begin, begin + n);
  }
}

bool GuestMemory::copy_out(uint32_t addr, const void* in, size_t size) {
  const auto* src = static_cast<const uint8_t*>(in);
  return each_piece(addr, size, kWrite, [&](const Region& r, size_t off, size_t done, size_t n) {
    store(r, off, src + done, n);
  });
}

bool GuestMemory::poke(uint32_t addr, const void* in, size_t size) {
  const auto* src = static_cast<const uint8_t*>(in);
  return each_piece(addr, size, 0, [&](const Region& r, size_t off, size_t done, size_t n) {
    store(r, off, src + done, n);
  });
}

std::optional<std::string> GuestMemory::read_string(uint32_t addr, size_t max_len) const {
  std::string out;
  uint64_t at = addr;
  while (at < 0x100000000ull) {
    const Region* r = region_at(static_cast<uint32_t>(at));
    if (r == nullptr || (r->perms & kRead) == 0) return std::nullopt;
    const uint8_t* p = r->host + (at - r->begin);
    size_t avail = static_cast<size_t>(r->end - at);
    size_t want = std::min(avail, max_len - out.size() + 1);  // one more: room for the NUL
    const void* nul = std::memchr(p, 0, want);
    if (nul != nullptr) {
      out.append(reinterpret_cast<const char*>(p), static_cast<const uint8_t*>(nul) - p);
      return out;
    }
    if (want < avail || out.size() + want > max_len) return std::nullopt;  // too long
    out.append(reinterpret_cast<const char*>(p), want);
    at = r->end;
  }
  return std::nullopt;
}

}  // namespace nuv
