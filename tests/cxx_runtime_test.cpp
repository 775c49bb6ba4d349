// The C++ a program expects: constructors before main, and the allocation operators on the
// runtime's heap, ending the program plainly when the heap is spent.
#include <gtest/gtest.h>

#include "tests/harness/guest.h"

namespace nuv::test {
namespace {

TEST(Constructors, RunBeforeMainByPriorityThenInLinkOrderOnAnAlignedStack) {
  Guest g("prog_constructors");
  RunResult r = g.run({"prog_constructors"});
  ASSERT_EQ(r.end, RunResult::End::Exited) << r.message;
  EXPECT_EQ(r.status, 0);
  // Priorities 101, 150 (init_priority), 200, then the file's globals in definition order;
  // each constructor is entered as a compiler expects, 4 bytes past a 16-byte boundary.
  EXPECT_EQ(g.console(), "c101 i150 c200 first five last main five=5 esp=12\n");
}

TEST(CxxAllocation, ObjectsAndArraysComeFromTheHeapAndAStarvedNewEndsTheProgram) {
  struct Case {
    const char* arg;
    std::string console;
    int32_t status;
  } cases[] = {
      {"", "live 6 sum 42\nlive 1 wide aligned 1 placed 1\n", 0},
      {"exhaust", "got 1\nout of memory: operator new could not get 2097152 bytes\n", 1},
      {"nothrow", "nothrow null\n", 0},
      // The vtable names __cxa_pure_virtual weakly; the program links it all the same.
      {"pure", "pure virtual method called\n", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arg);
    Guest g("prog_new");
    RunResult r = g.run({"prog_new", c.arg});
    ASSERT_EQ(r.end, RunResult::End::Exited) << r.message;
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(g.console(), c.console);
  }
}

TEST(CxxAllocation, EveryOperatorFormTakesFromTheSameArena) {
  struct Case {
    const char* symbol;  // mangled for i386: size_t is unsigned int
    std::initializer_list<uint32_t> slots;
    uint32_t align;  // the block's required alignment; 0: a null answer
  } cases[] = {
      {"_Znwj", {24}, 4},
      {"_Znaj", {0}, 4},
      {"_ZnwjSt11align_val_t", {24, 8}, 8},
      {"_ZnwjSt11align_val_t", {24, 64}, 64},
      {"_ZnajSt11align_val_t", {100, 4096}, 4096},
      {"_ZnwjSt11align_val_t", {24, 4}, 4},
      {"_ZnwjRKSt9nothrow_t", {16, 0}, 4},
      {"_ZnajRKSt9nothrow_t", {0x200000, 0}, 0},
      {"_ZnwjRKSt9nothrow_t", {0xFFFFFFFF, 0}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.symbol + testing::PrintToString(std::vector<uint32_t>(c.slots)));
    Guest g;
    uint32_t used = g.u32(g.sym("g_heap_used"));
    uint32_t block = g.call(c.symbol, c.slots);
    EXPECT_FALSE(g.exited());
    if (c.align == 0) {
      EXPECT_EQ(block, 0u);
      continue;
    }
    uint32_t heap = g.sym("g_heap");
    EXPECT_EQ(block % c.align, 0u) << std::hex << block;
    EXPECT_GE(block, heap + used);
    EXPECT_LE(block + *c.slots.begin(), heap + g.u32(g.sym("g_heap_used")));
  }
}

TEST(CxxAllocation, DeleteKeepsTheMemoryAndAHugeRequestEndsTheProgram) {
  for (const char* del : {"_ZdlPv", "_ZdaPv", "_ZdlPvj", "_ZdaPvj", "_ZdlPvSt11align_val_t",
                          "_ZdaPvSt11align_val_t", "_ZdaPvjSt11align_val_t"}) {
    SCOPED_TRACE(del);
    Guest g;
    uint32_t block = g.call("_Znwj", {32});
    uint32_t used = g.u32(g.sym("g_heap_used"));
    g.call(del, {block, 32, 16});
    EXPECT_EQ(g.u32(g.sym("g_heap_used")), used);
    EXPECT_NE(g.call("_Znwj", {32}), block) << "a new block, never the deleted one";
  }
  // The aligned form's padding must not wrap a huge size into a small request.
  Guest g;
  RunResult r = g.call_result("_ZnwjSt11align_val_t", {0xFFFFFFF0, 64});
  ASSERT_EQ(r.end, RunResult::End::Exited) << r.message;
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(g.console(), "out of memory: operator new could not get 4294967280 bytes\n");
}

TEST(CxxSupport, StaticDestructorsAreKeptNowhereAndAPureVirtualCallEndsTheProgram) {
  Guest g;
  EXPECT_EQ(g.call("__cxa_atexit", {g.sym("main"), 0, g.sym("__dso_handle")}), 0u);
  EXPECT_TRUE(g.kernel().calls().empty());
  RunResult r = g.call_result("__cxa_pure_virtual");
  ASSERT_EQ(r.end, RunResult::End::Exited) << r.message;
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(g.console(), "pure virtual method called\n");
}

}  // namespace
}  // namespace nuv::test
