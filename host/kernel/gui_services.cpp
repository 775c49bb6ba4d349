// GUI services: the program's records, read and stored by the argument types, handed to the
// compositor.
#include <string_view>

#include "host/gui/compositor.h"
#include "host/gui/surface.h"
#include "host/kernel/kernel.h"
#include "host/kernel/service_handlers.h"

namespace nuv {
namespace {

uint32_t pixel_of(const GuiColor& c) { return rgb(c.r, c.g, c.b); }

std::string_view subtitle_of(const OrNull<GuiTitle>& subtitle) {
  return subtitle.given ? std::string_view(subtitle) : std::string_view();
}

// gui_poll_event and gui_wait_event: the event leaves the queue only once it is stored, and
// no more of it than the caller's room allows.
int32_t next_event(Kernel& k, GuiWindow window, GuestOutUpTo<GuiEvent, 3>& event, bool wait) {
  GuiEvent pending{};
  if (!k.compositor().peek_event(*window, &pending, wait)) return 0;
  TRY(event.put(pending));
  k.compositor().drop_event(*window);
  return 1;
}

}  // namespace

int32_t svc_gui_create(Kernel& k, const GuiTitle& title, const OrNull<GuiTitle>& subtitle) {
  return k.compositor().create(title, subtitle_of(subtitle));
}

int32_t svc_gui_attach(Kernel& k, const GuiTitle& title, const OrNull<GuiTitle>& subtitle) {
  return k.compositor().attach(title, subtitle_of(subtitle));
}

int32_t svc_gui_set_title(Kernel& k, GuiWindow window, const GuiTitle& title) {
  k.compositor().set_title(*window, title);
  return 0;
}

int32_t svc_gui_begin(Kernel&, GuiWindow) { return 0; }

int32_t svc_gui_clear(Kernel& k, GuiWindow window, const GuestIn<GuiColor>& color) {
  k.compositor().clear(*window, pixel_of(*color));
  return 0;
}

int32_t svc_gui_fill_rect(Kernel& k, GuiWindow window, const GuestIn<GuiRect>& r) {
  k.compositor().fill_rect(*window, r->x, r->y, r->w, r->h, pixel_of(r->color));
  return 0;
}

int32_t svc_gui_outline_rect(Kernel& k, GuiWindow window, const GuestIn<GuiRect>& r) {
  k.compositor().outline_rect(*window, r->x, r->y, r->w, r->h, pixel_of(r->color));
  return 0;
}

int32_t svc_gui_draw_text(Kernel& k, GuiWindow window, const GuestIn<GuiText>& t) {
  k.compositor().draw_text(*window, t->x, t->y, pixel_of(t->color), *t.text);
  return 0;
}

int32_t svc_gui_present(Kernel& k, GuiWindow window) { return k.compositor().present(*window); }

int32_t svc_gui_poll_event(Kernel& k, GuiWindow window, GuestOutUpTo<GuiEvent, 3>& event, Count) {
  return next_event(k, window, event, false);
}

int32_t svc_gui_wait_event(Kernel& k, GuiWindow window, GuestOutUpTo<GuiEvent, 3>& event, Count) {
  return next_event(k, window, event, true);
}

int32_t svc_gui_get_content_size(Kernel& k, GuiWindow window, GuestOut<GuiSize>& size) {
  TRY(size.put(k.compositor().content_size(*window)));
  return 0;
}

int32_t svc_gui_set_continuous_redraw(Kernel& k, GuiWindow window, Flag on) {
  k.compositor().set_continuous_redraw(*window, on);
  return 0;
}

// The glyph width and height of the font gui_draw_text uses.
int32_t svc_gui_get_font_metrics(Kernel& k, GuiWindow window, GuestOut<GuiSize>& metrics) {
  TRY(metrics.put(k.compositor().font_metrics(*window)));
  return 0;
}

int32_t svc_gui_warp_mouse(Kernel& k, GuiWindow window, Int x, Int y) {
  return k.compositor().warp_pointer(*window, x, y);
}

int32_t svc_gui_set_cursor_visible(Kernel& k, GuiWindow window, Flag on) {
  k.compositor().set_cursor_visible(*window, on);
  return 0;
}

}  // namespace nuv
