// The kernel's argument readers, one table for every kind of argument the service list names:
// what a program passes that cannot be handed over (a descriptor or window that is not there,
// memory that is not, a string too long, a count that reads as negative) answers the call with
// its error before any handler runs, in slot order; nothing to move is no fault; a transfer
// takes what fits. The trace shows what the handler saw and stored.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "host/gui/compositor.h"
#include "host/kernel/trace.h"
#include "tests/harness/guest.h"
#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

uint32_t u(int32_t v) { return static_cast<uint32_t>(v); }

std::set<std::string> listing(const std::filesystem::path& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    names.insert(e.path().filename().string());
  }
  return names;
}

// A path of `size` bytes, "a/a/...": no component is too long for the host.
std::string deep_path(size_t size) {
  std::string p;
  while (p.size() < size) p += "a/";
  return p.substr(0, size);
}

// Places in the guest's memory, and the things a call may name.
struct Machine {
  Guest g;
  uint32_t unmapped = 0x10;
  uint32_t code = g.sym("main");               // readable, not writable
  uint32_t stack_end = layout::kStackTop - 4;  // 4 bytes, then nothing
  uint32_t buffer = g.alloc(64);
  uint32_t window = u(g.calli("gui_create", {g.str("w"), 0}));
  uint32_t file = 0;
  uint32_t color = g.alloc(4);
  uint32_t rect = g.alloc(20);
  Machine() {
    spit(g.root() / "data", "0123456789");
    file = u(g.calli("open", {g.str("/data"), 0}));
    g.write(stack_end, "abcd", 4);  // no NUL before the unmapped page
  }
  uint32_t text_record(uint32_t text) {
    uint32_t words[4] = {1, 2, 0, text};
    return g.put(words, sizeof words);
  }
  uint32_t syscall(uint32_t number, uint32_t a = 0, uint32_t b = 0, uint32_t c = 0) {
    return g.call("nuvrelos_syscall", {number, a, b, c});
  }
};

