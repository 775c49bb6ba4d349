/* Compositor services: windows, drawing, input events. The records they pass (GuiRect,
   GuiText, GuiEvent, ...) and the event and key codes are in abi/gui_records.h. */
#pragma once

#include <stdint.h>

#include "abi/gui_records.h"

#ifdef __cplusplus
extern "C" {
#endif

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
