// Every kernel-call wrapper: the service it calls, the slots it passes, its clamps and its
// refusals (a refused call reaches no kernel at all).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "host/kernel/service_table.h"
#include "tests/harness/guest.h"

namespace nuv::test {
namespace {

constexpr uint32_t kAnswer = 1234;  // what the scripted kernel answers to every call
constexpr uint32_t kBig = 0xFFFFFFFFu;
constexpr uint32_t kClamped = 0x7FFFFFFFu;
using Slot = std::optional<uint32_t>;  // nullopt: the wrapper leaves that slot undefined
constexpr Slot kAny = std::nullopt;

// Symbolic pointers, replaced by real guest addresses before the call.
constexpr uint32_t kPtrA = 0xA0A0A0A0;
constexpr uint32_t kPtrB = 0xB0B0B0B0;

struct Case {
  const char* what;
  const char* function;
  std::vector<uint32_t> args;
  int32_t result;    // the wrapper's result
  uint32_t service;  // 0: no call at all
  std::array<Slot, 3> slots;
};

class Wrappers : public ::testing::Test {
 protected:
  Wrappers() {
    for (const ServiceInfo& s : all_services()) {
      g.kernel().script(s.number, [](ServiceCall&) { return std::optional<int32_t>(kAnswer); });
    }
    a = g.str("/a");
    b = g.str("/b");
  }
  uint32_t real(uint32_t v) const { return v == kPtrA ? a : v == kPtrB ? b : v; }

  void check(const Case& c) {
    SCOPED_TRACE(c.what);
    g.kernel().clear_calls();
    std::vector<uint32_t> args;
    for (uint32_t v : c.args) args.push_back(real(v));
    RunResult r = g.process().call(g.sym(c.function), args);
    ASSERT_EQ(r.end, RunResult::End::Returned) << r.message;
    EXPECT_EQ(static_cast<int32_t>(g.process().eax()), c.result);
    const auto& calls = g.kernel().calls();
    if (c.service == 0) {
      EXPECT_TRUE(calls.empty());
      return;
    }
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].number, c.service);
    for (size_t i = 0; i < 3; ++i) {
      if (c.slots[i]) {
        EXPECT_EQ(calls[0].slots[i], real(*c.slots[i])) << "slot " << i + 1;
      }
    }
  }

  Guest g;
  uint32_t a = 0, b = 0;
};

TEST_F(Wrappers, DescriptorFileAndDirectoryServices) {
  const int32_t k = kAnswer;
  const std::vector<Case> cases = {
      {"write passes descriptor, buffer, count",
       "write",
       {7, kPtrA, 3},
       k,
       SVC_write,
       {7, kPtrA, 3}},
      {"write of 0 bytes still calls", "write", {1, kPtrA, 0}, k, SVC_write, {1, kPtrA, 0}},
      {"write clamps the count", "write", {1, kPtrA, kBig}, k, SVC_write, {1, kPtrA, kClamped}},
      {"write keeps 0x7FFFFFFF", "write", {1, kPtrA, kClamped}, k, SVC_write, {1, kPtrA, kClamped}},
      {"write refuses a null buffer", "write", {1, 0, 5}, -1, 0, {}},
      {"write does not test the descriptor",
       "write",
       {kBig, kPtrA, 1},
       k,
       SVC_write,
       {kBig, kPtrA, 1}},
      {"read passes its slots", "read", {0, kPtrA, 9}, k, SVC_read, {0, kPtrA, 9}},
      {"read clamps", "read", {0, kPtrA, 0x80000000u}, k, SVC_read, {0, kPtrA, kClamped}},
      {"read refuses a null buffer", "read", {0, 0, 9}, -1, 0, {}},
      {"close", "close", {5}, k, SVC_close, {5, kAny, kAny}},
      {"getkey", "getkey", {}, k, SVC_getkey, {kAny, kAny, kAny}},
      {"writefile", "writefile", {kPtrA, kPtrB, 4}, k, SVC_writefile, {kPtrA, kPtrB, 4}},
      {"writefile clamps",
       "writefile",
       {kPtrA, kPtrB, kBig},
       k,
       SVC_writefile,
       {kPtrA, kPtrB, kClamped}},
      {"writefile refuses a null path", "writefile", {0, kPtrB, 4}, -1, 0, {}},
      {"writefile refuses null data", "writefile", {kPtrA, 0, 4}, -1, 0, {}},
      {"mkdir", "mkdir", {kPtrA}, k, SVC_mkdir, {kPtrA, kAny, kAny}},
      {"mkdir refuses null", "mkdir", {0}, -1, 0, {}},
      {"unlink", "unlink", {kPtrA}, k, SVC_unlink, {kPtrA, kAny, kAny}},
      {"unlink refuses null", "unlink", {0}, -1, 0, {}},
      {"rmdir", "rmdir", {kPtrA}, k, SVC_rmdir, {kPtrA, kAny, kAny}},
      {"rmdir refuses null", "rmdir", {0}, -1, 0, {}},
      {"chdir", "chdir", {kPtrA}, k, SVC_chdir, {kPtrA, kAny, kAny}},
      {"chdir refuses null", "chdir", {0}, -1, 0, {}},
      {"mkfifo", "mkfifo", {kPtrA}, k, SVC_mkfifo, {kPtrA, kAny, kAny}},
      {"mkfifo refuses null", "mkfifo", {0}, -1, 0, {}},
      {"getcwd passes 0 in the third slot", "getcwd", {kPtrA, 64}, k, SVC_getcwd, {kPtrA, 64, 0}},
      {"getcwd clamps the size",
       "getcwd",
       {kPtrA, 0x80000000u},
       k,
       SVC_getcwd,
       {kPtrA, kClamped, 0}},
      {"getcwd refuses a null buffer", "getcwd", {0, 64}, -1, 0, {}},
      {"getcwd refuses size 0", "getcwd", {kPtrA, 0}, -1, 0, {}},
      {"lseek passes offset and origin", "lseek", {3, kBig, 2}, k, SVC_lseek, {3, kBig, 2}},
      {"pipe", "pipe", {kPtrA}, k, SVC_pipe, {kPtrA, kAny, kAny}},
      {"pipe refuses null", "pipe", {0}, -1, 0, {}},
      {"dup", "dup", {4}, k, SVC_dup, {4, kAny, kAny}},
      {"dup2 passes 0 in the third slot", "dup2", {4, 1}, k, SVC_dup2, {4, 1, 0}},
  };
  for (const auto& c : cases) check(c);
}

