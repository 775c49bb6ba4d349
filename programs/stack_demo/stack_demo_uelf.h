/* The stack demo: three coloured rectangles that a press raises and a held button drags,
   redrawn whole every frame inside one compositor window. */
#pragma once

#include <stdint.h>

#include "gui.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct Window {
  int32_t x; /* left edge, content pixels; never below 0 */
  int32_t y; /* top edge; never below 16 */
  int32_t w;
  int32_t h;
  uint8_t r;
  uint8_t g;
  uint8_t b;
  int32_t z; /* stacking number; the greatest is on top */
} Window;

enum { WINDOW_COUNT = 3 };

typedef struct WindowStack {
  Window windows[WINDOW_COUNT];
  int32_t next_z;     /* the last stacking number handed out, the greatest in use */
  int32_t drag_index; /* -1 when no drag is in progress */
  int32_t grab_dx;    /* pointer minus window position at the press that started the drag */
  int32_t grab_dy;
} WindowStack;

void window_stack_init(WindowStack *stack);
/* Once per frame: the pointer and the primary button (0 or 1) now and at the previous frame. */
void window_stack_pointer(WindowStack *stack, int32_t px, int32_t py, int32_t now, int32_t before);
/* Index of the top-most window. */
int32_t window_stack_active(const WindowStack *stack);
/* The window indices from the lowest stacking number to the highest: the painting order. */
void window_stack_order(const WindowStack *stack, int32_t order[WINDOW_COUNT]);

/* Draws and presents one whole frame; width and height must be positive. */
void compose_frame(GuiHandle handle, const WindowStack *stack, int32_t width, int32_t height,
                   uint32_t frame, int32_t px, int32_t py, int32_t active);

#ifdef __cplusplus
}
#endif
