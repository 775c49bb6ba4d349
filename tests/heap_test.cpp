// The bump heap on the real i386 code: block layout, exhaustion at the arena's exact end,
// and what its failure does to the string and stream functions built on it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "tests/harness/guest.h"

namespace {

using namespace std::literals;
using nuv::test::Guest;

constexpr uint32_t kArena = 0x100000, kEnomem = 12;

// An argument: text placed in guest memory with a terminator, or a plain number.
struct Arg {
  Arg() = default;
  Arg(const char* t) : text(t) {}
  Arg(int v) : value(static_cast<uint32_t>(v)) {}
  Arg(uint32_t v) : value(v) {}
  std::string_view text;
  uint32_t value = 0;
};

uint32_t used(Guest& g) { return g.u32(g.sym("g_heap_used")); }
uint32_t err(Guest& g) { return g.u32(g.sym("errno")); }
// Leaves exactly `remaining` bytes of the arena free.
void leave(Guest& g, uint32_t remaining) { g.set_u32(g.sym("g_heap_used"), kArena - remaining); }

// The first block of a fresh arena starts 4 bytes past its 8-byte aligned start; the next
// one, even for a zero-sized request, right after.
TEST(Heap, BlocksTakeTheirSizePlusHeaderRoundedToEight) {
  struct Case {
    const char* fn;
    uint32_t a, b;  // size, count and size for calloc, or null and size for realloc
    uint32_t recorded, taken;
  } cases[] = {{"malloc", 0, 0, 1, 8},    {"malloc", 4, 0, 4, 8},   {"malloc", 5, 0, 5, 16},
               {"malloc", 13, 0, 13, 24}, {"calloc", 0, 100, 1, 8}, {"calloc", 100, 0, 1, 8},
               {"realloc", 0, 16, 16, 24}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fn + " "s + std::to_string(c.a) + " " + std::to_string(c.b));
    Guest g;
    ASSERT_EQ(g.sym("g_heap") % 8, 0u);
    uint32_t p = c.fn == "malloc"sv ? g.call(c.fn, {c.a}) : g.call(c.fn, {c.a, c.b});
    EXPECT_EQ(p, g.sym("g_heap") + 4);
    EXPECT_EQ(g.u32(p - 4), c.recorded);
    EXPECT_EQ(used(g), c.taken);
    EXPECT_EQ(g.call("malloc", {0}), p + c.taken);
  }
}

// Each case leaves `remaining` bytes free and makes one call. A failure stores 12 in errno and
// changes nothing else: no arena taken, no header written, no argument touched, no kernel call.
// A stream record takes 48 bytes, the path "/out1234.txt" 24.
TEST(HeapExhaustion, IsExactAtTheArenaEndAndChangesNothing) {
  struct Case {
    const char* fn;
    uint32_t remaining;
    bool fits;
    Arg a, b;
  } cases[] = {
      // clang-format off
      {"malloc", kArena, true, kArena - 4}, {"malloc", kArena, false, kArena - 3},
      {"malloc", 8, true, 0}, {"malloc", 0, false, 0}, {"malloc", kArena, false, 0xFFFFFFF8},
      {"malloc", kArena, false, 0xFFFFFFFC}, {"malloc", 8, false, 0xFFFFFFFD},
      {"calloc", kArena, false, 1, 0xFFFFFFF8}, {"calloc", kArena, false, 65536, 65536},
      {"calloc", kArena, false, 0x10000, 0x10}, {"calloc", kArena, true, 0x3FFFF, 4},
      {"strdup", 8, true, "abc"}, {"strdup", 8, false, "abcd"}, {"strdup", 0, false, ""},
      {"strndup", 8, true, "abcdef", 3}, {"strndup", 8, false, "abcdef", 4},
      {"strndup", 0, false, "abc", 0}, {"open_memstream", 40, false, "\1\2\3\4", "\5"},
      {"open_memstream", 48, true, "\1\2\3\4", "\5"}, {"fopen", 40, false, "/out1234.txt", "w"},
      {"fopen", 64, false, "/out1234.txt", "w"}, {"fopen", 72, true, "/out1234.txt", "w"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fn + " with "s + std::to_string(c.remaining) + " free");
    Guest g;
    uint32_t a = c.a.text.data() ? g.str(c.a.text) : c.a.value;
    uint32_t b = c.b.text.data() ? g.str(c.b.text) : c.b.value;
    leave(g, c.remaining);
    g.kernel().clear_calls();
    EXPECT_EQ(g.call(c.fn, {a, b}) != 0, c.fits);
    EXPECT_EQ(err(g), c.fits ? 0u : kEnomem);
    EXPECT_TRUE(g.kernel().calls().empty());
    // fopen's record, made before its path copy fails, stays taken: free gives nothing back.
    uint32_t left = c.fits ? 0 : c.remaining - (c.fn == "fopen"sv && c.remaining >= 48 ? 48 : 0);
    EXPECT_EQ(used(g), kArena - left);
    if (c.fits) continue;
    EXPECT_EQ(left ? g.u32(g.sym("g_heap") + kArena - left) : 0, 0u);
    EXPECT_EQ(c.a.text.data() ? g.read_str(a) : "", c.a.text);
    EXPECT_EQ(c.b.text.data() ? g.read_str(b) : "", c.b.text);
  }
}

