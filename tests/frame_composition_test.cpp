// One frame of the demo, composed by compose_frame inside the stack_demo executable; the GUI
// services are answered by scripts that keep the records as they were at each call.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "tests/harness/guest.h"

namespace {

struct Rect {
  int32_t x, y, w, h;
  uint8_t r, g, b, zero;
};
struct Text {
  int32_t x, y;
  uint8_t r, g, b, zero;
  std::string text;
};
struct Color {
  uint8_t r, g, b, zero;
  bool operator==(const Color&) const = default;
};

constexpr uint32_t kHandle = 7;
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

uint32_t u(int32_t v) { return static_cast<uint32_t>(v); }
Color color_of(const Rect& r) { return {r.r, r.g, r.b, r.zero}; }
Color color_of(const Text& t) { return {t.r, t.g, t.b, t.zero}; }

class FrameTest : public ::testing::Test {
 protected:
  FrameTest() : g_("stack_demo"), stack_(g_.alloc(88)) {
    g_.call("window_stack_init", {stack_});
    auto answer = std::optional<int32_t>(0);
    g_.kernel().script(SVC_gui_clear, [this, answer](nuv::ServiceCall& c) {
      auto bytes = g_.read(c.slots[1], 4);
      clears_.push_back({bytes[0], bytes[1], bytes[2], bytes[3]});
      return answer;
    });
    g_.kernel().script(SVC_gui_fill_rect, [this, answer](nuv::ServiceCall& c) {
      Rect r;
      auto bytes = g_.read(c.slots[1], sizeof r);
      std::memcpy(&r, bytes.data(), sizeof r);
      rects_.push_back(r);
      return answer;
    });
    g_.kernel().script(SVC_gui_draw_text, [this, answer](nuv::ServiceCall& c) {
      auto bytes = g_.read(c.slots[1], 16);
      Text t;
      t.x = static_cast<int32_t>(g_.u32(c.slots[1]));
      t.y = static_cast<int32_t>(g_.u32(c.slots[1] + 4));
      t.r = bytes[8];
      t.g = bytes[9];
      t.b = bytes[10];
      t.zero = bytes[11];
      t.text = g_.read_str(g_.u32(c.slots[1] + 12), 4096);
      texts_.push_back(t);
      return answer;
    });
    g_.kernel().script(SVC_gui_begin, [answer](nuv::ServiceCall&) { return answer; });
    g_.kernel().script(SVC_gui_present, [answer](nuv::ServiceCall&) { return answer; });
  }

  void compose(int32_t width, int32_t height, uint32_t frame = 0, int32_t px = 0, int32_t py = 0,
               int32_t active = 2) {
    g_.kernel().clear_calls();
    clears_.clear();
    rects_.clear();
    texts_.clear();
    g_.call("compose_frame",
            {kHandle, stack_, u(width), u(height), frame, u(px), u(py), u(active)});
  }
  void press_and_release(int32_t px, int32_t py) {
    g_.call("window_stack_pointer", {stack_, u(px), u(py), 1, 0});
    g_.call("window_stack_pointer", {stack_, u(px), u(py), 0, 1});
  }
  // The tiles are every fill before the six window fills.
  std::vector<Rect> tiles() const { return {rects_.begin(), rects_.end() - 6}; }
  std::vector<Rect> window_fills() const { return {rects_.end() - 6, rects_.end()}; }

  nuv::test::Guest g_;
  uint32_t stack_;
  std::vector<Color> clears_;
  std::vector<Rect> rects_;
  std::vector<Text> texts_;
};

TEST_F(FrameTest, AFullFrameIsBeginClearTilesWindowsTextsPresent) {
  compose(640, 360);
  const auto& calls = g_.kernel().calls();
  ASSERT_EQ(calls.size(), 416u);
  std::vector<uint32_t> expected = {SVC_gui_begin, SVC_gui_clear};
  expected.insert(expected.end(), 405 + 6, SVC_gui_fill_rect);
  expected.insert(expected.end(), {SVC_gui_draw_text, SVC_gui_draw_text, SVC_gui_present});
  for (size_t i = 0; i < calls.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(calls[i].number, expected[i]);
    EXPECT_EQ(calls[i].slots[0], kHandle);
  }
  ASSERT_EQ(clears_.size(), 1u);
  EXPECT_EQ(clears_[0], (Color{30, 30, 30, 0}));
  // Row by row from the top-left, every tile whole.
  auto grid = tiles();
  ASSERT_EQ(grid.size(), 405u);
  for (size_t i = 0; i < grid.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(grid[i].x, static_cast<int32_t>(24 * (i % 27)));
    EXPECT_EQ(grid[i].y, static_cast<int32_t>(24 * (i / 27)));
    EXPECT_EQ(grid[i].w, 24);
    EXPECT_EQ(grid[i].h, 24);
  }
}

TEST_F(FrameTest, TilesCoverTheContentAreaWithoutCuttingTheEdges) {
  struct Case {
    int32_t width, height;
    int32_t columns, rows;
  } cases[] = {
      {640, 360, 27, 15}, {24, 24, 1, 1}, {25, 24, 2, 1},     {24, 25, 1, 2},
      {1, 1, 1, 1},       {48, 47, 2, 2}, {800, 600, 34, 25},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    compose(c.width, c.height);
    auto grid = tiles();
    ASSERT_EQ(grid.size(), static_cast<size_t>(c.columns * c.rows));
    EXPECT_EQ(grid.back().x, 24 * (c.columns - 1));
    EXPECT_EQ(grid.back().y, 24 * (c.rows - 1));
    EXPECT_EQ(grid[c.columns - 1].y, 0) << "the first row ends at the last column";
    EXPECT_EQ(g_.kernel().calls().size(), static_cast<size_t>(c.columns * c.rows + 11));
  }
}

TEST_F(FrameTest, CheckerboardSwapsEveryTenFrames) {
  struct Case {
    uint32_t frame;
    uint8_t first;  // shade of the tile at (0, 0)
  } cases[] = {
      {0, 30}, {1, 30}, {9, 30}, {10, 48}, {19, 48}, {20, 30}, {4294967295u, 48},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "frame " << c.frame);
    compose(640, 360, c.frame);
    auto grid = tiles();
    ASSERT_EQ(grid.size(), 405u);
    EXPECT_EQ(grid[0].r, c.first);
    for (size_t i = 0; i < grid.size(); ++i) {
      uint32_t column = i % 27, row = i / 27;
      bool same = (column + row) % 2 == 0;
      uint8_t shade = same ? c.first : (c.first == 30 ? 48 : 30);
      ASSERT_EQ(color_of(grid[i]), (Color{shade, shade, shade, 0})) << "tile " << i;
    }
  }
}