TEST_F(Wrappers, OpenAndCreat) {
  const int32_t k = kAnswer;
  const std::vector<Case> cases = {
      {"open read-only passes 0 twice", "open", {kPtrA, 0}, k, SVC_open, {kPtrA, 0, 0}},
      {"open with create repeats the flags",
       "open",
       {kPtrA, 0x40},
       k,
       SVC_open,
       {kPtrA, 0x40, 0x40}},
      {"open 0x241 passes it twice",
       "open",
       {kPtrA, 0x241, 0755},
       k,
       SVC_open,
       {kPtrA, 0x241, 0x241}},
      {"open without create ignores the third argument",
       "open",
       {kPtrA, 0x201, 0755},
       k,
       SVC_open,
       {kPtrA, 0x201, 0}},
      {"open refuses null", "open", {0, 0}, -1, 0, {}},
      {"creat passes 0x241 and 0", "creat", {kPtrA, 0777}, k, SVC_open, {kPtrA, 0x241, 0}},
      {"creat ignores any mode", "creat", {kPtrA, kBig}, k, SVC_open, {kPtrA, 0x241, 0}},
      {"creat refuses null", "creat", {0, 0}, -1, 0, {}},
  };
  for (const auto& c : cases) check(c);
}

TEST_F(Wrappers, ProcessSettingsAndStreams) {
  const int32_t k = kAnswer;
  const std::vector<Case> cases = {
      {"fd_set_inherit reduces -7 to 1",
       "fd_set_inherit",
       {static_cast<uint32_t>(-7)},
       k,
       SVC_fd_set_inherit,
       {1, kAny, kAny}},
      {"fd_set_inherit keeps 0", "fd_set_inherit", {0}, k, SVC_fd_set_inherit, {0, kAny, kAny}},
      {"fd_set_stdio passes three values",
       "fd_set_stdio",
       {kBig, 5, 9},
       k,
       SVC_fd_set_stdio,
       {kBig, 5, 9}},
      {"fd_set_nonblock(3, 5)", "fd_set_nonblock", {3, 5}, k, SVC_fd_set_nonblock, {3, 1, 0}},
      {"spawn", "spawn", {kPtrA, 7, 2}, k, SVC_spawn, {kPtrA, 7, 2}},
      {"spawn with count 0 still calls", "spawn", {kPtrA, 7, 0}, k, SVC_spawn, {kPtrA, 7, 0}},
      {"spawn refuses a negative count", "spawn", {kPtrA, 7, kBig}, -1, 0, {}},
      {"spawn refuses null", "spawn", {0, 7, 1}, -1, 0, {}},
      {"waitpid passes everything", "waitpid", {kBig, 0, 3}, k, SVC_waitpid, {kBig, 0, 3}},
      {"stream_begin",
       "nuvrelfs_stream_begin",
       {kPtrA},
       k,
       SVC_nuvrelfs_stream_begin,
       {kPtrA, kAny, kAny}},
      {"stream_begin refuses null", "nuvrelfs_stream_begin", {0}, -1, 0, {}},
      {"stream_write does not test the stream",
       "nuvrelfs_stream_write",
       {kBig, kPtrA, 10},
       k,
       SVC_nuvrelfs_stream_write,
       {kBig, kPtrA, 10}},
      {"stream_write clamps",
       "nuvrelfs_stream_write",
       {1, kPtrA, kBig},
       k,
       SVC_nuvrelfs_stream_write,
       {1, kPtrA, kClamped}},
      {"stream_write refuses null data", "nuvrelfs_stream_write", {1, 0, 10}, -1, 0, {}},
      {"stream_end", "nuvrelfs_stream_end", {6}, k, SVC_nuvrelfs_stream_end, {6, kAny, kAny}},
  };
  for (const auto& c : cases) check(c);
}

