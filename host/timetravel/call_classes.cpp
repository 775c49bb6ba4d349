#include "host/timetravel/call_classes.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "abi/gui_records.h"
#include "abi/services.h"

namespace nuv {
namespace {

// A quick mix of 8-byte words in four independent lanes (a replay digests every byte a write
// hands over: one lane's chain of multiplies would make that the slowest part of recording).
struct Digest {
  uint64_t h = 0x9E3779B97F4A7C15ull;
  static constexpr uint64_t kMul = 0xFF51AFD7ED558CCDull;
  void word(uint64_t w) {
    h = (h ^ w) * kMul;
    h ^= h >> 29;
  }
  void bytes(const uint8_t* p, size_t n) {
    word(n);
    uint64_t lane[4] = {h, h ^ 1, h ^ 2, h ^ 3};
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
      for (int k = 0; k < 4; ++k) {
        uint64_t w;
        std::memcpy(&w, p + i + 8 * k, 8);
        lane[k] = (lane[k] ^ w) * kMul;
        lane[k] ^= lane[k] >> 31;
      }
    }
    for (uint64_t l : lane) word(l);
    for (; i + 8 <= n; i += 8) {
      uint64_t w;
      std::memcpy(&w, p + i, 8);
      word(w);
    }
    uint64_t tail = 0;
    if (n > i) std::memcpy(&tail, p + i, n - i);
    word(tail);
  }
};

// What each slot kind makes the kernel read, for the digest.
enum class Reads { Nothing, String, Record, BytesOf };
struct SlotRead {
  Reads reads = Reads::Nothing;
  size_t size = 0;   // Record: its size; BytesOf: the slot (from 1) that counts them
  size_t limit = 0;  // String: the longest; BytesOf: the most taken
};

constexpr SlotRead kNothing{};
#define NUV_DIGEST_NONE kNothing
#define NUV_DIGEST_INT kNothing
#define NUV_DIGEST_BITS kNothing
#define NUV_DIGEST_FLAG kNothing
#define NUV_DIGEST_COUNT kNothing
#define NUV_DIGEST_USEC kNothing
#define NUV_DIGEST_FD kNothing
#define NUV_DIGEST_WINDOW kNothing
#define NUV_DIGEST_ADDR kNothing
#define NUV_DIGEST_PATH \
  SlotRead { Reads::String, 0, NUVRELOS_PATH_MAX }
#define NUV_DIGEST_TITLE \
  SlotRead { Reads::String, 0, NUVRELOS_TITLE_MAX }
#define NUV_DIGEST_TITLE_OR_NULL \
  SlotRead { Reads::String, 0, NUVRELOS_TITLE_MAX }
#define NUV_DIGEST_IN(type) \
  SlotRead { Reads::Record, sizeof(type), 0 }
#define NUV_DIGEST_BYTES_IN(len) \
  SlotRead { Reads::BytesOf, len, size_t{1} << 20 }
#define NUV_DIGEST_WHOLE_IN(len) \
  SlotRead { Reads::BytesOf, len, size_t{64} << 20 }
#define NUV_DIGEST_OUT(type) kNothing
#define NUV_DIGEST_OUT_UPTO(type, room) kNothing
#define NUV_DIGEST_BYTES_OUT(len) kNothing
#define NUV_DIGEST_STR_OUT(len) kNothing
#define NUV_DIGEST(kind) NUV_DIGEST_##kind

struct ServiceReads {
  uint32_t number;
  SlotRead slots[3];
};
#define NUV_SERVICE_READS(num, name, entry, a, b, c) \
  ServiceReads{num, {NUV_DIGEST(a), NUV_DIGEST(b), NUV_DIGEST(c)}},
constexpr ServiceReads kReads[] = {NUVRELOS_SERVICES(NUV_SERVICE_READS)};
#undef NUV_SERVICE_READS

}  // namespace

Replay replay_of(uint32_t number) {
  switch (number) {
    case SVC_exit:
    case SVC_usleep:
    case SVC_spawn:
    case SVC_waitpid:
    case SVC_gui_create:
    case SVC_gui_attach:
    case SVC_gui_present:
    case SVC_gui_set_continuous_redraw:
      return Replay::Executed;
    case SVC_gui_begin:
    case SVC_gui_clear:
    case SVC_gui_fill_rect:
    case SVC_gui_outline_rect:
    case SVC_gui_draw_text:
    case SVC_gui_set_title:
    case SVC_gui_warp_mouse:
    case SVC_gui_set_cursor_visible:
      return Replay::Drawing;
    default:
      return Replay::Answered;
  }
}

uint64_t argument_digest(const GuestMemory& memory, uint32_t number, const Slots& slots) {
  Digest d;
  d.word(number);
  for (uint32_t s : slots) d.word(s);
  const ServiceReads* reads = nullptr;
  for (const ServiceReads& r : kReads) {
    if (r.number == number) reads = &r;
  }
  if (reads == nullptr) return d.h;
  std::vector<uint8_t> buffer;
  for (size_t i = 0; i < 3; ++i) {
    const SlotRead& r = reads->slots[i];
    uint32_t address = slots[i];
    size_t n = 0;
    switch (r.reads) {
      case Reads::Nothing:
        continue;
      case Reads::String: {
        auto s = memory.read_string(address, r.limit);
        d.word(s ? s->size() : ~uint64_t{0});
        if (s) d.bytes(reinterpret_cast<const uint8_t*>(s->data()), s->size());
        continue;
      }
      case Reads::Record:
        n = memory.run_length(address, r.size, kRead);
        break;
      case Reads::BytesOf:
        n = memory.run_length(address, std::min<size_t>(slots[r.size - 1], r.limit), kRead);
        break;
    }
    // Read where it lies when one mapping holds it all (a write's bytes usually), else copied.
    const Region* region = n != 0 ? memory.region_at(address) : nullptr;
    if (region != nullptr && uint64_t{address} + n <= region->end) {
      d.bytes(region->host + (address - region->begin), n);
      continue;
    }
    buffer.resize(n);
    if (n != 0 && !memory.copy_in(address, buffer.data(), n)) n = 0;
    d.bytes(buffer.data(), n);
  }
  return d.h;
}

}  // namespace nuv
