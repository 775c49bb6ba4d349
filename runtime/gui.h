/* Compositor services: windows, drawing, input events. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Names one compositor window; negative reports failure. */
typedef int32_t GuiHandle;

typedef struct GuiColor {
  uint8_t r;
  uint8_t g;
  uint8_t b;
  uint8_t zero; /* always 0 */
} GuiColor;

typedef struct GuiRect {
  int32_t x;
  int32_t y;
  int32_t w;
  int32_t h;
  GuiColor color;
} GuiRect;

typedef struct GuiText {
  int32_t x;
  int32_t y;
  GuiColor color;
  const char *text;
} GuiText;

typedef struct GuiSize {
  int32_t width;
  int32_t height;
} GuiSize;

enum { GUI_EVENT_KEY = 1, GUI_EVENT_POINTER = 2 };

/* Key: word1 is the key code. Pointer: word1 x, word2 y, word3 button bits (bit 0 primary). */
typedef struct GuiEvent {
  int32_t type;
  int32_t word1;
  int32_t word2;
  int32_t word3;
  int32_t word4;
} GuiEvent;

GuiHandle gui_create(const char *title, const char *subtitle);
GuiHandle gui_attach(const char *title, const char *subtitle);
int gui_set_title(GuiHandle handle, const char *title);
int gui_begin(GuiHandle handle);
int gui_clear(GuiHandle handle, const GuiColor *color);
int gui_fill_rect(GuiHandle handle, const GuiRect *rect);
int gui_draw_text(GuiHandle handle, const GuiText *text);
int gui_present(GuiHandle handle);
int gui_poll_event(GuiHandle handle, GuiEvent *event);
int gui_wait_event(GuiHandle handle, GuiEvent *event);
int gui_draw_line(GuiHandle handle, const void *line);
int gui_get_content_size(GuiHandle handle, GuiSize *size);
int gui_set_font(GuiHandle handle, const void *font);
int gui_set_continuous_redraw(GuiHandle handle, int flag);
int gui_blit_rgb565(GuiHandle handle, const void *image);
int gui_draw_icon(GuiHandle handle, const void *icon);
int gui_outline_rect(GuiHandle handle, const GuiRect *rect);
int gui_draw_char(GuiHandle handle, const void *glyph);
int gui_get_font_metrics(GuiHandle handle, void *metrics);
int gui_warp_mouse(GuiHandle handle, int x, int y);
int gui_set_cursor_visible(GuiHandle handle, int visible);
int gui_load_font(const char *path, void *font);
int gui_draw_text_font(GuiHandle handle, const void *text);
int gui_draw_char_font(GuiHandle handle, const void *glyph);

#ifdef __cplusplus
}
#endif