TEST_F(Wrappers, GuiAndSleep) {
  const int32_t k = kAnswer;
  const std::vector<Case> cases = {
      {"gui_create", "gui_create", {kPtrA, kPtrB}, k, SVC_gui_create, {kPtrA, kPtrB, 0}},
      {"gui_attach", "gui_attach", {kPtrA, kPtrB}, k, SVC_gui_attach, {kPtrA, kPtrB, 0}},
      {"gui_set_title", "gui_set_title", {3, kPtrA}, k, SVC_gui_set_title, {3, kPtrA, 0}},
      {"gui_begin fills one slot", "gui_begin", {3}, k, SVC_gui_begin, {3, kAny, kAny}},
      {"gui_clear", "gui_clear", {3, kPtrA}, k, SVC_gui_clear, {3, kPtrA, 0}},
      {"gui_fill_rect", "gui_fill_rect", {3, kPtrA}, k, SVC_gui_fill_rect, {3, kPtrA, 0}},
      {"gui_draw_text", "gui_draw_text", {3, kPtrA}, k, SVC_gui_draw_text, {3, kPtrA, 0}},
      {"gui_present fills one slot", "gui_present", {3}, k, SVC_gui_present, {3, kAny, kAny}},
      {"gui_poll_event passes 20",
       "gui_poll_event",
       {3, kPtrA},
       k,
       SVC_gui_poll_event,
       {3, kPtrA, 20}},
      {"gui_wait_event passes 20",
       "gui_wait_event",
       {3, kPtrA},
       k,
       SVC_gui_wait_event,
       {3, kPtrA, 20}},
      {"gui_draw_line", "gui_draw_line", {3, kPtrA}, k, SVC_gui_draw_line, {3, kPtrA, 0}},
      {"gui_get_content_size",
       "gui_get_content_size",
       {3, kPtrA},
       k,
       SVC_gui_get_content_size,
       {3, kPtrA, 0}},
      {"gui_set_font", "gui_set_font", {3, kPtrA}, k, SVC_gui_set_font, {3, kPtrA, 0}},
      {"gui_set_continuous_redraw",
       "gui_set_continuous_redraw",
       {3, 1},
       k,
       SVC_gui_set_continuous_redraw,
       {3, 1, 0}},
      {"gui_blit_rgb565", "gui_blit_rgb565", {3, kPtrA}, k, SVC_gui_blit_rgb565, {3, kPtrA, 0}},
      {"gui_draw_icon", "gui_draw_icon", {3, kPtrA}, k, SVC_gui_draw_icon, {3, kPtrA, 0}},
      {"gui_outline_rect", "gui_outline_rect", {3, kPtrA}, k, SVC_gui_outline_rect, {3, kPtrA, 0}},
      {"gui_draw_char", "gui_draw_char", {3, kPtrA}, k, SVC_gui_draw_char, {3, kPtrA, 0}},
      {"gui_get_font_metrics",
       "gui_get_font_metrics",
       {3, kPtrA},
       k,
       SVC_gui_get_font_metrics,
       {3, kPtrA, 0}},
      {"gui_warp_mouse passes three",
       "gui_warp_mouse",
       {3, 10, kBig},
       k,
       SVC_gui_warp_mouse,
       {3, 10, kBig}},
      {"gui_set_cursor_visible",
       "gui_set_cursor_visible",
       {3, 0},
       k,
       SVC_gui_set_cursor_visible,
       {3, 0, 0}},
      {"gui_load_font", "gui_load_font", {kPtrA, kPtrB}, k, SVC_gui_load_font, {kPtrA, kPtrB, 0}},
      {"gui_draw_text_font",
       "gui_draw_text_font",
       {3, kPtrA},
       k,
       SVC_gui_draw_text_font,
       {3, kPtrA, 0}},
      {"gui_draw_char_font",
       "gui_draw_char_font",
       {3, kPtrA},
       k,
       SVC_gui_draw_char_font,
       {3, kPtrA, 0}},
      {"usleep answers 0 whatever the kernel says",
       "usleep",
       {16666},
       0,
       SVC_usleep,
       {16666, kAny, kAny}},
      {"sleep(2) asks for 2000000 microseconds",
       "sleep",
       {2},
       0,
       SVC_usleep,
       {2000000, kAny, kAny}},
      {"sleep's product wraps in 32 bits",
       "sleep",
       {5000},
       0,
       SVC_usleep,
       {5000u * 1000000u, kAny, kAny}},
  };
  for (const auto& c : cases) check(c);
}

