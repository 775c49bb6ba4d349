// The bump heap on the real i386 code: block layout, exhaustion at the arena's exact end,
// and what its failure does to the string and stream functions built on it.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "tests/harness/guest.h"

namespace {

using nuv::test::Guest;

constexpr uint32_t kArena = 0x100000;
constexpr uint32_t kEnomem = 12;
constexpr uint32_t kStreamRecord = 44;  // eleven 32-bit fields: a 48-byte block

uint32_t used(Guest& g) { return g.u32(g.sym("g_heap_used")); }
uint32_t err(Guest& g) { return g.u32(g.sym("errno")); }
// Leaves exactly `remaining` bytes of the arena free.
void leave(Guest& g, uint32_t remaining) { g.set_u32(g.sym("g_heap_used"), kArena - remaining); }

TEST(Heap, ArenaStartsOnAnEightByteBoundary) {
  Guest g;
  EXPECT_EQ(g.sym("g_heap") % 8, 0u);
  EXPECT_EQ(used(g), 0u);
  EXPECT_EQ(err(g), 0u);
}

TEST(Heap, BlocksTakeTheirSizePlusHeaderRoundedToEight) {
  struct Case {
    uint32_t size, recorded, taken;
  } cases[] = {
      {0, 1, 8},    {1, 1, 8},    {4, 4, 8},    {5, 5, 16},
      {12, 12, 16}, {13, 13, 24}, {20, 20, 24}, {1000, 1000, 1008},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    Guest g;
    uint32_t p = g.call("malloc", {c.size});
    EXPECT_EQ(p, g.sym("g_heap") + 4);
    EXPECT_EQ(g.u32(p - 4), c.recorded);
    EXPECT_EQ(used(g), c.taken);
    // The next block starts right after, 4 bytes past an 8-byte boundary.
    uint32_t q = g.call("malloc", {1});
    EXPECT_EQ(q, p + c.taken);
    EXPECT_EQ((q - g.sym("g_heap")) % 8, 4u);
  }
}

TEST(Heap, ZeroSizedRequestsGetDistinctBlocks) {
  Guest g;
  uint32_t a = g.call("malloc", {0});
  uint32_t b = g.call("malloc", {0});
  EXPECT_NE(a, 0u);
  EXPECT_EQ(b, a + 8);
  uint32_t c = g.call("calloc", {0, 100});
  uint32_t d = g.call("calloc", {100, 0});
  EXPECT_EQ(c, b + 8);
  EXPECT_EQ(d, c + 8);
  EXPECT_EQ(g.u32(d - 4), 1u);
}

// Each case leaves `remaining` bytes free, then asks for one block.
TEST(Heap, ExhaustionIsExactAtTheArenaEnd) {
  struct Case {
    const char* fn;
    uint32_t remaining;
    uint32_t a, b;  // size, or count and size for calloc
    bool fits;
  } cases[] = {
      {"malloc", kArena, kArena - 4, 0, true},
      {"malloc", kArena, kArena - 3, 0, false},
      {"malloc", 16, 12, 0, true},
      {"malloc", 16, 13, 0, false},
      {"malloc", 8, 0, 0, true},
      {"malloc", 0, 0, 0, false},
      {"malloc", kArena, 0xFFFFFFF8, 0, false},
      {"malloc", kArena, 0xFFFFFFFC, 0, false},
      {"malloc", kArena, 0xFFFFFFFF, 0, false},
      {"malloc", 8, 0xFFFFFFFD, 0, false},
      {"calloc", kArena, 1, 0xFFFFFFF8, false},
      {"calloc", kArena, 65536, 65536, false},
      {"calloc", kArena, 0x40000000, 4, false},
      {"calloc", kArena, 0x10000, 0x10, false},
      {"calloc", kArena, 0x3FFFF, 4, true},
      {"calloc", 8, 1, 4, true},
      {"calloc", 8, 5, 1, false},
      {"calloc", 0, 0, 5, false},
      {"realloc", kArena, 0, kArena - 4, true},
      {"realloc", 16, 0, 13, false},
      {"realloc", kArena, 0, 0xFFFFFFFF, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fn) + " " + std::to_string(c.a) + " " + std::to_string(c.b) +
                 " with " + std::to_string(c.remaining) + " free");
    Guest g;
    leave(g, c.remaining);
    uint32_t before = used(g);
    uint32_t p = g.call(c.fn, {c.a, c.b});
    if (c.fits) {
      EXPECT_NE(p, 0u);
      EXPECT_EQ(err(g), 0u);
      EXPECT_LE(used(g), kArena);
    } else {
      EXPECT_EQ(p, 0u);
      EXPECT_EQ(err(g), kEnomem);
      EXPECT_EQ(used(g), before);
      // No header was written where the block would have gone.
      if (before < kArena) {
        EXPECT_EQ(g.u32(g.sym("g_heap") + before), 0u);
      }
    }
  }
}

