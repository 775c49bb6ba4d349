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

// The i386 layout of Window and WindowStack.
struct Window {
  int32_t x, y, w, h;
  uint8_t r, g, b, pad;
  int32_t z;
};
struct Stack {
  Window windows[3];
  int32_t next_z, drag_index, grab_dx, grab_dy;
};
static_assert(sizeof(Stack) == 88);

using Z = std::array<int32_t, 3>;
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

uint32_t u(int32_t v) { return static_cast<uint32_t>(v); }
std::vector<uint8_t> bytes(const Stack& s) {
  auto p = reinterpret_cast<const uint8_t*>(&s);
  return {p, p + sizeof s};
}

class WindowStackTest : public ::testing::Test {
 protected:
  WindowStackTest() : g_("stack_demo"), addr_(g_.alloc(sizeof(Stack))) { init(); }

  void init() { g_.call("window_stack_init", {addr_}); }
  Stack stack() {
    Stack s;
    std::memcpy(&s, g_.read(addr_, sizeof s).data(), sizeof s);
    return s;
  }
  // The stacking numbers sit 20 bytes into each 24-byte window; next_z follows the windows.
  void set_z(Z z, int32_t next_z) {
    for (int i = 0; i < 3; ++i) g_.set_u32(addr_ + 24 * i + 20, u(z[i]));
    g_.set_u32(addr_ + 72, u(next_z));
  }
  void pointer(int32_t px, int32_t py, int now, int before) {
    g_.call("window_stack_pointer", {addr_, u(px), u(py), u(now), u(before)});
  }
  int32_t active() { return g_.calli("window_stack_active", {addr_}); }
  Z order() {
    uint32_t out = g_.alloc(12);
    g_.call("window_stack_order", {addr_, out});
    return {int32_t(g_.u32(out)), int32_t(g_.u32(out + 4)), int32_t(g_.u32(out + 8))};
  }

  nuv::test::Guest g_;
  uint32_t addr_;
};

// Window 0 spans x 80..269, y 80..197; window 1 x 180..399, y 120..251; window 2 x 320..489,
// y 92..201. A press raises the top-most window under the pointer with a new number, which
// lifts every number to 1, 2, 3 first when next_z has reached the top of the range.
TEST_F(WindowStackTest, APressHitsTheTopMostWindowAndRaisesIt) {
  struct Case {
    Z z;
    int32_t next_z, px, py, hit;  // -1: nothing, and nothing changes
    Z z_after;
    int32_t next_after;
  } cases[] = {
      {{1, 2, 3}, 3, 80, 80, 0, {4, 2, 3}, 4},  // corners and edges belong to the window
      {{1, 2, 3}, 3, 269, 80, 0, {4, 2, 3}, 4},
      {{1, 2, 3}, 3, 80, 197, 0, {4, 2, 3}, 4},
      {{1, 2, 3}, 3, 270, 100, -1, {}, 0},  // one past each edge of window 0
      {{1, 2, 3}, 3, 80, 198, -1, {}, 0},
      {{1, 2, 3}, 3, 79, 100, -1, {}, 0},
      {{1, 2, 3}, 3, 100, 79, -1, {}, 0},
      {{1, 2, 3}, 3, 200, 150, 1, {1, 4, 3}, 4},  // overlaps: the higher window
      {{1, 2, 3}, 3, 350, 150, 2, {1, 2, 4}, 4},
      {{1, 2, 3}, 3, kMax, kMax, -1, {}, 0},
      {{5, 5, 5}, 5, 350, 150, 1, {5, 6, 5}, 6},  // equal numbers: the lower index
      {{kMax - 3, kMax - 2, kMax - 1}, kMax - 1, 80, 80, 0, {kMax, kMax - 2, kMax - 1}, kMax},
      {{kMax - 2, kMax, kMax - 1}, kMax, 80, 80, 0, {4, 3, 2}, 4},  // renumbered, then raised
      {{7, kMax, 1000}, kMax, 480, 100, 2, {1, 3, 4}, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "z " << testing::PrintToString(c.z) << " press at " << c.px << "," << c.py);
    init();
    set_z(c.z, c.next_z);
    // A press moves nothing; on empty space it changes nothing at all.
    Stack want = stack();
    if (c.hit >= 0) {
      for (int i = 0; i < 3; ++i) want.windows[i].z = c.z_after[i];
      want.next_z = c.next_after;
      want.drag_index = c.hit;
      want.grab_dx = c.px - want.windows[c.hit].x;
      want.grab_dy = c.py - want.windows[c.hit].y;
    }
    pointer(c.px, c.py, 1, 0);
    EXPECT_EQ(g_.read(addr_, sizeof want), bytes(want));
    if (c.hit < 0) continue;
    EXPECT_EQ(active(), c.hit);
  }
}

