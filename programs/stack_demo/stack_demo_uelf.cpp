#include "stack_demo_uelf.h"

#include <stdint.h>

#include "gui.h"
#include "nuvrelos.h"
#include "stdio.h"
#include "string.h"
#include "unistd.h"

static_assert(sizeof(Window) == 24, "Window layout is read by the tests");
static_assert(sizeof(WindowStack) == 88, "WindowStack layout is read by the tests");

namespace {

const int32_t kTile = 24;
const int32_t kTitleBarHeight = 14;
const int32_t kTopLimit = 16;
const int32_t kDefaultWidth = 640;
const int32_t kDefaultHeight = 360;
const unsigned kFramePauseUs = 16666;
const uint32_t kFramesPerPhase = 10;

const GuiColor kBackground = {30, 30, 30, 0};
const GuiColor kTileOdd = {48, 48, 48, 0};
const GuiColor kTitleActive = {255, 236, 145, 0};
const GuiColor kTitleInactive = {220, 210, 180, 0};
const GuiColor kBannerColor = {222, 222, 222, 0};
const GuiColor kStatusColor = {210, 225, 255, 0};

// Positions are compared and moved in 64 bits: a window dragged far to the right, or a pointer
// reported far to the left, must not wrap around the 32-bit range.
bool contains(const Window *win, int32_t px, int32_t py) {
  return win->x <= px && int64_t{px} < int64_t{win->x} + win->w && win->y <= py &&
         int64_t{py} < int64_t{win->y} + win->h;
}

// Top-most window under the pointer; on equal stacking numbers the lower index wins.
int32_t hit_test(const WindowStack *stack, int32_t px, int32_t py) {
  int32_t hit = -1;
  for (int32_t i = 0; i < WINDOW_COUNT; ++i) {
    const Window *win = &stack->windows[i];
    if (contains(win, px, py) && (hit < 0 || win->z > stack->windows[hit].z)) hit = i;
  }
  return hit;
}

// Stacking numbers only grow, so after two thousand million raises they would run out:
// renumber the windows 1..3 in their present order first, which keeps them distinct and
// positive and keeps next_z the greatest.
int32_t take_next_z(WindowStack *stack) {
  if (stack->next_z >= INT32_MAX) {
    int32_t order[WINDOW_COUNT];
    window_stack_order(stack, order);
    for (int32_t i = 0; i < WINDOW_COUNT; ++i) stack->windows[order[i]].z = i + 1;
    stack->next_z = WINDOW_COUNT;
  }
  stack->next_z += 1;
  return stack->next_z;
}

// The grab offsets are never negative, so the difference can only fall below the 32-bit range,
// where the limit applies anyway.
void drag_step(WindowStack *stack, int32_t px, int32_t py) {
  Window *win = &stack->windows[stack->drag_index];
  int64_t x = int64_t{px} - stack->grab_dx;
  int64_t y = int64_t{py} - stack->grab_dy;
  win->x = x > 0 ? static_cast<int32_t>(x) : 0;
  win->y = y > kTopLimit ? static_cast<int32_t>(y) : kTopLimit;
}

void set_window(Window *win, int32_t x, int32_t y, int32_t w, int32_t h, uint8_t r, uint8_t g,
                uint8_t b, int32_t z) {
  win->x = x;
  win->y = y;
  win->w = w;
  win->h = h;
  win->r = r;
  win->g = g;
  win->b = b;
  win->z = z;
}

// Guest stores are what an emulated frame pays most for: the colour goes in as one word.
void fill(GuiHandle handle, int32_t x, int32_t y, int32_t w, int32_t h, const GuiColor *color) {
  GuiRect rect;
  rect.x = x;
  rect.y = y;
  rect.w = w;
  rect.h = h;
  __builtin_memcpy(&rect.color, color, sizeof rect.color);
  gui_fill_rect(handle, &rect);
}

void text(GuiHandle handle, int32_t x, int32_t y, GuiColor color, const char *line) {
  GuiText record;
  record.x = x;
  record.y = y;
  record.color = color;
  record.text = line;
  gui_draw_text(handle, &record);
}

void draw_checkerboard(GuiHandle handle, int32_t width, int32_t height, uint32_t frame) {
  uint32_t phase = frame / kFramesPerPhase;
  // Unsigned positions: the last step past a huge width or height must not overflow.
  for (uint32_t y = 0; y < static_cast<uint32_t>(height); y += kTile) {
    for (uint32_t x = 0; x < static_cast<uint32_t>(width); x += kTile) {
      bool odd = ((x / kTile + y / kTile + phase) & 1u) != 0;
      fill(handle, static_cast<int32_t>(x), static_cast<int32_t>(y), kTile, kTile,
           odd ? &kTileOdd : &kBackground);
    }
  }
}

bool is_quit_key(int32_t code) {
  uint32_t key = static_cast<uint32_t>(code);
  return (key & ~0x20u) == 'Q' || key == GUI_KEY_ESCAPE;
}

}  // namespace

NUVRELOS_COMMAND("stack_demo", "Open compositor stack demo.");

