// The program's own debugging information read back: symbols, source lines, the line table
// and a walk through the callers of a faulting program.
#include "host/debug/debug_info.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "host/debug/cpu_state.h"
#include "tests/harness/guest.h"
#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

const std::string kSource = std::string(NUV_SOURCE_DIR) + "/tests/guest/prog_debuggee.cpp";

// The source line that carries "marker: what".
int marker_line(const std::string& what) { return marked_line(kSource, "marker: " + what); }

class DebugInfoTest : public ::testing::Test {
 protected:
  std::unique_ptr<DebugInfo> info = DebugInfo::open(guest_program("prog_debuggee"));
};

TEST_F(DebugInfoTest, FunctionsAreFoundByAnyAddressInside) {
  for (const char* name : {"main", "inner", "outer", "_start", "strcmp", "write"}) {
    SCOPED_TRACE(name);
    const Function* f = info->function_named(name);
    ASSERT_NE(f, nullptr);
    EXPECT_LT(f->low, f->high);
    for (uint32_t at : {f->low, (f->low + f->high) / 2, f->high - 1}) {
      EXPECT_EQ(info->function_at(at), f) << at;
    }
    EXPECT_NE(info->function_at(f->high), f);
  }
  EXPECT_EQ(info->function_at(0), nullptr);
  EXPECT_EQ(info->function_at(0xFFFFFFFF), nullptr);
  EXPECT_EQ(info->function_named("no_such_function"), nullptr);
  EXPECT_FALSE(info->line_at(0).has_value());
}

TEST_F(DebugInfoTest, FaultingProgramUnwindsThroughItsCallers) {
  Process process(guest_program("prog_debuggee"), KernelConfig{});
  // A hook on every instruction keeps EIP exact at the fault, whatever the engine's blocks.
  process.set_instruction_counting(true);
  RunResult r = process.run({"prog_debuggee", "fault"});
  ASSERT_EQ(r.end, RunResult::End::Fault) << r.message;
  Registers regs = read_unwind_registers(process.engine());
  auto frames = info->unwind(
      regs, [&](uint32_t at, uint32_t& v) { return process.memory().copy_in(at, &v, 4); });
  struct Case {
    std::string function;
    std::string marker;
  };
  const Case expected[] = {{"inner", "store"}, {"outer", "call inner"}, {"main", "call outer"}};
  ASSERT_GE(frames.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(expected[i].function);
    EXPECT_EQ(frames[i].function, info->function_named(expected[i].function));
    EXPECT_EQ(frames[i].line, (SourceLine{kSource, marker_line(expected[i].marker)}));
  }
  EXPECT_EQ(frames[0].pc, r.eip);
}

TEST_F(DebugInfoTest, WithoutCallFrameInformationTheFramePointerChainIsFollowed) {
  // A hand-made stack: ebp -> [saved ebp, return address into outer], and a pc far from any
  // CFI (inside no function) so only the frame pointers can be followed.
  const Function* outer = info->function_named("outer");
  const Function* main_fn = info->function_named("main");
  ASSERT_NE(outer, nullptr);
  ASSERT_NE(main_fn, nullptr);
  std::map<uint32_t, uint32_t> stack = {
      {0x1000, 0x1100}, {0x1004, outer->low + 1}, {0x1100, 0}, {0x1104, main_fn->low + 1}};
  Registers regs{};
  regs[kEip] = 0x10;  // nothing there
  regs[kEsp] = 0xFF0;
  regs[kEbp] = 0x1000;
  auto frames = info->unwind(regs, [&](uint32_t at, uint32_t& v) {
    auto it = stack.find(at);
    if (it == stack.end()) return false;
    v = it->second;
    return true;
  });
  ASSERT_GE(frames.size(), 2u);
  EXPECT_EQ(frames[0].function, nullptr);
  EXPECT_EQ(frames[1].function, outer);
}

TEST(DebugInfoOpen, RefusesWhatIsNotAnElfFile) {
  std::string text = ::testing::TempDir() + "/not-elf.txt";
  std::ofstream(text) << "just text\n";
  for (const std::string& path : {std::string("/no/such/file"), text, std::string("/")}) {
    SCOPED_TRACE(path);
    EXPECT_THROW(DebugInfo::open(path), DebugInfoError);
  }
}

TEST(DebugInfoOpen, ProgramWithoutDwarfStillHasSymbols) {
  std::string stripped = ::testing::TempDir() + "/prog_debuggee-nodebug";
  std::string cmd =
      "objcopy --strip-debug '" + guest_program("prog_debuggee") + "' '" + stripped + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  auto info = DebugInfo::open(stripped);
  const Function* f = info->function_named("outer");
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(info->lines().empty());
  EXPECT_FALSE(info->line_at(f->low).has_value());
  std::remove(stripped.c_str());
}

}  // namespace
}  // namespace nuv::test
