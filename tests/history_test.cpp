// The history the debugger goes back in, driven as gdb drives it (breakpoints, bc, bs) through
// the process target: wherever it goes back to, registers and memory are as they were the
// first time the program was there, however few snapshots the memory bound left; and the
// program's calls, run again, reach the console once.
#include "host/timetravel/history.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "host/debug/cpu_state.h"
#include "host/debug/process_target.h"
#include "tests/harness/guest.h"

namespace nuv::test {
namespace {

struct State {
  std::array<uint32_t, 10> registers{};  // eax..eip, eflags
  int32_t total = 0;
  bool operator==(const State&) const = default;
};

State state_of(ProcessTarget& t, uint32_t total_at) {
  State s;
  for (size_t i = 0; i < s.registers.size(); ++i) {
    uint8_t bytes[16] = {};
    t.read_register(i, bytes);
    std::memcpy(&s.registers[i], bytes, 4);
  }
  t.read_memory(total_at, reinterpret_cast<uint8_t*>(&s.total), 4);
  return s;
}

TEST(History, GoingBackGivesTheStateOfThenWhateverSnapshotsAreLeft) {
  struct Case {
    const char* what;
    uint64_t bound;
    uint64_t interval;
    size_t snapshots;  // left at the end
  } cases[] = {
      {"only the snapshot at the start", uint64_t{512} << 20, 1'000'000'000, 1},
      {"a snapshot every 50 instructions", uint64_t{512} << 20, 50, 3},
      // The first snapshot alone (every page) is over the bound: each one taken thins them.
      {"a bound that thins them again and again", 400'000, 20, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string console;
    KernelConfig config;
    config.console_out = [&console](std::string_view bytes) {
      console += bytes;
      return 0;
    };
    Process p(guest_program("prog_rewind"), config);
    ASSERT_TRUE(p.prepare({"prog_rewind"}));
    ProcessTarget t(p, [](const RunStop&) { return 0; });
    History h(p, nullptr, c.bound, c.interval);
    p.kernel().set_journal(&h);
    t.arm_history(&h);
    uint32_t add = *p.image().symbol("_Z3addi");
    uint32_t total = *p.image().symbol("g_total");
    ASSERT_TRUE(t.insert_point(0, add, 1));
    std::vector<std::pair<uint64_t, State>> seen;
    for (int i = 0; i < 5; ++i) {
      GdbStop stop = t.resume(false);
      ASSERT_EQ(stop.kind, GdbStop::Kind::Signal);
      seen.emplace_back(h.position(), state_of(t, total));
    }
    EXPECT_EQ(seen.back().second.total, 10);
    for (int i = 3; i >= 0; --i) {
      GdbStop stop = t.reverse(false);
      EXPECT_EQ(stop.replaylog, nullptr);
      EXPECT_EQ(h.position(), seen[i].first);
      EXPECT_EQ(state_of(t, total), seen[i].second) << "going back to the call " << i;
    }
    // One instruction back and forth again.
    t.reverse(true);
    EXPECT_EQ(h.position(), seen[0].first - 1);
    t.remove_point(0, add, 1);
    t.resume(true);
    EXPECT_EQ(state_of(t, total), seen[0].second);
    GdbStop begin = t.reverse(false);
    EXPECT_STREQ(begin.replaylog, "begin");
    EXPECT_EQ(h.position(), 0u);
    EXPECT_EQ(t.reverse(true).replaylog, std::string("begin"));
    EXPECT_EQ(h.snapshots(), c.snapshots);
    GdbStop end = t.resume(false);
    EXPECT_EQ(end.kind, GdbStop::Kind::Exited);
    EXPECT_EQ(end.status, 1);
    EXPECT_EQ(console, ".....\nbalance 1701736266, total 15\n");
  }
}

}  // namespace
}  // namespace nuv::test
