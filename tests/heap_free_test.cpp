// The opt-in heap whose free reuses memory (prog_heap_free, linked with a 2 MiB arena): freed
// blocks come back, neighbours merge, realloc grows in place, aligned blocks are freed like any
// other, a random workload far larger than the arena keeps every byte, and a bad free stops
// the program instead of damaging the heap. The bump heap stays out of such a program.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "host/emu/elf_image.h"
#include "tests/harness/guest.h"

namespace nuv::test {
namespace {

constexpr uint32_t kArena = 2u << 20;

TEST(HeapFree, FreedBlocksAreReusedAndNeighboursMerge) {
  Guest g("prog_heap_free");
  uint32_t a = g.call("malloc", {100});
  ASSERT_NE(a, 0u);
  EXPECT_EQ(a % 8, 0u);
  g.call("free", {a});
  EXPECT_EQ(g.call("malloc", {100}), a) << "the freed block, first";
  // Three neighbours freed in any order make one block again: the whole arena is there.
  uint32_t b = g.call("malloc", {4000}), c = g.call("malloc", {4000});
  for (uint32_t p : {c, a, b}) g.call("free", {p});
  uint32_t whole = g.call("malloc", {kArena - 64});
  EXPECT_NE(whole, 0u);
  EXPECT_EQ(g.call("malloc", {64}), 0u);
  EXPECT_EQ(g.u32(g.sym("errno")), 12u);
  g.call("free", {whole});
  EXPECT_EQ(g.u32(g.sym("g_heap_used")), 0u) << "nothing in use";
  EXPECT_FALSE(ElfImage::load(guest_program("prog_heap_free")).symbol("g_heap").has_value())
      << "the bump heap's arena came along";
}

TEST(HeapFree, ReallocGrowsInPlaceAndAlignedBlocksFreeLikeAny) {
  Guest g("prog_heap_free");
  uint32_t p = g.call("malloc", {16});
  g.write(p, "0123456789abcdef", 16);
  EXPECT_EQ(g.call("realloc", {p, 4000}), p) << "the free space after it";
  EXPECT_EQ(g.read_bytes(p, 16), "0123456789abcdef");
  EXPECT_EQ(g.call("realloc", {p, 8}), p) << "shrinking stays";
  uint32_t blocker = g.call("malloc", {16});
  uint32_t moved = g.call("realloc", {p, 100000});
  EXPECT_NE(moved, p);
  EXPECT_EQ(g.read_bytes(moved, 8), "01234567");
  for (uint32_t align : {16u, 64u, 4096u}) {
    SCOPED_TRACE(align);
    uint32_t q = g.call("aligned_alloc", {align, 100});
    ASSERT_NE(q, 0u);
    EXPECT_EQ(q % align, 0u);
    uint32_t out = g.alloc(4);
    EXPECT_EQ(g.call("posix_memalign", {out, align, 24}), 0u);
    EXPECT_EQ(g.u32(out) % align, 0u);
    g.call("free", {q});
    g.call("free", {g.u32(out)});
  }
  EXPECT_EQ(g.call("aligned_alloc", {24, 8}), 0u) << "not a power of two";
  EXPECT_EQ(g.call("calloc", {65536, 65536}), 0u);
  EXPECT_EQ(g.call("malloc", {0xFFFFFFF0}), 0u);
  g.call("free", {moved});
  g.call("free", {blocker});
  EXPECT_EQ(g.u32(g.sym("g_heap_used")), 0u);
}

TEST(HeapFree, ProgramsChurnFarMoreThanTheArenaAndABadFreeStops) {
  struct Case {
    const char* mode;
    int32_t status;
    std::string console;
  } cases[] = {
      {"", 0, "new reuses: 1\n"},
      {"double", 1, "free(): invalid pointer\n"},
      {"stray", 1, "free(): invalid pointer\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    Guest g("prog_heap_free");
    RunResult r = g.run({"prog_heap_free", c.mode});
    ASSERT_EQ(r.end, RunResult::End::Exited) << r.message;
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(g.console(), c.console);
  }
  Guest g("prog_heap_free");
  RunResult r = g.run({"prog_heap_free", "churn"});
  ASSERT_EQ(r.end, RunResult::End::Exited) << r.message;
  EXPECT_EQ(r.status, 0) << g.console();
  // About 20,000 rounds of blocks averaging some 4 KiB: tens of MiB through a 2 MiB arena.
  unsigned kib = 0;
  int whole = 0;
  ASSERT_EQ(std::sscanf(g.console().c_str(), "churned %u KiB, whole arena again: %d", &kib, &whole),
            2)
      << g.console();
  EXPECT_GT(kib, 10u * 1024);
  EXPECT_EQ(whole, 1);
}

}  // namespace
}  // namespace nuv::test
