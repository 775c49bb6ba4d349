// The harness itself: every kind of result it reads back, and every way a call can end.
#include <gtest/gtest.h>

#include "tests/harness/guest.h"

namespace nuv::test {
namespace {

TEST(Harness, ReadsEveryKindOfResult) {
  Guest g("prog_harness_probe");
  EXPECT_EQ(g.call("probe_sum", {1, 2, 3}), 6u);
  EXPECT_EQ(g.calli("probe_count_args", {4, 1, 2, 3, 0xFFFFFFFFu}), 5);
  // Many long double results in a row: the x87 stack must not fill up between calls.
  for (int i = 0; i < 20; ++i)
    EXPECT_EQ(g.call_ld("probe_half", {static_cast<uint32_t>(i)}), i / 2.0L);
}

TEST(Harness, GuestFaultsEndTheCallWithAMessage) {
  struct Case {
    const char* function;
    std::vector<uint32_t> slots;
    const char* expected;  // part of the message
  } cases[] = {
      {"probe_store_readonly", {}, "write to read-only memory"},
      {"probe_store_to", {0x10}, "write to unmapped memory 0x00000010"},
      {"probe_load_from", {0x20000000}, "read from unmapped memory"},
      {"probe_jump_to", {0xD0000000}, "execution of non-executable memory"},
      {"probe_jump_to", {0x30000000}, "execution of unmapped memory"},
      {"probe_invalid", {}, "invalid instruction"},
      {"probe_halt", {}, "hlt instruction"},
      {"probe_divide", {1, 0}, "divide error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    Guest g("prog_harness_probe");
    std::vector<uint32_t> slots = c.slots;
    RunResult r = g.process().call(g.sym(c.function), slots);
    EXPECT_EQ(r.end, RunResult::End::Fault);
    EXPECT_NE(r.message.find(c.expected), std::string::npos) << r.message;
    EXPECT_NE(r.message.find(" at eip 0x"), std::string::npos) << r.message;
  }
}

}  // namespace
}  // namespace nuv::test
