// The demo's window stack, called function by function inside the stack_demo executable on a
// WindowStack placed in scratch memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "tests/harness/guest.h"

namespace {

// The i386 layout of Window and WindowStack (all 32-bit fields and three bytes of colour).
struct Window {
  int32_t x, y, w, h;
  uint8_t r, g, b, pad;
  int32_t z;
};
struct Stack {
  Window windows[3];
  int32_t next_z;
  int32_t drag_index;
  int32_t grab_dx;
  int32_t grab_dy;
};
static_assert(sizeof(Stack) == 88);

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

uint32_t u(int32_t v) { return static_cast<uint32_t>(v); }

class WindowStackTest : public ::testing::Test {
 protected:
  WindowStackTest() : g_("stack_demo"), addr_(g_.alloc(sizeof(Stack))) {
    g_.call("window_stack_init", {addr_});
  }

  void window_stack_init_again() { g_.call("window_stack_init", {addr_}); }

  Stack stack() {
    Stack s;
    auto bytes = g_.read(addr_, sizeof s);
    std::memcpy(&s, bytes.data(), sizeof s);
    return s;
  }
  void set_stack(const Stack& s) { g_.write(addr_, &s, sizeof s); }

  void pointer(int32_t px, int32_t py, int now, int before) {
    g_.call("window_stack_pointer", {addr_, u(px), u(py), u(now), u(before)});
  }
  // One click: a frame with the button going down, then one with it coming up.
  void click(int32_t px, int32_t py) {
    pointer(px, py, 1, 0);
    pointer(px, py, 0, 1);
  }
  int32_t active() { return g_.calli("window_stack_active", {addr_}); }
  std::array<int32_t, 3> order() {
    uint32_t out = g_.alloc(12);
    g_.call("window_stack_order", {addr_, out});
    return {static_cast<int32_t>(g_.u32(out)), static_cast<int32_t>(g_.u32(out + 4)),
            static_cast<int32_t>(g_.u32(out + 8))};
  }
  void set_z(int32_t z0, int32_t z1, int32_t z2, int32_t next_z) {
    Stack s = stack();
    s.windows[0].z = z0;
    s.windows[1].z = z1;
    s.windows[2].z = z2;
    s.next_z = next_z;
    set_stack(s);
  }

  nuv::test::Guest g_;
  uint32_t addr_;
};

TEST_F(WindowStackTest, StartsWithThreeWindowsAndNoDrag) {
  const Window expected[3] = {{80, 80, 190, 118, 58, 88, 145, 0, 1},
                              {180, 120, 220, 132, 112, 76, 150, 0, 2},
                              {320, 92, 170, 110, 72, 122, 86, 0, 3}};
  Stack s = stack();
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const Window& w = s.windows[i];
    EXPECT_EQ(w.x, expected[i].x);
    EXPECT_EQ(w.y, expected[i].y);
    EXPECT_EQ(w.w, expected[i].w);
    EXPECT_EQ(w.h, expected[i].h);
    EXPECT_EQ(w.r, expected[i].r);
    EXPECT_EQ(w.g, expected[i].g);
    EXPECT_EQ(w.b, expected[i].b);
    EXPECT_EQ(w.z, expected[i].z);
  }
  EXPECT_EQ(s.next_z, 3);
  EXPECT_EQ(s.drag_index, -1);
  EXPECT_EQ(s.grab_dx, 0);
  EXPECT_EQ(s.grab_dy, 0);
  EXPECT_EQ(active(), 2);
  EXPECT_EQ(order(), (std::array<int32_t, 3>{0, 1, 2}));
}

// Window 0 spans x 80..269, y 80..197; window 1 x 180..399, y 120..251; window 2 x 320..489,
// y 92..201.
TEST(WindowStackPress, HitsTheTopMostWindowUnderThePointer) {
  struct Case {
    int32_t px, py;
    int32_t hit;  // -1: nothing
  } cases[] = {
      {80, 80, 0},       // top-left corner belongs to the window
      {269, 80, 0},      // last column
      {80, 197, 0},      // last row
      {85, 85, 0},       // inside the title bar
      {270, 100, -1},    // one past the right edge of window 0
      {80, 198, -1},     // one past the bottom edge
      {79, 100, -1},     // one left of the left edge
      {100, 79, -1},     // one above the top edge
      {200, 150, 1},     // windows 0 and 1 overlap: 1 is higher
      {350, 150, 2},     // windows 1 and 2 overlap: 2 is higher
      {399, 251, 1},     // bottom-right pixel of window 1
      {489, 201, 2},     // bottom-right pixel of window 2
      {490, 150, -1},    // right of everything
      {-5, -5, -1},      // negative coordinates
      {kMax, kMax, -1},  // far away
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "press at " << c.px << "," << c.py);
    nuv::test::Guest g("stack_demo");
    uint32_t addr = g.alloc(sizeof(Stack));
    g.call("window_stack_init", {addr});
    auto before = g.read(addr, sizeof(Stack));
    g.call("window_stack_pointer", {addr, u(c.px), u(c.py), 1, 0});
    auto after_bytes = g.read(addr, sizeof(Stack));
    Stack was, s;
    std::memcpy(&was, before.data(), sizeof was);
    std::memcpy(&s, after_bytes.data(), sizeof s);
    if (c.hit < 0) {
      EXPECT_EQ(after_bytes, before) << "a press on empty space changes nothing";
      continue;
    }
    EXPECT_EQ(s.drag_index, c.hit);
    EXPECT_EQ(s.next_z, 4);
    EXPECT_EQ(s.windows[c.hit].z, 4);
    EXPECT_EQ(s.grab_dx, c.px - was.windows[c.hit].x);
    EXPECT_EQ(s.grab_dy, c.py - was.windows[c.hit].y);
    EXPECT_EQ(s.windows[c.hit].x, was.windows[c.hit].x) << "a press does not move";
    EXPECT_EQ(s.windows[c.hit].y, was.windows[c.hit].y);
    EXPECT_EQ(g.calli("window_stack_active", {addr}), c.hit);
  }
}

