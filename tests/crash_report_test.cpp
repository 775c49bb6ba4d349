// Crash reports name the instruction that faulted, although the engine knows EIP only at the
// start of each block it translated: first inside the emulator, on blocks where another
// instruction would make the same access; then from the outside, on one crash built as users
// build it (three optimisation levels, with and without -g, C and C++), against the address a
// run that keeps EIP exact by hooking every instruction reports.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "tests/harness/guest.h"
#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

TEST(FaultSite, TheFaultingInstructionOfTheBlockIsNamed) {
  Guest g("prog_fault_sites");
  const uint32_t valid = g.alloc(16);
  const uint32_t null_link = g.alloc(4);  // a list whose first link points nowhere
  struct Case {
    std::string what;
    std::string function;
    std::vector<uint32_t> args;
    std::string here;
    std::string access;
  };
  const Case cases[] = {
      {"a store after a prologue", "after_prologue", {0}, "after_prologue_here", "write"},
      {"a null list", "chase", {0}, "chase_first_here", "read"},
      {"a list whose first link is null", "chase", {null_link}, "chase_second_here", "read"},
      {"the first of two equal reads", "reload", {0, valid}, "reload_here", "read"},
      {"the first of two equal stores", "store_twice", {0}, "store_twice_here", "write"},
      {"a store after a counter went up",
       "count_then_store",
       {0},
       "count_then_store_here",
       "write"},
      {"a store into read-only data", "write_constant", {}, "write_constant_here", "write"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    g.set_u32(g.sym("g_counter"), 0);
    RunResult r = g.process().call(g.sym(c.function), c.args);
    ASSERT_EQ(r.end, RunResult::End::Fault) << r.message;
    EXPECT_EQ(r.eip, g.sym(c.here)) << r.message;
    EXPECT_EQ(r.access, c.access);
    char at[32];
    std::snprintf(at, sizeof at, " at eip 0x%08x", g.sym(c.here));
    EXPECT_TRUE(r.message.ends_with(at)) << r.message;
  }
  // What the block did before the fault stays done once, whatever the search replayed.
  EXPECT_EQ(g.u32(g.sym("g_counter")), 1u);
  // The code runs on as before the search: without its hooks, which would stop it.
  g.call("after_prologue", {valid});
  EXPECT_EQ(g.u32(valid), 5u);
}

struct Frame {
  uint32_t pc = 0;
  std::string function;
  int line = 0;
};

// The backtrace of a crash report, frame by frame.
std::vector<Frame> backtrace(const std::string& report) {
  std::vector<Frame> frames;
  std::regex frame_line(R"(#\d+ 0x([0-9a-f]{8}) in (.+?)(?: at \S+:(\d+))?\n)");
  for (std::sregex_iterator it(report.begin(), report.end(), frame_line), end; it != end; ++it) {
    const std::smatch& m = *it;
    frames.push_back({static_cast<uint32_t>(std::stoul(m[1], nullptr, 16)), m[2],
                      m[3].matched ? std::stoi(m[3]) : 0});
  }
  return frames;
}

TEST(CrashReport, NamesTheFaultingInstructionAndEachCallerAtEveryOptimisation) {
  const std::string source_dir = std::string(NUV_SOURCE_DIR) + "/tests/guest/";
  struct Case {
    std::string program;
    bool debug_info;
  };
  const Case cases[] = {
      {"crash_chain_c_O0", true},
      {"crash_chain_c_O2", true},
      {"crash_chain_c_Os", true},
      {"crash_chain_c_O2_nodebug", false},
      {"crash_chain_cxx_O0", true},
      {"crash_chain_cxx_O2", true},
      {"crash_chain_cxx_Os_nodebug", false},
  };
  ScratchDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    const bool cxx = c.program.find("cxx") != std::string::npos;
    const std::string source = source_dir + (cxx ? "crash_chain_cxx.cpp" : "crash_chain.c");
    const std::string program = guest_program(c.program);
    const std::string trace = (dir.path / (c.program + ".jsonl")).string();
    Outcome o = shell(quoted(runner_path()) + " --trace " + quoted(trace) + " " + quoted(program) +
                      " crash");
    // A hook on every instruction (the instruction limit counts with one) keeps the engine's
    // EIP exact: the reference.
    Outcome exact = shell(quoted(runner_path()) + " --instruction-limit 100000000 " +
                          quoted(program) + " crash");
    ASSERT_EQ(o.status, 139) << o.err;
    ASSERT_EQ(exact.status, 139) << exact.err;
    std::vector<Frame> frames = backtrace(o.err), reference = backtrace(exact.err);
    ASSERT_EQ(frames.size(), 3u) << o.err;
    ASSERT_FALSE(reference.empty()) << exact.err;
    EXPECT_EQ(frames[0].pc, reference[0].pc) << o.err << exact.err;
    EXPECT_EQ(o.err.substr(0, o.err.find('\n')), exact.err.substr(0, exact.err.find('\n')));
    const std::vector<std::string> names =
        cxx ? std::vector<std::string>{"shop::store(int*, int, shop::Counter&)",
                                       "shop::visit(int*, int)", "main"}
            : std::vector<std::string>{"store", "visit", "main"};
    const char* markers[] = {"store", "call store", "call visit"};
    for (size_t i = 0; i < 3; ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(frames[i].function, names[i]);
      EXPECT_EQ(frames[i].line,
                c.debug_info ? marked_line(source, std::string("marker: ") + markers[i]) : 0);
    }
    // The trace's closing record says the same.
    std::istringstream lines(slurp(trace));
    std::string line, last;
    while (std::getline(lines, line)) last = line;
    nlohmann::json crash = nlohmann::json::parse(last)["crash"];
    ASSERT_EQ(crash["backtrace"].size(), 3u) << last;
    EXPECT_EQ(crash["backtrace"][0]["pc"], frames[0].pc);
    EXPECT_EQ(crash["registers"]["eip"], frames[0].pc);
    EXPECT_EQ(crash["backtrace"][2]["function"], "main");
  }
}

}  // namespace
}  // namespace nuv::test