TEST_F(Wrappers, GuiHandleZeroIsValidAndNegativePassesThrough) {
  g.kernel().script(SVC_gui_create, [](ServiceCall&) { return std::optional<int32_t>(-22); });
  EXPECT_EQ(g.calli("gui_create", {a, b}), -22);
  g.kernel().script(SVC_gui_create, [](ServiceCall&) { return std::optional<int32_t>(0); });
  EXPECT_EQ(g.calli("gui_create", {a, b}), 0);
}

TEST_F(Wrappers, UsleepHidesKernelErrors) {
  g.kernel().script(SVC_usleep, [](ServiceCall&) { return std::optional<int32_t>(-38); });
  EXPECT_EQ(g.calli("usleep", {10}), 0);
  EXPECT_EQ(g.calli("sleep", {1}), 0);
}

TEST_F(Wrappers, KernelFailuresPassThroughUnchanged) {
  g.kernel().script(SVC_read, [](ServiceCall&) { return std::optional<int32_t>(-9); });
  EXPECT_EQ(g.calli("read", {42, a, 1}), -9);
}

TEST_F(Wrappers, AccessOpensReadOnlyThenCloses) {
  g.kernel().script(SVC_open, [](ServiceCall&) { return std::optional<int32_t>(6); });
  g.kernel().script(SVC_close, [](ServiceCall&) { return std::optional<int32_t>(-9); });
  g.kernel().clear_calls();
  // The close fails, and access still answers 0: it only asks whether the open worked.
  EXPECT_EQ(g.calli("access", {a, 0777}), 0);
  const auto& calls = g.kernel().calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].number, static_cast<uint32_t>(SVC_open));
  EXPECT_EQ(calls[0].slots, (Slots{a, 0, 0}));
  EXPECT_EQ(calls[1].number, static_cast<uint32_t>(SVC_close));
  EXPECT_EQ(calls[1].slots[0], 6u);
}

TEST_F(Wrappers, AccessToAnUnopenablePathMakesOneCall) {
  g.kernel().script(SVC_open, [](ServiceCall&) { return std::optional<int32_t>(-2); });
  g.kernel().clear_calls();
  EXPECT_EQ(g.calli("access", {a, 0}), -1);
  ASSERT_EQ(g.kernel().calls().size(), 1u);
  g.kernel().clear_calls();
  EXPECT_EQ(g.calli("access", {0, 0}), -1);
  EXPECT_TRUE(g.kernel().calls().empty());
}

TEST_F(Wrappers, ExitNeverReturnsEvenWhenTheKernelDoes) {
  // The scripted kernel comes back from exit: _exit must halt rather than return.
  RunResult r = g.call_result("_exit", {3});
  EXPECT_EQ(r.end, RunResult::End::Fault);
  EXPECT_NE(r.message.find("hlt"), std::string::npos) << r.message;
  ASSERT_EQ(g.kernel().calls().size(), 1u);
  EXPECT_EQ(g.kernel().calls()[0].number, static_cast<uint32_t>(SVC_exit));
  EXPECT_EQ(g.kernel().calls()[0].slots[0], 3u);
}

TEST(WrapperPrimitive, OnlyOneHeaderIssuesTheSoftwareInterrupt) {
  // Every wrapper inlines the primitive of runtime/syscall.h; no other source may trap itself.
  std::vector<std::string> trapping;
  for (const char* dir : {"runtime", "programs"}) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(
             std::filesystem::path(NUV_SOURCE_DIR) / dir)) {
      if (!entry.is_regular_file()) continue;
      std::ifstream in(entry.path());
      std::string text(std::istreambuf_iterator<char>(in), {});
      if (text.find("int $0x80") != std::string::npos) {
        trapping.push_back(entry.path().lexically_relative(NUV_SOURCE_DIR).string());
      }
    }
  }
  EXPECT_EQ(trapping, (std::vector<std::string>{"runtime/syscall.h"}));
}

}  // namespace
}  // namespace nuv::test