TEST_F(WindowStackTest, ClicksRaiseAndHandOutRisingNumbers) {
  struct Step {
    int32_t px, py;
    int32_t hit;
    std::array<int32_t, 3> order;
  } steps[] = {
      {80, 80, 0, {1, 2, 0}},     // raise 0 from the bottom
      {200, 150, 0, {1, 2, 0}},   // the overlap with window 1 now belongs to 0
      {200, 200, 1, {2, 0, 1}},   // outside window 0: window 1
      {350, 150, 1, {2, 0, 1}},   // overlap of 1 and 2: 1 is higher now
      {480, 100, 2, {0, 1, 2}},   //
      {480, 100, 2, {0, 1, 2}},   // raising the top window still takes a new number
      {600, 300, -1, {0, 1, 2}},  // empty space
  };
  int32_t next = 3;
  for (const Step& step : steps) {
    SCOPED_TRACE(testing::Message() << "click at " << step.px << "," << step.py);
    click(step.px, step.py);
    Stack s = stack();
    if (step.hit >= 0) {
      ++next;
      EXPECT_EQ(s.windows[step.hit].z, next);
      EXPECT_EQ(active(), step.hit);
    }
    EXPECT_EQ(s.next_z, next);
    EXPECT_EQ(s.drag_index, -1) << "the release ends every drag";
    EXPECT_EQ(order(), step.order);
  }
}

TEST_F(WindowStackTest, DraggingFollowsThePointerWithinTheLeftAndTopLimits) {
  pointer(100, 90, 1, 0);  // window 0 at (80, 80), grabbed 20, 10 inside
  struct Case {
    int32_t px, py;
    int32_t x, y;
  } cases[] = {
      {100, 90, 80, 80},
      {110, 95, 90, 85},
      {10, 5, 0, 16},         // both limits
      {19, 200, 0, 190},      // x limit only
      {20, 26, 0, 16},        // exactly at the limits
      {21, 27, 1, 17},        //
      {300, 20, 280, 16},     // y limit only
      {600, 500, 580, 490},   // no limit to the right or below
      {-1000, -1000, 0, 16},  //
      {kMax, kMax, kMax - 20, kMax - 10},
      {std::numeric_limits<int32_t>::min(), 0, 0, 16},  // pointer minus grab below the range
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "pointer at " << c.px << "," << c.py);
    pointer(c.px, c.py, 1, 1);
    Stack s = stack();
    EXPECT_EQ(s.windows[0].x, c.x);
    EXPECT_EQ(s.windows[0].y, c.y);
    EXPECT_EQ(s.drag_index, 0);
    EXPECT_EQ(s.windows[1].x, 180) << "other windows stay";
  }
}

TEST_F(WindowStackTest, AWindowDraggedToTheFarRightStillTakesPresses) {
  pointer(100, 90, 1, 0);
  pointer(kMax, 90, 1, 1);
  pointer(kMax, 90, 0, 1);
  ASSERT_EQ(stack().windows[0].x, kMax - 20);
  pointer(kMax, 100, 1, 0);  // right edge of the window lies past the 32-bit range
  EXPECT_EQ(stack().drag_index, 0);
  EXPECT_EQ(stack().windows[0].z, 5);
}

TEST_F(WindowStackTest, AFrameWithoutMovementKeepsTheWindowWhereItIs) {
  pointer(100, 90, 1, 0);
  pointer(150, 140, 1, 1);
  pointer(150, 140, 1, 1);
  Stack s = stack();
  EXPECT_EQ(s.windows[0].x, 130);
  EXPECT_EQ(s.windows[0].y, 130);
  EXPECT_EQ(s.next_z, 4) << "holding the button raises only once";
}