TEST(HeapExhaustion, FopenForReadingClosesItsDescriptorWhenNoRecordFits) {
  Guest g;
  std::ofstream(g.root() / "data.txt") << "x";
  uint32_t path = g.str("/data.txt"), mode = g.str("r");
  leave(g, 40);
  EXPECT_EQ(g.call("fopen", {path, mode}), 0u);
  const auto& calls = g.kernel().calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].number, uint32_t{SVC_open});
  ASSERT_GE(calls[0].result, 3);
  EXPECT_EQ(calls[1].number, uint32_t{SVC_close});
  EXPECT_EQ(calls[1].slots[0], static_cast<uint32_t>(calls[0].result));
}

// A buffer that can't grow leaves the stream and the caller's view exactly as they were, and
// later appends that fit still work.
TEST(HeapExhaustion, StreamBufferGrowthFailsWithTheStreamUnchanged) {
  Guest g;
  uint32_t vars = g.alloc(8);
  uint32_t s = g.call("open_memstream", {vars, vars + 4});
  ASSERT_EQ(g.call("fwrite", {g.str(std::string(200, 'a')), 1, 200, s}), 200u);
  auto record = g.read(s, 44);
  uint32_t data = g.u32(vars), more = g.str(std::string(100, 'b'));
  leave(g, 512);  // a 512-byte buffer needs a 520-byte block
  EXPECT_EQ(g.call("fwrite", {more, 1, 100, s}), 0u);
  EXPECT_EQ(g.calli("fputs", {more, s}), -1);
  EXPECT_EQ(err(g), kEnomem);
  EXPECT_EQ(g.read(s, 44), record);
  EXPECT_EQ(g.read(vars, 8), g.read(s + 12, 8));  // the data pointer and length, unchanged
  EXPECT_EQ(g.read_str(data), std::string(200, 'a'));
  // Still within the 256-byte capacity: no growth needed.
  EXPECT_EQ(g.calli("fputs", {g.str(std::string(55, 'c')), s}), 55);
  EXPECT_EQ(g.calli("fputc", {'d', s}), -1);
  EXPECT_EQ(g.u32(vars + 4), 255u);
}

TEST(Heap, CallocClearsEvenBytesThatWereDirty) {
  Guest g;
  std::vector<uint8_t> junk(64, 0xEE);
  g.write(g.sym("g_heap"), junk.data(), 64);
  uint32_t p = g.call("calloc", {6, 8});
  ASSERT_EQ(p, g.sym("g_heap") + 4);
  EXPECT_EQ(g.u32(p - 4), 48u);
  EXPECT_EQ(g.read(p, 48), std::vector<uint8_t>(48, 0));
  EXPECT_EQ(g.read(p + 48, 4), std::vector<uint8_t>(4, 0xEE));  // the filler is not cleared
}

// realloc never resizes in place; a failed one leaves the old block valid. free never hands a
// block out again, and after a failure requests that fit still succeed (errno stays).
TEST(Heap, ReallocAlwaysMovesAndKeepsTheCommonPrefix) {
  for (uint32_t size : {4u, 10u, 100u, 0u}) {
    SCOPED_TRACE(size);
    Guest g;
    uint32_t p = g.call("malloc", {10});
    g.write(p, "0123456789", 10);
    uint32_t q = g.call("realloc", {p, size}), n = std::max(size, 1u);
    EXPECT_EQ(q, p + 16);
    EXPECT_EQ(g.u32(q - 4), n);
    EXPECT_EQ(g.read_bytes(q, n), ("0123456789"s + std::string(90, '\0')).substr(0, n));
    EXPECT_EQ(g.read_bytes(p - 4, 14), "\12\0\0\0"s + "0123456789");
  }
  Guest g;
  uint32_t p = g.call("malloc", {3});
  g.write(p, "abc", 3);
  g.call("free", {p});
  g.call("free", {0});
  EXPECT_EQ(g.call("malloc", {3}), p + 8);
  leave(g, 8);
  EXPECT_EQ(g.call("realloc", {p, 8}), 0u);
  EXPECT_EQ(err(g), kEnomem);
  EXPECT_EQ(g.read_bytes(p - 4, 7), "\3\0\0\0abc"s);
  EXPECT_NE(g.call("malloc", {4}), 0u);
  EXPECT_EQ(used(g), kArena);
  EXPECT_EQ(err(g), kEnomem);
}

}  // namespace