// A press on window 0 at (80, 80) grabs it 20, 10 inside. Held, the window follows the pointer
// within the left and top limits, and stays through a frame without movement; dragged to the
// far right, its right edge lies past the 32-bit range, yet it still takes presses. A release
// frame moves nothing; with the button up, or after a press on empty space, moving over a
// window neither raises nor moves it.
TEST_F(WindowStackTest, ADragFollowsThePointerWithinTheLeftAndTopLimitsUntilRelease) {
  struct Case {
    int32_t px, py, now, x, y, drag, next_z;  // x and y of window 0 after the frame
  } cases[] = {{100, 90, 1, 80, 80, 0, 4},
               {110, 95, 1, 90, 85, 0, 4},
               {10, 5, 1, 0, 16, 0, 4},
               {19, 200, 1, 0, 190, 0, 4},
               {20, 26, 1, 0, 16, 0, 4},
               {21, 27, 1, 1, 17, 0, 4},
               {300, 20, 1, 280, 16, 0, 4},
               {150, 140, 1, 130, 130, 0, 4},
               {150, 140, 1, 130, 130, 0, 4},
               {kMax, kMax, 1, kMax - 20, kMax - 10, 0, 4},
               {kMin, 0, 1, 0, 16, 0, 4},
               {kMax, 90, 1, kMax - 20, 80, 0, 4},
               {kMax, 90, 0, kMax - 20, 80, -1, 4},
               {kMax, 100, 1, kMax - 20, 80, 0, 5},
               {600, 340, 1, 580, 320, 0, 5},
               {630, 350, 0, 580, 320, -1, 5},
               {20, 20, 0, 580, 320, -1, 5},
               {5, 300, 1, 580, 320, -1, 5},
               {200, 150, 1, 580, 320, -1, 5},
               {250, 200, 1, 580, 320, -1, 5}};
  int32_t before = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "pointer at " << c.px << "," << c.py << " button " << c.now);
    pointer(c.px, c.py, c.now, before);
    before = c.now;
    Stack s = stack();
    EXPECT_EQ(s.windows[0].x, c.x);
    EXPECT_EQ(s.windows[0].y, c.y);
    EXPECT_EQ(s.drag_index, c.drag);
    EXPECT_EQ(s.next_z, c.next_z) << "holding the button raises only once";
    EXPECT_EQ(s.windows[0].z, c.next_z);
    EXPECT_EQ(s.windows[1].x, 180) << "other windows stay";
    EXPECT_EQ(s.windows[1].y, 120);
  }
}

TEST_F(WindowStackTest, OrderAndActiveFollowTheStackingNumbers) {
  struct Case {
    Z z, order;
    int32_t active;
  } cases[] = {
      {{1, 2, 3}, {0, 1, 2}, 2}, {{4, 2, 3}, {1, 2, 0}, 0}, {{4, 5, 3}, {2, 0, 1}, 1},
      {{3, 2, 1}, {2, 1, 0}, 0}, {{5, 5, 5}, {0, 1, 2}, 0}, {{3, 1, 3}, {1, 0, 2}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.z));
    set_z(c.z, *std::max_element(c.z.begin(), c.z.end()));
    EXPECT_EQ(order(), c.order);
    EXPECT_EQ(active(), c.active);
  }
}

}  // namespace
