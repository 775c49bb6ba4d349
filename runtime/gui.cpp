#include "gui.h"

#include "syscall.h"

namespace {

uint32_t addr(const void *p) { return reinterpret_cast<uint32_t>(p); }

int32_t pair(uint32_t service, uint32_t a, const void *b) {
  return nuvrelos_syscall_inline(service, a, addr(b), 0);
}

}  // namespace

extern "C" {

GuiHandle gui_create(const char *title, const char *subtitle) {
  return pair(SVC_gui_create, addr(title), subtitle);
}
GuiHandle gui_attach(const char *title, const char *subtitle) {
  return pair(SVC_gui_attach, addr(title), subtitle);
}
int gui_set_title(GuiHandle h, const char *title) { return pair(SVC_gui_set_title, h, title); }
int gui_begin(GuiHandle h) { return nuvrelos_syscall_inline(SVC_gui_begin, h, 0, 0); }
int gui_clear(GuiHandle h, const GuiColor *c) { return pair(SVC_gui_clear, h, c); }
int gui_fill_rect(GuiHandle h, const GuiRect *r) { return pair(SVC_gui_fill_rect, h, r); }
int gui_draw_text(GuiHandle h, const GuiText *t) { return pair(SVC_gui_draw_text, h, t); }
int gui_present(GuiHandle h) { return nuvrelos_syscall_inline(SVC_gui_present, h, 0, 0); }
int gui_poll_event(GuiHandle h, GuiEvent *e) {
  return nuvrelos_syscall_inline(SVC_gui_poll_event, h, addr(e), sizeof(GuiEvent));
}
int gui_wait_event(GuiHandle h, GuiEvent *e) {
  return nuvrelos_syscall_inline(SVC_gui_wait_event, h, addr(e), sizeof(GuiEvent));
}
int gui_draw_line(GuiHandle h, const void *line) { return pair(SVC_gui_draw_line, h, line); }
int gui_get_content_size(GuiHandle h, GuiSize *s) { return pair(SVC_gui_get_content_size, h, s); }
int gui_set_font(GuiHandle h, const void *font) { return pair(SVC_gui_set_font, h, font); }
int gui_set_continuous_redraw(GuiHandle h, int flag) {
  return nuvrelos_syscall_inline(SVC_gui_set_continuous_redraw, h, flag, 0);
}
int gui_blit_rgb565(GuiHandle h, const void *image) { return pair(SVC_gui_blit_rgb565, h, image); }
int gui_draw_icon(GuiHandle h, const void *icon) { return pair(SVC_gui_draw_icon, h, icon); }
int gui_outline_rect(GuiHandle h, const GuiRect *r) { return pair(SVC_gui_outline_rect, h, r); }
int gui_draw_char(GuiHandle h, const void *glyph) { return pair(SVC_gui_draw_char, h, glyph); }
int gui_get_font_metrics(GuiHandle h, void *metrics) {
  return pair(SVC_gui_get_font_metrics, h, metrics);
}
int gui_warp_mouse(GuiHandle h, int x, int y) {
  return nuvrelos_syscall_inline(SVC_gui_warp_mouse, h, x, y);
}
int gui_set_cursor_visible(GuiHandle h, int visible) {
  return nuvrelos_syscall_inline(SVC_gui_set_cursor_visible, h, visible, 0);
}
int gui_load_font(const char *path, void *font) {
  return pair(SVC_gui_load_font, addr(path), font);
}
int gui_draw_text_font(GuiHandle h, const void *text) {
  return pair(SVC_gui_draw_text_font, h, text);
}
int gui_draw_char_font(GuiHandle h, const void *glyph) {
  return pair(SVC_gui_draw_char_font, h, glyph);
}

}  // extern "C"