TEST_F(WindowStackTest, ReleaseOverEmptySpaceEndsTheDrag) {
  pointer(100, 90, 1, 0);
  pointer(600, 340, 1, 1);
  pointer(630, 350, 0, 1);  // released far from the window
  Stack s = stack();
  EXPECT_EQ(s.drag_index, -1);
  EXPECT_EQ(s.windows[0].x, 580) << "the release frame does not move";
  EXPECT_EQ(s.windows[0].y, 330);
  // Moving afterwards with the button up drags nothing.
  pointer(20, 20, 0, 0);
  EXPECT_EQ(stack().windows[0].x, 580);
  // A new press over empty space starts no drag; holding and moving over a window neither
  // raises nor moves it.
  pointer(5, 300, 1, 0);
  pointer(200, 150, 1, 1);
  pointer(250, 200, 1, 1);
  s = stack();
  EXPECT_EQ(s.drag_index, -1);
  EXPECT_EQ(s.next_z, 4);
  EXPECT_EQ(s.windows[1].x, 180);
  EXPECT_EQ(s.windows[1].y, 120);
  EXPECT_EQ(s.windows[1].z, 2);
}

TEST_F(WindowStackTest, OrderAndActiveFollowTheStackingNumbers) {
  struct Case {
    int32_t z0, z1, z2;
    std::array<int32_t, 3> order;
    int32_t active;
  } cases[] = {
      {1, 2, 3, {0, 1, 2}, 2},
      {4, 2, 3, {1, 2, 0}, 0},
      {4, 5, 3, {2, 0, 1}, 1},
      {3, 2, 1, {2, 1, 0}, 0},
      {2, 3, 1, {2, 0, 1}, 1},
      {5, 5, 5, {0, 1, 2}, 0},  // equal numbers: the lower index first, and wins active
      {3, 1, 3, {1, 0, 2}, 0},
      {1, 7, 7, {0, 1, 2}, 1},
      {kMax, 1, kMax - 1, {1, 2, 0}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "z " << c.z0 << "," << c.z1 << "," << c.z2);
    set_z(c.z0, c.z1, c.z2, std::max({c.z0, c.z1, c.z2}));
    EXPECT_EQ(order(), c.order);
    EXPECT_EQ(active(), c.active);
  }
}

TEST_F(WindowStackTest, OnEqualNumbersThePressGoesToTheLowerIndex) {
  struct Case {
    int32_t z0, z1, z2;
    int32_t px, py;  // (200, 150) lies in windows 0 and 1, (350, 150) in 1 and 2
    int32_t hit;
  } cases[] = {
      {5, 5, 5, 200, 150, 0}, {5, 5, 5, 350, 150, 1}, {4, 6, 6, 350, 150, 1},
      {6, 4, 6, 200, 150, 0}, {4, 6, 5, 350, 150, 1}, {4, 5, 6, 350, 150, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "z " << c.z0 << "," << c.z1 << "," << c.z2 << " at " << c.px << "," << c.py);
    window_stack_init_again();
    set_z(c.z0, c.z1, c.z2, std::max({c.z0, c.z1, c.z2}));
    pointer(c.px, c.py, 1, 0);
    EXPECT_EQ(stack().drag_index, c.hit);
  }
}

// After two thousand million raises the numbers would leave the 32-bit range: the stack
// renumbers the windows 1, 2, 3 in their present order before handing out the next one.
TEST_F(WindowStackTest, RaisingAtTheTopOfTheRangeRenumbers) {
  struct Case {
    const char* name;
    int32_t z0, z1, z2, next_z;
    int32_t px, py;  // the press
    int32_t hit;
    std::array<int32_t, 3> z;  // afterwards
    int32_t next_after;
  } cases[] = {
      {"one below the top: no renumbering",
       kMax - 3,
       kMax - 2,
       kMax - 1,
       kMax - 1,
       80,
       80,
       0,
       {kMax, kMax - 2, kMax - 1},
       kMax},
      {"at the top: renumber, then raise", kMax - 2, kMax, kMax - 1, kMax, 80, 80, 0, {4, 3, 2}, 4},
      {"top window raised again", kMax - 2, kMax - 1, kMax, kMax, 480, 100, 2, {1, 2, 4}, 4},
      {"far apart numbers", 7, kMax, 1000, kMax, 480, 100, 2, {1, 3, 4}, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    window_stack_init_again();
    set_z(c.z0, c.z1, c.z2, c.next_z);
    pointer(c.px, c.py, 1, 0);
    Stack s = stack();
    EXPECT_EQ(s.drag_index, c.hit);
    EXPECT_EQ((std::array<int32_t, 3>{s.windows[0].z, s.windows[1].z, s.windows[2].z}), c.z);
    EXPECT_EQ(s.next_z, c.next_after);
    EXPECT_EQ(active(), c.hit);
  }
  // Many raises past the top keep the numbers distinct, positive and next_z the greatest.
  window_stack_init_again();
  set_z(kMax - 2, kMax - 1, kMax, kMax);
  const int32_t clicks[][2] = {{80, 80}, {200, 200}, {480, 100}, {80, 80}, {80, 80}};
  for (const auto& at : clicks) {
    click(at[0], at[1]);
    Stack s = stack();
    int32_t z[3] = {s.windows[0].z, s.windows[1].z, s.windows[2].z};
    EXPECT_GT(std::min({z[0], z[1], z[2]}), 0);
    EXPECT_NE(z[0], z[1]);
    EXPECT_NE(z[1], z[2]);
    EXPECT_NE(z[0], z[2]);
    EXPECT_EQ(s.next_z, std::max({z[0], z[1], z[2]}));
  }
}

}  // namespace
