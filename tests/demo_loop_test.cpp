// The demo's whole life from _start: command line, window, frame loop and end. The GUI
// services are answered by a small scripted compositor that hands out a list of events per
// frame; a frame ends at the demo's pause.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tests/harness/guest.h"

namespace {

struct Event {
  int32_t type, word1, word2, word3, word4;
};
Event key(int32_t code) { return {1, code, 0, 0, 0}; }
Event ptr(int32_t x, int32_t y, int32_t buttons) { return {2, x, y, buttons, 0}; }

struct Rect {
  int32_t x, y, w, h;
  uint8_t r, g, b, zero;
};

// What the demo drew in one frame.
struct Frame {
  std::vector<Rect> rects;
  std::string status;
  int32_t status_y = 0;
};

constexpr size_t kFrameLimit = 64;

struct ScriptedDemo {
  int32_t create_result = 5;
  int32_t attach_result = -1;
  int32_t redraw_off_result = 0;
  int32_t width = 640, height = 360;
  std::vector<std::vector<Event>> events;  // per frame; a frame past the list gets none

  nuv::test::Guest g{"stack_demo"};
  std::vector<Frame> frames{1};
  size_t polled = 0;  // events of the current frame handed out
  std::vector<uint32_t> pauses;
  nuv::RunResult result;

  void install() {
    auto& k = g.kernel();
    k.script(SVC_gui_create, [this](nuv::ServiceCall&) { return std::optional(create_result); });
    k.script(SVC_gui_attach, [this](nuv::ServiceCall&) { return std::optional(attach_result); });
    k.script(SVC_gui_set_continuous_redraw, [this](nuv::ServiceCall& c) {
      return std::optional<int32_t>(c.slots[1] == 0 ? redraw_off_result : 0);
    });
    k.script(SVC_gui_poll_event, [this](nuv::ServiceCall& c) -> std::optional<int32_t> {
      size_t frame = frames.size() - 1;
      if (frame >= kFrameLimit) {  // a demo that ignores quit keys must not hang the test
        Event quit = key('q');
        g.write(c.slots[1], &quit, sizeof quit);
        return 1;
      }
      if (frame >= events.size() || polled >= events[frame].size()) return 0;
      g.write(c.slots[1], &events[frame][polled++], sizeof(Event));
      return 1;
    });
    k.script(SVC_gui_get_content_size, [this](nuv::ServiceCall& c) {
      int32_t size[2] = {width, height};
      g.write(c.slots[1], size, sizeof size);
      return std::optional<int32_t>(0);
    });
    k.script(SVC_gui_fill_rect, [this](nuv::ServiceCall& c) {
      Rect r;
      auto bytes = g.read(c.slots[1], sizeof r);
      std::memcpy(&r, bytes.data(), sizeof r);
      frames.back().rects.push_back(r);
      return std::optional<int32_t>(0);
    });
    k.script(SVC_gui_draw_text, [this](nuv::ServiceCall& c) {
      frames.back().status = g.read_str(g.u32(c.slots[1] + 12), 4096);
      frames.back().status_y = static_cast<int32_t>(g.u32(c.slots[1] + 4));
      return std::optional<int32_t>(0);
    });
    for (uint32_t n : {SVC_gui_begin, SVC_gui_clear, SVC_gui_present}) {
      k.script(n, [](nuv::ServiceCall&) { return std::optional<int32_t>(0); });
    }
    k.script(SVC_usleep, [this](nuv::ServiceCall& c) {
      pauses.push_back(c.slots[0]);
      frames.emplace_back();
      polled = 0;
      return std::optional<int32_t>(0);
    });
  }

  void run(std::vector<std::string> args = {"stack_demo"}) {
    install();
    result = g.run(args);
    frames.pop_back();  // opened by the last pause, never drawn
  }

  // Window k's body as drawn in frame f, found by its size.
  Rect window(size_t f, int32_t w) const {
    for (const Rect& r : frames.at(f).rects) {
      if (r.w == w && r.h != 14 && r.h != 24) return r;
    }
    ADD_FAILURE() << "no window of width " << w << " in frame " << f;
    return {};
  }