TEST(Heap, AFullArenaFailsAndLaterFittingRequestsStillSucceed) {
  Guest g;
  EXPECT_NE(g.call("malloc", {kArena - 4}), 0u);
  EXPECT_EQ(used(g), kArena);
  EXPECT_EQ(g.call("malloc", {0}), 0u);
  EXPECT_EQ(err(g), kEnomem);

  Guest h;
  leave(h, 24);
  EXPECT_EQ(h.call("malloc", {100}), 0u);
  EXPECT_NE(h.call("malloc", {20}), 0u);
  EXPECT_EQ(used(h), kArena);
  EXPECT_EQ(err(h), kEnomem);  // never reset by a later success
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

TEST(Heap, ReallocAlwaysMovesAndKeepsTheCommonPrefix) {
  struct Case {
    uint32_t size;
    uint32_t kept;
  } cases[] = {{4, 4}, {10, 10}, {100, 10}, {0, 1}};
  const std::string ten = "0123456789";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    Guest g;
    uint32_t p = g.call("malloc", {10});
    g.write(p, ten.data(), 10);
    uint32_t q = g.call("realloc", {p, c.size});
    ASSERT_NE(q, 0u);
    EXPECT_NE(q, p);
    EXPECT_EQ(q, p + 16);
    EXPECT_EQ(g.u32(q - 4), c.size == 0 ? 1u : c.size);
    auto got = g.read(q, c.kept);
    EXPECT_EQ(std::string(got.begin(), got.end()), ten.substr(0, c.kept));
    if (c.size > c.kept) {
      EXPECT_EQ(g.read(q + c.kept, c.size - c.kept), std::vector<uint8_t>(c.size - c.kept, 0));
    }
    auto old = g.read(p, 10);
    EXPECT_EQ(std::string(old.begin(), old.end()), ten);
    EXPECT_EQ(g.u32(p - 4), 10u);
  }
}

TEST(Heap, FailedReallocLeavesTheOldBlockValid) {
  Guest g;
  uint32_t p = g.call("malloc", {3});
  g.write(p, "abc", 3);
  leave(g, 8);
  EXPECT_EQ(g.call("realloc", {p, 8}), 0u);
  EXPECT_EQ(err(g), kEnomem);
  EXPECT_EQ(used(g), kArena - 8);
  EXPECT_EQ(g.read_str(p, 3), "abc");
  EXPECT_EQ(g.u32(p - 4), 3u);
}

TEST(Heap, ReallocOfNullIsMalloc) {
  Guest g;
  uint32_t p = g.call("realloc", {0, 16});
  EXPECT_EQ(p, g.sym("g_heap") + 4);
  EXPECT_EQ(used(g), 24u);
}

TEST(Heap, FreeNeverHandsTheBlockOutAgain) {
  Guest g;
  uint32_t p = g.call("malloc", {8});
  g.call("free", {p});
  g.call("free", {0});
  EXPECT_NE(g.call("malloc", {8}), p);
  EXPECT_EQ(used(g), 32u);
}

TEST(HeapExhaustion, StringCopiesFailWithoutTakingArena) {
  struct Case {
    const char* fn;
    const char* text;
    uint32_t n;
    uint32_t remaining;
    bool fits;
  } cases[] = {
      {"strdup", "", 0, 8, true},        {"strdup", "abc", 0, 8, true},
      {"strdup", "abcd", 0, 8, false},   {"strdup", "", 0, 0, false},
      {"strndup", "abcdef", 3, 8, true}, {"strndup", "abcdef", 4, 8, false},
      {"strndup", "abc", 0, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fn) + " " + c.text + " with " + std::to_string(c.remaining));
    Guest g;
    uint32_t s = g.str(c.text);
    leave(g, c.remaining);
    uint32_t got = std::string(c.fn) == "strdup" ? g.call(c.fn, {s}) : g.call(c.fn, {s, c.n});
    if (c.fits) {
      EXPECT_NE(got, 0u);
      EXPECT_EQ(used(g), kArena);
    } else {
      EXPECT_EQ(got, 0u);
      EXPECT_EQ(err(g), kEnomem);
      EXPECT_EQ(used(g), kArena - c.remaining);
    }
  }
}

