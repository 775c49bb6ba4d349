#include "host/emu/guest_memory.h"

#include <unicorn/unicorn.h>

#include <algorithm>
#include <stdexcept>

#include "host/emu/elf_image.h"

namespace nuv {

void GuestMemory::map(uint32_t addr, uint32_t size, uint32_t perms, std::string name) {
  uint32_t uc_perms = ((perms & kRead) ? UC_PROT_READ : 0) |
                      ((perms & kWrite) ? UC_PROT_WRITE : 0) |
                      ((perms & kExec) ? UC_PROT_EXEC : 0);
  if (uc_mem_map(uc_, addr, size, uc_perms) != UC_ERR_OK) {
    throw std::runtime_error("cannot map guest memory for " + name);
  }
  regions_.push_back(Region{addr, addr + size, perms, std::move(name)});
}

const Region* GuestMemory::region_at(uint32_t addr) const {
  for (const auto& r : regions_) {
    if (addr >= r.begin && (r.end == 0 || addr < r.end)) return &r;
  }
  return nullptr;
}

bool GuestMemory::covered(uint32_t addr, size_t size, uint32_t need) const {
  uint64_t at = addr;
  uint64_t end = uint64_t{addr} + size;
  if (end > 0x100000000ull) return false;
  while (at < end) {
    const Region* r = region_at(static_cast<uint32_t>(at));
    if (r == nullptr || (r->perms & need) != need) return false;
    at = r->end == 0 ? 0x100000000ull : r->end;
  }
  return true;
}

size_t GuestMemory::run_length(uint32_t addr, size_t max, uint32_t perms) const {
  uint64_t at = addr;
  uint64_t end = std::min<uint64_t>(uint64_t{addr} + max, 0x100000000ull);
  while (at < end) {
    const Region* r = region_at(static_cast<uint32_t>(at));
    if (r == nullptr || (r->perms & perms) != perms) break;
    at = r->end == 0 ? 0x100000000ull : r->end;
  }
  return static_cast<size_t>(std::min(at, end) - addr);
}

bool GuestMemory::copy_in(uint32_t addr, void* out, size_t size) const {
  if (size == 0) return true;
  if (!covered(addr, size, kRead)) return false;
  return uc_mem_read(uc_, addr, out, size) == UC_ERR_OK;
}

bool GuestMemory::copy_out(uint32_t addr, const void* in, size_t size) {
  if (size == 0) return true;
  if (!covered(addr, size, kWrite)) return false;
  return uc_mem_write(uc_, addr, in, size) == UC_ERR_OK;
}

bool GuestMemory::poke(uint32_t addr, const void* in, size_t size) {
  if (size == 0) return true;
  if (!covered(addr, size, 0)) return false;
  return uc_mem_write(uc_, addr, in, size) == UC_ERR_OK;
}

std::optional<std::string> GuestMemory::read_string(uint32_t addr, size_t max_len) const {
  std::string out;
  char chunk[256];
  uint64_t at = addr;
  while (out.size() <= max_len) {
    // Read up to the end of the current page so a string ending just before an unmapped
    // page is still found.
    size_t n = std::min<uint64_t>(sizeof chunk, 0x1000 - (at & 0xFFF));
    if (at + n > 0x100000000ull || !copy_in(static_cast<uint32_t>(at), chunk, n)) {
      return std::nullopt;
    }
    for (size_t i = 0; i < n; ++i) {
      if (chunk[i] == '\0') return out;
      if (out.size() == max_len) return std::nullopt;
      out.push_back(chunk[i]);
    }
    at += n;
  }
  return std::nullopt;
}

}  // namespace nuv