TEST(ServiceArguments, AreReadBeforeTheHandlerAndRefusedWithTheirError) {
  Machine s;
  Guest& g = s.g;
  ASSERT_GE(s.window, 1u);
  ASSERT_GE(s.file, 3u);
  const uint32_t path_max = g.str(deep_path(NUVRELOS_PATH_MAX));
  const uint32_t path_over = g.str(deep_path(NUVRELOS_PATH_MAX + 1));
  const uint32_t title_max = g.str(std::string(NUVRELOS_TITLE_MAX, 't'));
  const uint32_t title_over = g.str(std::string(NUVRELOS_TITLE_MAX + 1, 't'));
  const uint32_t text_max = s.text_record(g.str(std::string(NUVRELOS_TEXT_MAX, 'x')));
  const uint32_t text_over = s.text_record(g.str(std::string(NUVRELOS_TEXT_MAX + 1, 'x')));
  const uint32_t text_unmapped = s.text_record(s.unmapped);
  const uint32_t name = g.str("f");
  struct Case {
    const char* what;
    uint32_t service, a, b, c;
    int32_t result;
  } cases[] = {
      // Descriptors and windows, checked before the memory the next slot names.
      {"FD", SVC_close, 99, 0, 0, -9},
      {"FD before BYTES_IN", SVC_write, 99, s.unmapped, 4, -9},
      {"WINDOW", SVC_gui_begin, 99, 0, 0, -9},
      {"WINDOW 0, never attached", SVC_gui_present, 0, 0, 0, -9},
      {"WINDOW negative", SVC_gui_present, u(-1), 0, 0, -9},
      {"WINDOW most negative", SVC_gui_set_continuous_redraw, 0x80000000u, 1, 0, -9},
      {"WINDOW past the last", SVC_gui_present, Compositor::kMaxWindows, 0, 0, -9},
      {"WINDOW before IN", SVC_gui_fill_rect, 99, s.unmapped, 0, -9},
      // Paths and titles: unreadable, longest, one byte too long, unterminated.
      {"PATH unmapped", SVC_open, s.unmapped, 0, 0, -14},
      {"PATH longest", SVC_open, path_max, 0, 0, -2},
      {"PATH too long", SVC_open, path_over, 0, 0, -36},
      {"PATH too long, through its directory", SVC_mkdir, path_over, 0, 0, -36},
      {"PATH unterminated", SVC_chdir, s.stack_end, 0, 0, -14},
      {"TITLE unmapped", SVC_gui_create, s.unmapped, 0, 0, -14},
      {"TITLE longest", SVC_gui_set_title, s.window, title_max, 0, 0},
      {"TITLE too long", SVC_gui_set_title, s.window, title_over, 0, -22},
      {"TITLE_OR_NULL null", SVC_gui_attach, name, 0, 0, 0},
      {"TITLE_OR_NULL unmapped", SVC_gui_attach, name, s.unmapped, 0, -14},
      // Records in, and the string a text record brings.
      {"IN unmapped", SVC_gui_clear, s.window, s.unmapped, 0, -14},
      {"IN from code", SVC_gui_clear, s.window, s.code, 0, 0},
      {"IN running off the stack", SVC_gui_fill_rect, s.window, s.stack_end, 0, -14},
      {"IN text unmapped", SVC_gui_draw_text, s.window, text_unmapped, 0, -14},
      {"IN text longest", SVC_gui_draw_text, s.window, text_max, 0, 0},
      {"IN text too long", SVC_gui_draw_text, s.window, text_over, 0, -22},
      // Transfers take what is there; nothing to move is no fault.
      {"BYTES_IN unmapped", SVC_write, 1, s.unmapped, 4, -14},
      {"BYTES_IN nothing", SVC_write, 1, s.unmapped, 0, 0},
      {"BYTES_IN negative count", SVC_write, 1, s.buffer, 0x80000000u, -22},
      {"BYTES_IN what is there", SVC_write, 1, s.stack_end, 10, 4},
      {"BYTES_OUT unmapped", SVC_read, s.file, s.unmapped, 4, -14},
      {"BYTES_OUT into code", SVC_read, s.file, s.code, 4, -14},
      {"BYTES_OUT nothing", SVC_read, s.file, 0, 0, 0},
      {"BYTES_OUT negative count", SVC_read, s.file, s.buffer, u(-1), -22},
      {"BYTES_OUT what fits", SVC_read, s.file, s.stack_end, 10, 4},
      {"WHOLE_IN unmapped", SVC_writefile, name, s.unmapped, 4, -14},
      {"WHOLE_IN not all there", SVC_writefile, name, s.stack_end, 10, -14},
      {"WHOLE_IN more than a file holds", SVC_writefile, name, s.buffer, (64u << 20) + 1, -28},
      {"WHOLE_IN nothing", SVC_writefile, g.str("empty"), 0, 0, 0},
      // Records out, stored only where the program can write.
      {"OUT unmapped", SVC_gui_get_content_size, s.window, s.unmapped, 0, -14},
      {"OUT into code", SVC_gui_get_font_metrics, s.window, s.code, 0, -14},
      {"OUT pipe into code", SVC_pipe, s.code, 0, 0, -14},
      {"OUT_UPTO no room", SVC_gui_poll_event, s.window, s.buffer, 0, -22},
      {"STR_OUT too small", SVC_getcwd, s.buffer, 1, 0, -34},
      {"STR_OUT unmapped", SVC_getcwd, s.unmapped, 64, 0, -14},
      {"STR_OUT into code", SVC_getcwd, s.code, 64, 0, -14},
      // Nothing serves these yet: no argument is looked at.
      {"NI path", SVC_gui_load_font, s.unmapped, 0, 0, -38},
      {"NI window", SVC_gui_draw_line, 99, 99, 99, -38},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(static_cast<int32_t>(s.syscall(c.service, c.a, c.b, c.c)), c.result);
  }
  // Nothing a refused call named was used up or made.
  EXPECT_EQ(g.calli("lseek", {s.file, 0, 1}), 4) << "only the read that fitted moved the file";
  EXPECT_EQ(listing(g.root()), (std::set<std::string>{"data", "empty"}));
  EXPECT_EQ(g.calli("dup", {s.file}), static_cast<int32_t>(s.file) + 1)
      << "the refused pipe left no descriptor open";
}

// The trace shows each argument as the handler had it: what was read, what was stored, and a
// plain slot for what could not be read.
TEST(ServiceArguments, TheTraceShowsWhatTheHandlerSawAndStored) {
  Machine s;
  s.g.kernel().set_decoding(true);
  struct Case {
    uint32_t service, a, b, c;
    std::string strace;
  } cases[] = {
      {SVC_write, 1, s.stack_end, 10, "write(1, \"abcd\", 10) = 4"},
      {SVC_read, s.file, s.buffer, 3, "read(3, \"012\", 3) = 3"},
      {SVC_read, s.file, s.unmapped, 3, "read(3, 0x10, 3) = -14 EFAULT"},
      {SVC_gui_get_font_metrics, s.window, s.buffer, 0,
       "gui_get_font_metrics(1, {width=8, height=14}) = 0"},
      {SVC_gui_get_content_size, 99, s.unmapped, 0, "gui_get_content_size(99, 0x10) = -9 EBADF"},
      {SVC_getcwd, s.buffer, 64, 0, "getcwd(\"/\", 64) = 2"},
      {SVC_gui_load_font, s.g.str("font"), 0, 0, "gui_load_font(\"font\", 0x0) = -38 ENOSYS"},
      {SVC_waitpid, u(-1), 0, 0, "waitpid(-1, 0x0, 0x0) = -10 ECHILD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.strace);
    s.g.kernel().clear_calls();
    s.syscall(c.service, c.a, c.b, c.c);
    ASSERT_EQ(s.g.kernel().calls().size(), 1u);
    std::string line;
    append_strace_line(line, s.g.kernel().calls()[0]);
    EXPECT_EQ(line, c.strace + "\n");
  }
}

}  // namespace
}  // namespace nuv::test
