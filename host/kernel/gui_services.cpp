// GUI services: the compositor's side of the gui_* calls.
#include "host/gui/compositor.h"
#include "host/kernel/errors.h"
#include "host/kernel/kernel.h"
#include "host/kernel/service_table.h"

namespace nuv {

#define NUV_GUI_NOT_YET(name) \
  int32_t svc_##name(Kernel&, const Slots&) { return err::kNotImplemented; }
NUV_GUI_NOT_YET(gui_create)
NUV_GUI_NOT_YET(gui_set_title)
NUV_GUI_NOT_YET(gui_begin)
NUV_GUI_NOT_YET(gui_clear)
NUV_GUI_NOT_YET(gui_fill_rect)
NUV_GUI_NOT_YET(gui_draw_text)
NUV_GUI_NOT_YET(gui_present)
NUV_GUI_NOT_YET(gui_poll_event)
NUV_GUI_NOT_YET(gui_wait_event)
NUV_GUI_NOT_YET(gui_attach)
NUV_GUI_NOT_YET(gui_draw_line)
NUV_GUI_NOT_YET(gui_get_content_size)
NUV_GUI_NOT_YET(gui_set_font)
NUV_GUI_NOT_YET(gui_set_continuous_redraw)
NUV_GUI_NOT_YET(gui_blit_rgb565)
NUV_GUI_NOT_YET(gui_draw_icon)
NUV_GUI_NOT_YET(gui_outline_rect)
NUV_GUI_NOT_YET(gui_draw_char)
NUV_GUI_NOT_YET(gui_get_font_metrics)
NUV_GUI_NOT_YET(gui_warp_mouse)
NUV_GUI_NOT_YET(gui_set_cursor_visible)
NUV_GUI_NOT_YET(gui_load_font)
NUV_GUI_NOT_YET(gui_draw_text_font)
NUV_GUI_NOT_YET(gui_draw_char_font)

}  // namespace nuv
