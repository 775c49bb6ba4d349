// Every kernel-call wrapper: the service it calls, the slots it passes, its clamps and its
// refusals (a refused call reaches no kernel at all).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <vector>

#include "host/kernel/service_table.h"
#include "tests/harness/guest.h"

namespace nuv::test {
namespace {

constexpr int32_t K = 1234;  // what the scripted kernel answers to every call
constexpr uint32_t kBig = 0xFFFFFFFFu, kMax = 0x7FFFFFFFu;
constexpr uint32_t A = 0xA0A0A0A0, B = 0xB0B0B0B0;  // stand for two guest strings
using Slot = std::optional<uint32_t>;               // nullopt: the slot is left undefined
constexpr Slot _ = std::nullopt;

struct Case {
  const char* function;
  std::vector<uint32_t> args;
  int32_t result;
  uint32_t service;  // 0: the wrapper refuses without a call
  std::array<Slot, 3> slots;
};

class Wrappers : public ::testing::Test {
 protected:
  Wrappers() {
    for (const ServiceInfo& s : all_services()) {
      g.kernel().script(s.number, [](ServiceCall&) { return std::optional<int32_t>(K); });
    }
  }
  uint32_t real(uint32_t v) { return v == A ? a : v == B ? b : v; }
  // The number the service list gives this name: a wrapper must call the service it is named for.
  static uint32_t service(std::string_view name) {
    for (const ServiceInfo& s : all_services()) {
      if (name == s.name) return s.number;
    }
    ADD_FAILURE() << "no service " << name;
    return 0;
  }

  void check(const std::vector<Case>& cases) {
    for (const auto& c : cases) {
      SCOPED_TRACE(::testing::Message() << c.function << " case " << (&c - cases.data()));
      g.kernel().clear_calls();
      std::vector<uint32_t> args;
      for (uint32_t v : c.args) args.push_back(real(v));
      RunResult r = g.process().call(g.sym(c.function), args);
      ASSERT_EQ(r.end, RunResult::End::Returned) << r.message;
      EXPECT_EQ(static_cast<int32_t>(g.process().eax()), c.result);
      const auto& calls = g.kernel().calls();
      ASSERT_EQ(calls.size(), c.service ? 1u : 0u);
      if (!c.service) continue;
      EXPECT_EQ(calls[0].number, c.service);
      for (size_t i = 0; i < 3; ++i) {
        if (c.slots[i]) {
          EXPECT_EQ(calls[0].slots[i], real(*c.slots[i])) << "slot " << i + 1;
        }
      }
    }
  }