  std::vector<uint32_t> numbers() {
    std::vector<uint32_t> out;
    for (const auto& c : g.kernel().calls()) out.push_back(c.number);
    return out;
  }
};

bool any_gui_call(const std::vector<uint32_t>& numbers) {
  for (uint32_t n : numbers) {
    if (n != SVC_write && n != SVC_exit) return true;
  }
  return false;
}

TEST(DemoCommandLine, UsageOnlyForAFirstArgumentOfDashH) {
  struct Case {
    std::vector<std::string> args;
    bool usage;
  } cases[] = {
      {{"stack_demo", "-h"}, true},      {{"stack_demo", "-h", "more", "args"}, true},
      {{"stack_demo"}, false},           {{"stack_demo", "-H"}, false},
      {{"stack_demo", "--help"}, false}, {{"stack_demo", "x", "-h"}, false},
      {{"stack_demo", "-hh"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.args.size() << " args, last " << c.args.back());
    ScriptedDemo demo;
    demo.create_result = -1;  // no window: a demo that goes on ends at once with status 1
    demo.run(c.args);
    ASSERT_EQ(demo.result.end, nuv::RunResult::End::Exited) << demo.result.message;
    if (c.usage) {
      EXPECT_EQ(demo.result.status, 0);
      EXPECT_EQ(demo.g.console(), "Usage: stack_demo\n");
      EXPECT_FALSE(any_gui_call(demo.numbers()));
    } else {
      EXPECT_EQ(demo.result.status, 1);
      EXPECT_EQ(demo.g.console(), "stack_demo: failed to initialize GUI\n");
    }
  }
}

TEST(DemoWindow, CreateThenAttachThenGiveUp) {
  struct Case {
    int32_t create, attach;
    int32_t status;
    uint32_t handle;
    std::vector<uint32_t> first_calls;
  } cases[] = {
      {5, -1, 0, 5, {SVC_gui_create, SVC_gui_set_continuous_redraw}},
      {0, -1, 0, 0, {SVC_gui_create, SVC_gui_set_continuous_redraw}},
      {-1, 0, 0, 0, {SVC_gui_create, SVC_gui_attach, SVC_gui_set_continuous_redraw}},
      {-7, 3, 0, 3, {SVC_gui_create, SVC_gui_attach, SVC_gui_set_continuous_redraw}},
      {-1, -1, 1, 0, {SVC_gui_create, SVC_gui_attach, SVC_write}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "create " << c.create << ", attach " << c.attach);
    ScriptedDemo demo;
    demo.create_result = c.create;
    demo.attach_result = c.attach;
    demo.events = {{key('q')}};
    demo.run();
    ASSERT_EQ(demo.result.end, nuv::RunResult::End::Exited) << demo.result.message;
    EXPECT_EQ(demo.result.status, c.status);
    const auto& calls = demo.g.kernel().calls();
    ASSERT_GE(calls.size(), c.first_calls.size());
    for (size_t i = 0; i < c.first_calls.size(); ++i) EXPECT_EQ(calls[i].number, c.first_calls[i]);
    EXPECT_EQ(demo.g.read_str(calls[0].slots[0]), "Stack Demo");
    EXPECT_EQ(demo.g.read_str(calls[0].slots[1]), "drag/click to stack");
    if (c.status == 1) {
      EXPECT_EQ(demo.g.console(), "stack_demo: failed to initialize GUI\n");
      continue;
    }
    EXPECT_EQ(demo.g.console(), "");
    for (const auto& call : calls) {
      if (call.number != SVC_gui_create && call.number != SVC_gui_attach &&
          call.number != SVC_usleep && call.number != SVC_exit) {
        EXPECT_EQ(call.slots[0], c.handle) << "service " << call.number;
      }
    }
  }
}

TEST(DemoLoop, QuitKeysEndTheProgramAfterTheirFrame) {
  struct Case {
    int32_t code;
    bool quits;
  } cases[] = {
      {'q', true}, {'Q', true},  {27, true},     {'1', false},
      {17, false}, {'w', false}, {0x171, false}, {-1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "key " << c.code);
    ScriptedDemo demo;
    demo.events = {{key(c.code)}, {key(27)}};
    demo.run();
    ASSERT_EQ(demo.result.end, nuv::RunResult::End::Exited) << demo.result.message;
    EXPECT_EQ(demo.result.status, 0);
    EXPECT_EQ(demo.frames.size(), c.quits ? 1u : 2u) << "frames drawn";
    EXPECT_EQ(demo.pauses, std::vector<uint32_t>(demo.frames.size(), 16666u));
    // Redraw goes on at the start and off at the end, after the last pause.
    const auto& calls = demo.g.kernel().calls();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls[1].number, SVC_gui_set_continuous_redraw);
    EXPECT_EQ(calls[1].slots[1], 1u);
    size_t off = calls.size() - 1;
    while (off > 0 && calls[off].number == SVC_exit) --off;
    EXPECT_EQ(calls[off].number, SVC_gui_set_continuous_redraw);
    EXPECT_EQ(calls[off].slots[1], 0u);
    EXPECT_EQ(calls[off - 1].number, SVC_usleep);
    EXPECT_EQ(demo.g.console(), "");
  }
}

TEST(DemoLoop, FailingToSwitchRedrawOffOnlyWarns) {
  ScriptedDemo demo;
  demo.redraw_off_result = -1;
  demo.events = {{key('q')}};
  demo.run();
  ASSERT_EQ(demo.result.end, nuv::RunResult::End::Exited) << demo.result.message;
  EXPECT_EQ(demo.result.status, 0);
  EXPECT_EQ(demo.g.console(), "stack_demo: warning: failed to disable redraw\n");
}

TEST(DemoLoop, PointerEventsOfTheQuitFrameStillCount) {
  ScriptedDemo demo;
  demo.events = {{ptr(100, 90, 1), key('q'), ptr(200, 150, 1)}};
  demo.run();
  ASSERT_EQ(demo.frames.size(), 1u);
  EXPECT_EQ(demo.frames[0].status, "mouse=200,150  active=2  q/esc quits");
  // Pressed at (200, 150), inside windows 0 and 1: window 1 is raised and drawn last.
  EXPECT_EQ(demo.frames[0].rects.back().w, 220);
  EXPECT_EQ(demo.result.status, 0);
}

TEST(DemoLoop, ButtonEdgesAcrossFrames) {
  struct Case {
    const char* name;
    std::vector<std::vector<Event>> events;
    std::vector<std::string> status;  // per frame
    std::vector<int32_t> window0_x;   // per frame
  } cases[] = {
      {"press and release in one frame make no edge",
       {{ptr(100, 90, 1), ptr(100, 90, 0)}, {ptr(150, 90, 0)}, {key('q')}},
       {"mouse=100,90  active=3  q/esc quits", "mouse=150,90  active=3  q/esc quits",
        "mouse=150,90  active=3  q/esc quits"},
       {80, 80, 80}},
      {"a held button keeps dragging in frames without events",
       {{ptr(100, 90, 1)}, {ptr(150, 90, 1)}, {}, {ptr(160, 90, 5)}, {key('q')}},
       {"mouse=100,90  active=1  q/esc quits", "mouse=150,90  active=1  q/esc quits",
        "mouse=150,90  active=1  q/esc quits", "mouse=160,90  active=1  q/esc quits",
        "mouse=160,90  active=1  q/esc quits"},
       {80, 130, 130, 140, 140}},
      {"only the last pointer event of a frame counts",
       {{ptr(100, 90, 1)}, {ptr(300, 90, 1), ptr(120, 90, 1)}, {ptr(500, 90, 0)}, {key('q')}},
       {"mouse=100,90  active=1  q/esc quits", "mouse=120,90  active=1  q/esc quits",
        "mouse=500,90  active=1  q/esc quits", "mouse=500,90  active=1  q/esc quits"},
       {80, 100, 100, 100}},
      {"other event types are ignored",
       {{ptr(100, 90, 1)}, {{3, 400, 400, 0, 0}}, {key('q')}},
       {"mouse=100,90  active=1  q/esc quits", "mouse=100,90  active=1  q/esc quits",
        "mouse=100,90  active=1  q/esc quits"},
       {80, 80, 80}},
      {"released, then a new press elsewhere",
       {{ptr(100, 90, 1)}, {ptr(100, 90, 0)}, {ptr(390, 240, 1)}, {ptr(500, 240, 1)}, {key(27)}},
       {"mouse=100,90  active=1  q/esc quits", "mouse=100,90  active=1  q/esc quits",
        "mouse=390,240  active=2  q/esc quits", "mouse=500,240  active=2  q/esc quits",
        "mouse=500,240  active=2  q/esc quits"},
       {80, 80, 80, 80, 80}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedDemo demo;
    demo.events = c.events;
    demo.run();
    ASSERT_EQ(demo.result.end, nuv::RunResult::End::Exited) << demo.result.message;
    ASSERT_EQ(demo.frames.size(), c.status.size());
    for (size_t f = 0; f < c.status.size(); ++f) {
      SCOPED_TRACE(testing::Message() << "frame " << f);
      EXPECT_EQ(demo.frames[f].status, c.status[f]);
      EXPECT_EQ(demo.window(f, 190).x, c.window0_x[f]);
    }
  }
}

TEST(DemoLoop, MissingContentSizeFallsBackPerDimension) {
  struct Case {
    int32_t width, height;
    size_t tiles;
    int32_t status_y;
  } cases[] = {
      {0, 0, 27 * 15, 346},  {800, 0, 34 * 15, 346}, {-5, 200, 27 * 9, 186},
      {100, 100, 5 * 5, 86}, {24, -1, 1 * 15, 346},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    ScriptedDemo demo;
    demo.width = c.width;
    demo.height = c.height;
    demo.events = {{key('q')}};
    demo.run();
    ASSERT_EQ(demo.frames.size(), 1u);
    EXPECT_EQ(demo.frames[0].rects.size(), c.tiles + 6);
    EXPECT_EQ(demo.frames[0].status_y, c.status_y);
  }
}

TEST(DemoLoop, FrameCounterDrivesTheCheckerboard) {
  ScriptedDemo demo;
  demo.events.resize(21);
  demo.events[20] = {key('q')};
  demo.run();
  ASSERT_EQ(demo.frames.size(), 21u);
  for (size_t f = 0; f < demo.frames.size(); ++f) {
    SCOPED_TRACE(testing::Message() << "frame " << f);
    uint8_t expected = (f / 10) % 2 == 0 ? 30 : 48;
    EXPECT_EQ(demo.frames[f].rects[0].r, expected);
    EXPECT_EQ(demo.frames[f].rects[1].r, expected == 30 ? 48 : 30);
  }
}

TEST(DemoLoop, AFailedPollEndsOnlyThatFramesDrain) {
  ScriptedDemo demo;
  demo.install();
  int polls = 0;
  // First frame: an error from the poll; the next frame polls again and gets the quit key.
  demo.g.kernel().script(SVC_gui_poll_event, [&](nuv::ServiceCall& c) -> std::optional<int32_t> {
    if (++polls == 1) return -22;
    if (demo.frames.size() < 2) return 0;
    Event quit = key('q');
    demo.g.write(c.slots[1], &quit, sizeof quit);
    return demo.polled++ == 0 ? 1 : 0;
  });
  demo.result = demo.g.run({"stack_demo"});
  demo.frames.pop_back();
  EXPECT_EQ(demo.result.status, 0);
  EXPECT_EQ(demo.frames.size(), 2u);
}

}  // namespace