extern "C" {

void window_stack_init(WindowStack *stack) {
  set_window(&stack->windows[0], 80, 80, 190, 118, 58, 88, 145, 1);
  set_window(&stack->windows[1], 180, 120, 220, 132, 112, 76, 150, 2);
  set_window(&stack->windows[2], 320, 92, 170, 110, 72, 122, 86, 3);
  stack->next_z = 3;
  stack->drag_index = -1;
  stack->grab_dx = 0;
  stack->grab_dy = 0;
}

void window_stack_pointer(WindowStack *stack, int32_t px, int32_t py, int32_t now, int32_t before) {
  if (now == 1 && before == 0) {
    int32_t hit = hit_test(stack, px, py);
    if (hit < 0) return;
    Window *win = &stack->windows[hit];
    stack->drag_index = hit;
    // The window contains the pointer, so both offsets lie in 0 .. INT32_MAX.
    stack->grab_dx = px - win->x;
    stack->grab_dy = py - win->y;
    win->z = take_next_z(stack);
    drag_step(stack, px, py);
  } else if (stack->drag_index != -1 && now == 1) {
    drag_step(stack, px, py);
  } else if (before == 1 && now == 0) {
    stack->drag_index = -1;
  }
}

int32_t window_stack_active(const WindowStack *stack) {
  int32_t top = 0;
  for (int32_t i = 1; i < WINDOW_COUNT; ++i) {
    if (stack->windows[i].z > stack->windows[top].z) top = i;
  }
  return top;
}

void window_stack_order(const WindowStack *stack, int32_t order[WINDOW_COUNT]) {
  for (int32_t i = 0; i < WINDOW_COUNT; ++i) order[i] = i;
  for (int32_t p = 0; p < WINDOW_COUNT - 1; ++p) {
    for (int32_t q = p + 1; q < WINDOW_COUNT; ++q) {
      if (stack->windows[order[p]].z > stack->windows[order[q]].z) {
        int32_t swap = order[p];
        order[p] = order[q];
        order[q] = swap;
      }
    }
  }
}

void compose_frame(GuiHandle handle, const WindowStack *stack, int32_t width, int32_t height,
                   uint32_t frame, int32_t px, int32_t py, int32_t active) {
  gui_begin(handle);
  GuiColor clear = kBackground;
  gui_clear(handle, &clear);
  draw_checkerboard(handle, width, height, frame);

  int32_t order[WINDOW_COUNT];
  window_stack_order(stack, order);
  for (int32_t i = 0; i < WINDOW_COUNT; ++i) {
    int32_t k = order[i];
    const Window *win = &stack->windows[k];
    GuiColor body = {win->r, win->g, win->b, 0};
    fill(handle, win->x, win->y, win->w, win->h, &body);
    fill(handle, win->x, win->y, win->w, kTitleBarHeight,
         k == active ? &kTitleActive : &kTitleInactive);
  }

  text(handle, 8, 6, kBannerColor, "Stack Demo: drag coloured windows, click to raise");
  char status[120];
  snprintf(status, sizeof status, "mouse=%d,%d  active=%d  q/esc quits", static_cast<int>(px),
           static_cast<int>(py), static_cast<int>(active + 1));
  text(handle, 8, height - 14, kStatusColor, status);
  gui_present(handle);
}

}  // extern "C"

int main(int argc, char **argv) {
  if (argc > 1 && argv[1] != nullptr && strcmp(argv[1], "-h") == 0) {
    puts("Usage: stack_demo");
    return 0;
  }

  GuiHandle handle = gui_create("Stack Demo", "drag/click to stack");
  if (handle < 0) handle = gui_attach("Stack Demo", "drag/click to stack");
  if (handle < 0) {
    puts("stack_demo: failed to initialize GUI");
    return 1;
  }
  gui_set_continuous_redraw(handle, 1);

  WindowStack stack;
  window_stack_init(&stack);
  int32_t px = 0;
  int32_t py = 0;
  int32_t button_before = 0;
  uint32_t frame = 0;
  GuiEvent event = {0, 0, 0, 0, 0};

  for (;;) {
    bool running = true;
    int32_t button_now = button_before;
    // Only the state after the last pending event counts: a press and release within one
    // frame make no edge.
    while (gui_poll_event(handle, &event) > 0) {
      if (event.type == GUI_EVENT_KEY) {
        if (is_quit_key(event.word1)) running = false;
      } else if (event.type == GUI_EVENT_POINTER) {
        px = event.word1;
        py = event.word2;
        button_now = event.word3 & 1;
      }
    }
    window_stack_pointer(&stack, px, py, button_now, button_before);
    int32_t active = window_stack_active(&stack);
    uint32_t next_frame = frame + 1u;

    GuiSize size = {0, 0};
    gui_get_content_size(handle, &size);
    int32_t width = size.width > 0 ? size.width : kDefaultWidth;
    int32_t height = size.height > 0 ? size.height : kDefaultHeight;
    compose_frame(handle, &stack, width, height, frame, px, py, active);
    usleep(kFramePauseUs);

    if (!running) break;
    frame = next_frame;
    button_before = button_now;
  }

  if (gui_set_continuous_redraw(handle, 0) != 0) {
    puts("stack_demo: warning: failed to disable redraw");
  }
  return 0;
}