  Guest g;
  uint32_t a = g.str("/a"), b = g.str("/b");
};

TEST_F(Wrappers, CallTheirServiceWithTheirSlotsOrRefuse) {
  check({
      {"write", {7, A, 3}, K, SVC_write, {7, A, 3}},
      {"write", {1, A, 0}, K, SVC_write, {1, A, 0}},
      {"write", {1, A, kBig}, K, SVC_write, {1, A, kMax}},
      {"write", {1, A, kMax}, K, SVC_write, {1, A, kMax}},
      {"write", {kBig, A, 1}, K, SVC_write, {kBig, A, 1}},
      {"write", {1, 0, 5}, -1, 0, {}},
      {"read", {0, A, 0x80000000u}, K, SVC_read, {0, A, kMax}},
      {"read", {0, 0, 9}, -1, 0, {}},
      {"getkey", {}, K, SVC_getkey, {_, _, _}},
      {"writefile", {A, B, kBig}, K, SVC_writefile, {A, B, kMax}},
      {"writefile", {0, B, 4}, -1, 0, {}},
      {"writefile", {A, 0, 4}, -1, 0, {}},
      {"getcwd", {A, 64}, K, SVC_getcwd, {A, 64, 0}},
      {"getcwd", {A, 0x80000000u}, K, SVC_getcwd, {A, kMax, 0}},
      {"getcwd", {0, 64}, -1, 0, {}},
      {"getcwd", {A, 0}, -1, 0, {}},
      {"lseek", {3, kBig, 2}, K, SVC_lseek, {3, kBig, 2}},
      {"dup2", {4, 1}, K, SVC_dup2, {4, 1, 0}},
      // open repeats its flags in the third slot only when creating; creat always sends 0x241, 0.
      {"open", {A, 0}, K, SVC_open, {A, 0, 0}},
      {"open", {A, 0x40}, K, SVC_open, {A, 0x40, 0x40}},
      {"open", {A, 0x241, 0755}, K, SVC_open, {A, 0x241, 0x241}},
      {"open", {A, 0x201, 0755}, K, SVC_open, {A, 0x201, 0}},
      {"open", {0, 0}, -1, 0, {}},
      {"creat", {A, kBig}, K, SVC_open, {A, 0x241, 0}},
      {"creat", {0, 0}, -1, 0, {}},
      {"fd_set_inherit", {static_cast<uint32_t>(-7)}, K, SVC_fd_set_inherit, {1, _, _}},
      {"fd_set_inherit", {0}, K, SVC_fd_set_inherit, {0, _, _}},
      {"fd_set_stdio", {kBig, 5, 9}, K, SVC_fd_set_stdio, {kBig, 5, 9}},
      {"fd_set_nonblock", {3, 5}, K, SVC_fd_set_nonblock, {3, 1, 0}},
      {"spawn", {A, 7, 0}, K, SVC_spawn, {A, 7, 0}},
      {"spawn", {A, 7, kBig}, -1, 0, {}},
      {"spawn", {0, 7, 1}, -1, 0, {}},
      {"waitpid", {kBig, 0, 3}, K, SVC_waitpid, {kBig, 0, 3}},
      {"nuvrelfs_stream_write", {kBig, A, kBig}, K, SVC_nuvrelfs_stream_write, {kBig, A, kMax}},
      {"nuvrelfs_stream_write", {1, 0, 10}, -1, 0, {}},
      {"gui_poll_event", {3, A}, K, SVC_gui_poll_event, {3, A, 20}},

      {"gui_wait_event", {3, A}, K, SVC_gui_wait_event, {3, A, 20}},
      {"gui_set_continuous_redraw", {3, 1}, K, SVC_gui_set_continuous_redraw, {3, 1, 0}},
      {"gui_warp_mouse", {3, 10, kBig}, K, SVC_gui_warp_mouse, {3, 10, kBig}},
      {"gui_set_cursor_visible", {3, 0}, K, SVC_gui_set_cursor_visible, {3, 0, 0}},
      // The sleeps answer 0 whatever the kernel says; sleep's product wraps in 32 bits.
      {"usleep", {16666}, 0, SVC_usleep, {16666, _, _}},
      {"sleep", {2}, 0, SVC_usleep, {2000000, _, _}},
      {"sleep", {5000}, 0, SVC_usleep, {5000u * 1000000u, _, _}},
  });
}

// Wrappers that hand their arguments on unchanged, by the shapes they take; a null path or
// array is refused without a call.
TEST_F(Wrappers, PassTheirArgumentsThrough) {
  std::vector<Case> cases;
  for (const char* f :
       {"mkdir", "unlink", "rmdir", "chdir", "mkfifo", "pipe", "nuvrelfs_stream_begin"}) {
    cases.push_back({f, {A}, K, service(f), {A, _, _}});
    cases.push_back({f, {0}, -1, 0, {}});
  }
  for (const char* f : {"close", "dup", "nuvrelfs_stream_end", "gui_begin", "gui_present"}) {
    cases.push_back({f, {6}, K, service(f), {6, _, _}});
  }
  for (const char* f : {"gui_create", "gui_attach", "gui_load_font"}) {
    cases.push_back({f, {A, B}, K, service(f), {A, B, 0}});
  }
  for (const char* f : {"gui_set_title", "gui_clear", "gui_fill_rect", "gui_draw_text",
                        "gui_draw_line", "gui_get_content_size", "gui_set_font", "gui_blit_rgb565",
                        "gui_draw_icon", "gui_outline_rect", "gui_draw_char",
                        "gui_get_font_metrics", "gui_draw_text_font", "gui_draw_char_font"}) {
    cases.push_back({f, {3, A}, K, service(f), {3, A, 0}});
  }
  check(cases);
}

TEST_F(Wrappers, AccessOpensReadOnlyAndClosesOnlyWhatItOpened) {
  struct {
    int32_t open_answer, close_answer, result;
    size_t calls;
  } cases[] = {{6, -9, 0, 2}, {6, 0, 0, 2}, {-2, 0, -1, 1}};
  for (const auto& c : cases) {
    g.kernel().script(SVC_open, [&](ServiceCall&) { return std::optional(c.open_answer); });
    g.kernel().script(SVC_close, [&](ServiceCall&) { return std::optional(c.close_answer); });
    g.kernel().clear_calls();
    EXPECT_EQ(g.calli("access", {a, 0777}), c.result);
    const auto& calls = g.kernel().calls();
    ASSERT_EQ(calls.size(), c.calls);
    EXPECT_EQ(calls[0].slots, (Slots{a, 0, 0}));
    if (c.calls == 2) {
      EXPECT_EQ(calls[1].slots[0], 6u);
    }
  }
  g.kernel().clear_calls();
  EXPECT_EQ(g.calli("access", {0, 0}), -1);
  EXPECT_TRUE(g.kernel().calls().empty());
}

TEST_F(Wrappers, KernelFailuresPassThroughAndExitNeverReturns) {
  g.kernel().script(SVC_read, [](ServiceCall&) { return std::optional<int32_t>(-9); });
  EXPECT_EQ(g.calli("read", {42, a, 1}), -9);
  // The scripted kernel comes back from exit: _exit must halt rather than return.
  g.kernel().clear_calls();
  RunResult r = g.call_result("_exit", {3});
  EXPECT_EQ(r.end, RunResult::End::Fault);
  EXPECT_NE(r.message.find("hlt"), std::string::npos) << r.message;
  ASSERT_EQ(g.kernel().calls().size(), 1u);
  EXPECT_EQ(g.kernel().calls()[0].slots[0], 3u);
}

TEST(WrapperPrimitive, OnlyOneHeaderIssuesTheSoftwareInterrupt) {
  std::vector<std::string> trapping;
  for (const char* dir : {"runtime", "programs"}) {
    for (const auto& e : std::filesystem::recursive_directory_iterator(
             std::filesystem::path(NUV_SOURCE_DIR) / dir)) {
      if (!e.is_regular_file()) continue;
      std::ifstream in(e.path());
      std::string text(std::istreambuf_iterator<char>(in), {});
      if (text.find("int $0x80") != std::string::npos) {
        trapping.push_back(e.path().lexically_relative(NUV_SOURCE_DIR).string());
      }
    }
  }
  EXPECT_EQ(trapping, (std::vector<std::string>{"runtime/syscall.h"}));
}

}  // namespace
}  // namespace nuv::test
