// GUI services: the guest's records in and out of guest memory; the compositor does the rest.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "host/abi/errors.h"
#include "host/gui/compositor.h"
#include "host/gui/surface.h"
#include "host/kernel/kernel.h"
#include "host/kernel/service_table.h"

namespace nuv {
namespace {

constexpr size_t kMaxTitle = 1024;
constexpr size_t kMaxText = 4096;

// The guest's records, as laid out in runtime/gui.h.
struct ColorRecord {
  uint8_t r, g, b, zero;
};
struct RectRecord {
  int32_t x, y, w, h;
  ColorRecord color;
};
struct TextRecord {
  int32_t x, y;
  ColorRecord color;
  uint32_t text;
};
static_assert(sizeof(RectRecord) == 20 && sizeof(TextRecord) == 16);

int32_t as_handle(uint32_t v) { return static_cast<int32_t>(v); }
uint32_t pixel_of(const ColorRecord& c) { return rgb(c.r, c.g, c.b); }

template <typename T>
bool record_at(Kernel& k, uint32_t addr, T& out) {
  return k.memory().copy_in(addr, &out, sizeof out);
}

// A guest string, or the error for one that cannot be read: kEFAULT when its bytes are not
// there, kEINVAL when it is longer than the limit.
int32_t guest_string(Kernel& k, uint32_t addr, size_t limit, std::string& out) {
  auto s = k.memory().read_string(addr, limit);
  if (s) {
    out = std::move(*s);
    return 0;
  }
  return k.memory().run_length(addr, limit + 1, kRead) > limit ? err::kEINVAL : err::kEFAULT;
}

// Title and subtitle of gui_create and gui_attach; a null subtitle means none.
int32_t open_with(Kernel& k, const Slots& s, bool attach) {
  std::string title, subtitle;
  if (int32_t rc = guest_string(k, s[0], kMaxTitle, title); rc < 0) return rc;
  if (s[1] != 0) {
    if (int32_t rc = guest_string(k, s[1], kMaxTitle, subtitle); rc < 0) return rc;
  }
  return attach ? k.compositor().attach(title, subtitle) : k.compositor().create(title, subtitle);
}

// gui_poll_event and gui_wait_event: the event leaves the queue only once it is stored, and
// no more of it than the caller's third argument allows.
int32_t next_event(Kernel& k, const Slots& s, bool wait) {
  Compositor& c = k.compositor();
  int32_t handle = as_handle(s[0]);
  if (!c.valid(handle)) return err::kEBADF;
  if (s[2] == 0) return err::kEINVAL;
  GuiEventRecord event;
  int32_t rc = c.peek_event(handle, &event, wait);
  if (rc <= 0) return rc;
  size_t n = std::min<size_t>(s[2], sizeof event);
  if (!k.memory().copy_out(s[1], &event, n)) return err::kEFAULT;
  c.drop_event(handle);
  return 1;
}

int32_t rect_service(Kernel& k, const Slots& s, bool outline) {
  Compositor& c = k.compositor();
  int32_t handle = as_handle(s[0]);
  if (!c.valid(handle)) return err::kEBADF;
  RectRecord r;
  if (!record_at(k, s[1], r)) return err::kEFAULT;
  return outline ? c.outline_rect(handle, r.x, r.y, r.w, r.h, pixel_of(r.color))
                 : c.fill_rect(handle, r.x, r.y, r.w, r.h, pixel_of(r.color));
}

int32_t pair_out(Kernel& k, uint32_t addr, int32_t a, int32_t b) {
  int32_t words[2] = {a, b};
  return k.memory().copy_out(addr, words, sizeof words) ? 0 : err::kEFAULT;
}

}  // namespace

int32_t svc_gui_create(Kernel& k, const Slots& s) { return open_with(k, s, false); }
int32_t svc_gui_attach(Kernel& k, const Slots& s) { return open_with(k, s, true); }

int32_t svc_gui_set_title(Kernel& k, const Slots& s) {
  if (!k.compositor().valid(as_handle(s[0]))) return err::kEBADF;
  std::string title;
  if (int32_t rc = guest_string(k, s[1], kMaxTitle, title); rc < 0) return rc;
  return k.compositor().set_title(as_handle(s[0]), title);
}

int32_t svc_gui_begin(Kernel& k, const Slots& s) { return k.compositor().begin(as_handle(s[0])); }

int32_t svc_gui_clear(Kernel& k, const Slots& s) {
  Compositor& c = k.compositor();
  if (!c.valid(as_handle(s[0]))) return err::kEBADF;
  ColorRecord color;
  if (!record_at(k, s[1], color)) return err::kEFAULT;
  return c.clear(as_handle(s[0]), pixel_of(color));
}

int32_t svc_gui_fill_rect(Kernel& k, const Slots& s) { return rect_service(k, s, false); }
int32_t svc_gui_outline_rect(Kernel& k, const Slots& s) { return rect_service(k, s, true); }

int32_t svc_gui_draw_text(Kernel& k, const Slots& s) {
  Compositor& c = k.compositor();
  int32_t handle = as_handle(s[0]);
  if (!c.valid(handle)) return err::kEBADF;
  TextRecord t;
  if (!record_at(k, s[1], t)) return err::kEFAULT;
  std::string text;
  if (int32_t rc = guest_string(k, t.text, kMaxText, text); rc < 0) return rc;
  return c.draw_text(handle, t.x, t.y, pixel_of(t.color), text);
}

int32_t svc_gui_present(Kernel& k, const Slots& s) {
  return k.compositor().present(as_handle(s[0]));
}

int32_t svc_gui_poll_event(Kernel& k, const Slots& s) { return next_event(k, s, false); }
int32_t svc_gui_wait_event(Kernel& k, const Slots& s) { return next_event(k, s, true); }

int32_t svc_gui_get_content_size(Kernel& k, const Slots& s) {
  int32_t width = 0, height = 0;
  int32_t rc = k.compositor().content_size(as_handle(s[0]), &width, &height);
  return rc < 0 ? rc : pair_out(k, s[1], width, height);
}

int32_t svc_gui_set_continuous_redraw(Kernel& k, const Slots& s) {
  return k.compositor().set_continuous_redraw(as_handle(s[0]), s[1] != 0);
}

// Records {glyph width, glyph height} of the font gui_draw_text uses.
int32_t svc_gui_get_font_metrics(Kernel& k, const Slots& s) {
  int32_t width = 0, height = 0;
  int32_t rc = k.compositor().font_metrics(as_handle(s[0]), &width, &height);
  return rc < 0 ? rc : pair_out(k, s[1], width, height);
}

int32_t svc_gui_warp_mouse(Kernel& k, const Slots& s) {
  return k.compositor().warp_pointer(as_handle(s[0]), static_cast<int32_t>(s[1]),
                                     static_cast<int32_t>(s[2]));
}

int32_t svc_gui_set_cursor_visible(Kernel& k, const Slots& s) {
  return k.compositor().set_cursor_visible(as_handle(s[0]), s[1] != 0);
}

// Lines, images, icons and further fonts have no record of their own on this platform yet.
#define NUV_GUI_NOT_IMPLEMENTED(name) \
  int32_t svc_##name(Kernel&, const Slots&) { return err::kENOSYS; }
NUV_GUI_NOT_IMPLEMENTED(gui_draw_line)
NUV_GUI_NOT_IMPLEMENTED(gui_set_font)
NUV_GUI_NOT_IMPLEMENTED(gui_blit_rgb565)
NUV_GUI_NOT_IMPLEMENTED(gui_draw_icon)
NUV_GUI_NOT_IMPLEMENTED(gui_draw_char)
NUV_GUI_NOT_IMPLEMENTED(gui_load_font)
NUV_GUI_NOT_IMPLEMENTED(gui_draw_text_font)
NUV_GUI_NOT_IMPLEMENTED(gui_draw_char_font)
#undef NUV_GUI_NOT_IMPLEMENTED

}  // namespace nuv
