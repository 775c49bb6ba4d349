// Process start-up and exit: what _start hands to main, and every way a program ends.
#include <gtest/gtest.h>

#include "tests/harness/guest.h"

namespace nuv::test {
namespace {

TEST(Startup, MainStartsOnA16ByteBoundaryWhateverTheKernelsAlignment) {
  for (uint32_t offset : {0u, 4u, 8u, 12u}) {
    SCOPED_TRACE(offset);
    Guest g("prog_entry_probe");
    RunResult r = g.run({"probe", "a", "b"}, offset);
    ASSERT_EQ(r.end, RunResult::End::Exited) << r.message;
    // The vector sits just above argc, where the kernel left the stack pointer.
    uint32_t vector_at = (offset + 4) % 16;
    EXPECT_EQ(r.status, 3 * 16 + (vector_at / 4) * 64)
        << "argc 3, main on a 16-byte boundary, the kernel's stack " << offset << " past one";
  }
}

TEST(Startup, ArgumentsReachMainInOrder) {
  Guest g("prog_exit_code");
  RunResult r = g.run({"prog", "7", "two words", ""});
  ASSERT_EQ(r.end, RunResult::End::Exited) << r.message;
  EXPECT_EQ(r.status, 7);
  EXPECT_EQ(g.console(), "prog\n7\ntwo words\n\n");
}

TEST(Startup, EveryWayOutEndsWithItsStatusAndRunsNoHandler) {
  struct Case {
    const char* how;
    int32_t status;
  } cases[] = {{"return", 3}, {"minus", -1}, {"exit", 4}, {"abort", 1}, {"_exit", 6}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.how);
    Guest g("prog_exit_paths");
    RunResult r = g.run({"prog_exit_paths", c.how});
    ASSERT_EQ(r.end, RunResult::End::Exited) << r.message;
    EXPECT_EQ(r.status, c.status);
    // Output written before the end is all there; the atexit handler never ran.
    EXPECT_EQ(g.console(), "before\n");
    ASSERT_FALSE(g.kernel().calls().empty());
    EXPECT_EQ(g.kernel().calls().back().number, static_cast<uint32_t>(SVC_exit));
  }
}

// The stack a program asks for at link time (-z stack-size, PT_GNU_STACK) is the one it gets,
// up to the runner's limit; one that asks for none gets 1 MiB, and an array past it faults.
TEST(Startup, TheStackIsTheSizeTheProgramAskedForAtLinkTime) {
  struct Case {
    const char* program;
    RunResult::End end;
    std::string console;
  } cases[] = {
      {"prog_deep_stack", RunResult::End::Exited, "deep 2\n"},
      {"prog_deep_stack_default", RunResult::End::Fault, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    Guest g(c.program);
    RunResult r = g.run({c.program});
    EXPECT_EQ(r.end, c.end) << r.message;
    EXPECT_EQ(g.console(), c.console);
  }
  try {
    Guest g("prog_deep_stack_huge");
    ADD_FAILURE() << "a 512 MiB stack was given";
  } catch (const LoadError& e) {
    EXPECT_NE(std::string(e.what()).find("asks for a stack of 536870912 bytes, more than the "
                                         "256 MiB the runner gives"),
              std::string::npos)
        << e.what();
  }
}

TEST(Startup, AtexitKeepsNothingAndGetenvFindsNothing) {
  Guest g;
  EXPECT_EQ(g.call("atexit", {g.sym("main")}), 0u);
  for (const char* name : {"PATH", "HOME", ""}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(g.call("getenv", {g.str(name)}), 0u);
  }
  EXPECT_EQ(g.call("getenv", {0}), 0u);
  EXPECT_TRUE(g.kernel().calls().empty());
}

}  // namespace
}  // namespace nuv::test