TEST(HeapExhaustion, OpenMemstreamFailsAndLeavesTheCallersVariables) {
  Guest g;
  uint32_t vars = g.alloc(8);
  g.set_u32(vars, 0x1234);
  g.set_u32(vars + 4, 77);
  leave(g, 40);
  EXPECT_EQ(g.call("open_memstream", {vars, vars + 4}), 0u);
  EXPECT_EQ(err(g), kEnomem);
  EXPECT_EQ(g.u32(vars), 0x1234u);
  EXPECT_EQ(g.u32(vars + 4), 77u);
  leave(g, 48);
  EXPECT_NE(g.call("open_memstream", {vars, vars + 4}), 0u);
  EXPECT_EQ(g.u32(vars), 0u);
  EXPECT_EQ(g.u32(vars + 4), 0u);
}

TEST(HeapExhaustion, FopenForReadingClosesItsDescriptorWhenNoRecordFits) {
  Guest g;
  std::ofstream(g.root() / "data.txt") << "x";
  uint32_t path = g.str("/data.txt"), mode = g.str("r");
  leave(g, 40);
  g.kernel().clear_calls();
  EXPECT_EQ(g.call("fopen", {path, mode}), 0u);
  const auto& calls = g.kernel().calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].number, static_cast<uint32_t>(SVC_open));
  ASSERT_GE(calls[0].result, 3);
  EXPECT_EQ(calls[1].number, static_cast<uint32_t>(SVC_close));
  EXPECT_EQ(calls[1].slots[0], static_cast<uint32_t>(calls[0].result));
}

TEST(HeapExhaustion, FopenForWritingNeedsRoomForRecordAndPath) {
  struct Case {
    uint32_t remaining;
    bool opens;
  } cases[] = {{40, false}, {48, false}, {64, false}, {72, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.remaining);
    Guest g;
    uint32_t path = g.str("/out1234.txt");  // 13 bytes with its terminator: a 24-byte block
    uint32_t mode = g.str("w");
    leave(g, c.remaining);
    g.kernel().clear_calls();
    uint32_t s = g.call("fopen", {path, mode});
    EXPECT_EQ(s != 0, c.opens);
    if (!c.opens) {
      EXPECT_EQ(err(g), kEnomem);
    }
    EXPECT_TRUE(g.kernel().calls().empty());  // the file system is not touched
  }
}

// A buffer that can't grow leaves the stream and the caller's view exactly as they were, and
// later appends that fit still work.
TEST(HeapExhaustion, StreamBufferGrowthFailsWithTheStreamUnchanged) {
  Guest g;
  uint32_t vars = g.alloc(8);
  uint32_t s = g.call("open_memstream", {vars, vars + 4});
  ASSERT_NE(s, 0u);
  std::string first(200, 'a');
  ASSERT_EQ(g.call("fwrite", {g.str(first), 1, 200, s}), 200u);
  auto record = g.read(s, kStreamRecord);
  uint32_t data = g.u32(vars);
  leave(g, 512);  // a 512-byte buffer needs a 520-byte block
  std::string more(100, 'b');
  EXPECT_EQ(g.call("fwrite", {g.str(more), 1, 100, s}), 0u);
  EXPECT_EQ(g.calli("fputs", {g.str(more), s}), -1);
  EXPECT_EQ(err(g), kEnomem);
  EXPECT_EQ(g.read(s, kStreamRecord), record);
  EXPECT_EQ(g.u32(vars), data);
  EXPECT_EQ(g.u32(vars + 4), 200u);
  EXPECT_EQ(g.read_str(data), first);
  // Still within the 256-byte capacity: no growth needed.
  EXPECT_EQ(g.calli("fputs", {g.str(std::string(55, 'c')), s}), 55);
  EXPECT_EQ(g.u32(vars + 4), 255u);
  EXPECT_EQ(g.calli("fputc", {'d', s}), -1);
  EXPECT_EQ(g.u32(vars + 4), 255u);
}

}  // namespace