TEST_F(FrameTest, WindowsArePaintedBottomToTopWithTheActiveTitleBarHighlighted) {
  struct Case {
    const char* name;
    std::vector<std::pair<int32_t, int32_t>> clicks;
    int32_t active;
    std::vector<int32_t> order;
  } cases[] = {
      {"initial stack", {}, 2, {0, 1, 2}},
      {"window 0 raised", {{80, 80}}, 0, {1, 2, 0}},
      {"then window 1 raised", {{200, 200}}, 1, {2, 0, 1}},
  };
  const int32_t geometry[3][4] = {{80, 80, 190, 118}, {180, 120, 220, 132}, {320, 92, 170, 110}};
  const Color body[3] = {{58, 88, 145, 0}, {112, 76, 150, 0}, {72, 122, 86, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (auto [x, y] : c.clicks) press_and_release(x, y);
    compose(640, 360, 0, 0, 0, c.active);
    auto fills = window_fills();
    for (size_t i = 0; i < 3; ++i) {
      int32_t k = c.order[i];
      SCOPED_TRACE(testing::Message() << "window " << k);
      const Rect& b = fills[2 * i];
      const Rect& bar = fills[2 * i + 1];
      EXPECT_EQ((std::vector<int32_t>{b.x, b.y, b.w, b.h}),
                (std::vector<int32_t>(geometry[k], geometry[k] + 4)));
      EXPECT_EQ(color_of(b), body[k]);
      EXPECT_EQ((std::vector<int32_t>{bar.x, bar.y, bar.w, bar.h}),
                (std::vector<int32_t>{geometry[k][0], geometry[k][1], geometry[k][2], 14}));
      EXPECT_EQ(color_of(bar),
                k == c.active ? (Color{255, 236, 145, 0}) : (Color{220, 210, 180, 0}));
    }
  }
}

TEST_F(FrameTest, DraggedWindowIsDrawnWhereItNowIs) {
  g_.call("window_stack_pointer", {stack_, 100, 90, 1, 0});
  g_.call("window_stack_pointer", {stack_, 700, 5, 1, 1});
  compose(640, 360, 0, 700, 5, 0);
  auto fills = window_fills();
  EXPECT_EQ(fills[4].x, 680);  // painted last: the raised window
  EXPECT_EQ(fills[4].y, 16);
  EXPECT_EQ(fills[4].w, 190);
  EXPECT_EQ(fills[4].h, 118);
}

TEST_F(FrameTest, BannerAndStatusLine) {
  struct Case {
    int32_t px, py, active, height;
    const char* status;
    int32_t status_y;
  } cases[] = {
      {0, 0, 2, 360, "mouse=0,0  active=3  q/esc quits", 346},
      {-5, 7, 0, 360, "mouse=-5,7  active=1  q/esc quits", 346},
      {639, 359, 1, 10, "mouse=639,359  active=2  q/esc quits", -4},
      {kMin, kMin, 2, 1, "mouse=-2147483648,-2147483648  active=3  q/esc quits", -13},
      {kMax, kMax, 2, 600, "mouse=2147483647,2147483647  active=3  q/esc quits", 586},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    compose(640, c.height, 0, c.px, c.py, c.active);
    ASSERT_EQ(texts_.size(), 2u);
    const Text& banner = texts_[0];
    EXPECT_EQ(banner.text, "Stack Demo: drag coloured windows, click to raise");
    EXPECT_EQ(banner.x, 8);
    EXPECT_EQ(banner.y, 6);
    EXPECT_EQ(color_of(banner), (Color{222, 222, 222, 0}));
    const Text& status = texts_[1];
    EXPECT_EQ(status.text, c.status);
    EXPECT_EQ(status.x, 8);
    EXPECT_EQ(status.y, c.status_y);
    EXPECT_EQ(color_of(status), (Color{210, 225, 255, 0}));
  }
}

}  // namespace
