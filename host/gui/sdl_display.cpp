#include "host/gui/sdl_display.h"

#include <X11/Xlib.h>
#include <dlfcn.h>

#include <atomic>
#include <cstdlib>

#include "host/gui/sdl_library.h"

namespace nuv {
namespace {

// Another program can destroy the window behind SDL's back (xdotool windowclose, a window
// manager's kill). X then reports an error at SDL's next use of the window, and Xlib's
// default handler ends the whole process: the recording and the screenshots would be lost.
// Errors are noted instead; a window that is gone ends the run as a closed one does.
std::atomic<bool> g_window_lost{false};

int on_x_error(::Display*, XErrorEvent* error) {
  if (error->error_code == BadWindow || error->error_code == BadDrawable) g_window_lost = true;
  return 0;
}

// The connection itself is gone (xdotool windowkill, the server ended): the window with it.
int on_x_connection_lost(::Display*) {
  g_window_lost = true;
  return 0;
}

void on_x_connection_exit(::Display*, void*) { g_window_lost = true; }

// SDL has loaded Xlib when it talks to an X server (not on Wayland). `display` is SDL's
// connection, or null.
void catch_x_errors(::Display* display) {
  void* x11 = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_NOLOAD);
  if (x11 == nullptr) return;
  using SetHandler = XErrorHandler (*)(XErrorHandler);
  using SetIoHandler = XIOErrorHandler (*)(XIOErrorHandler);
  using SetExitHandler = void (*)(::Display*, XIOErrorExitHandler, void*);
  if (auto set = reinterpret_cast<SetHandler>(::dlsym(x11, "XSetErrorHandler"))) set(on_x_error);
  // Xlib before 1.7 has no exit handler: a lost connection still ends the process there.
  auto set_exit = reinterpret_cast<SetExitHandler>(::dlsym(x11, "XSetIOErrorExitHandler"));
  auto set_io = reinterpret_cast<SetIoHandler>(::dlsym(x11, "XSetIOErrorHandler"));
  if (display != nullptr && set_exit != nullptr && set_io != nullptr) {
    set_io(on_x_connection_lost);
    set_exit(display, on_x_connection_exit, nullptr);
  }
  ::dlclose(x11);
}

int32_t button_bit(uint8_t sdl_button) {
  switch (sdl_button) {
    case SDL_BUTTON_LEFT:
      return GUI_BUTTON_LEFT;
    case SDL_BUTTON_RIGHT:
      return GUI_BUTTON_RIGHT;
    case SDL_BUTTON_MIDDLE:
      return GUI_BUTTON_MIDDLE;
    default:
      return 0;
  }
}

int32_t buttons_of(uint32_t sdl_state) {
  return ((sdl_state & SDL_BUTTON_LMASK) ? GUI_BUTTON_LEFT : 0) |
         ((sdl_state & SDL_BUTTON_RMASK) ? GUI_BUTTON_RIGHT : 0) |
         ((sdl_state & SDL_BUTTON_MMASK) ? GUI_BUTTON_MIDDLE : 0);
}

// Set by start_video, which every path to a window takes first.
const SdlLibrary* g_sdl = nullptr;
const SdlLibrary& sdl() { return *g_sdl; }

::Display* x11_display(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (sdl().GetWindowWMInfo(window, &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_X11) {
    return nullptr;
  }
  return info.info.x11.display;
}

bool start_video(std::string* why) {
  if (g_sdl == nullptr) g_sdl = sdl_library(why);
  if (g_sdl == nullptr) return false;
  // Ctrl-C in the terminal should end the runner, not turn into a window event.
  sdl().SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  // The first click on a window without focus is a click like any other.
  sdl().SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
  // The window's pixels go straight to the display's own framebuffer (X11's shared memory):
  // the same picture on every machine, and no OpenGL library needed (scripts/setup installs
  // none).
  sdl().SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  if (sdl().InitSubSystem(SDL_INIT_VIDEO) != 0) {
    if (why) *why = sdl().GetError();
    return false;
  }
  return true;
}

}  // namespace

bool display_available(std::string* why) {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((x11 == nullptr || *x11 == '\0') && (wayland == nullptr || *wayland == '\0')) {
    if (why) *why = "neither DISPLAY nor WAYLAND_DISPLAY is set";
    return false;
  }
  if (!start_video(why)) return false;
  sdl().QuitSubSystem(SDL_INIT_VIDEO);
  return true;
}

int32_t gui_key_code(int32_t key, uint32_t mod) {
  if (key >= 'a' && key <= 'z') {
    if (mod & KMOD_CTRL) return key & 0x1F;
    bool upper = ((mod & KMOD_SHIFT) != 0) != ((mod & KMOD_CAPS) != 0);
    return upper ? key - 'a' + 'A' : key;
  }
  if (key > 0 && key < 0x80) return key;
  return -1;
}

SdlDisplay::SdlDisplay(const std::string& title, int32_t width, int32_t height) {
  std::string why;
  if (!start_video(&why)) throw DisplayError("cannot open a window: " + why);
  window_ = sdl().CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width,
                               height, SDL_WINDOW_SHOWN);
  if (window_ == nullptr) {
    std::string error = sdl().GetError();
    sdl().QuitSubSystem(SDL_INIT_VIDEO);
    throw DisplayError("cannot open a window: " + error);
  }
  g_window_lost = false;
  catch_x_errors(x11_display(window_));
  events_.reserve(64);
}

SdlDisplay::~SdlDisplay() {
  // SDL may have put Xlib's handlers back meanwhile; a window that is gone is not destroyed
  // twice.
  // A window another program took away is left as it is, with SDL, for the process to end:
  // destroying it again is an X error whose report may come after SDL put back Xlib's
  // handler (which ends the process), and without a connection SDL would wait for the
  // server's answers for ever.
  if (g_window_lost) return;
  sdl().DestroyWindow(window_);
  sdl().QuitSubSystem(SDL_INIT_VIDEO);
}

void SdlDisplay::set_title(const std::string& title) {
  sdl().SetWindowTitle(window_, title.c_str());
}

void SdlDisplay::show(const Surface& picture) {
  last_ = &picture;
  if (lost_) return;
  SDL_Surface* target = sdl().GetWindowSurface(window_);
  if (target == nullptr) return;
  // The window surface is software memory: the blit copies our pixels exactly, converting
  // the format only if the display's differs.
  SDL_Surface* source = sdl().CreateRGBSurfaceWithFormatFrom(
      const_cast<uint32_t*>(picture.pixels.data()), picture.width, picture.height, 32,
      picture.width * 4, SDL_PIXELFORMAT_XRGB8888);
  if (source == nullptr) return;
  sdl().UpperBlit(source, nullptr, target, nullptr);
  sdl().FreeSurface(source);
  sdl().UpdateWindowSurface(window_);
}

const std::vector<GuiEvent>& SdlDisplay::pump(int timeout_ms) {
  events_.clear();
  SDL_Event e;
  bool have =
      timeout_ms > 0 ? sdl().WaitEventTimeout(&e, timeout_ms) != 0 : sdl().PollEvent(&e) != 0;
  while (have) {
    switch (e.type) {
      case SDL_QUIT:
        closed_ = true;
        break;
      case SDL_WINDOWEVENT:
        if (e.window.event == SDL_WINDOWEVENT_CLOSE) closed_ = true;
        if (e.window.event == SDL_WINDOWEVENT_EXPOSED) exposed_ = true;
        break;
      case SDL_KEYDOWN: {
        int32_t code = gui_key_code(e.key.keysym.sym, e.key.keysym.mod);
        if (code >= 0) events_.push_back(key_event(code));
        break;
      }
      case SDL_MOUSEMOTION:
        buttons_ = buttons_of(e.motion.state);
        events_.push_back(pointer_event(e.motion.x, e.motion.y, buttons_));
        break;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP: {
        int32_t bit = button_bit(e.button.button);
        buttons_ = e.type == SDL_MOUSEBUTTONDOWN ? (buttons_ | bit) : (buttons_ & ~bit);
        events_.push_back(pointer_event(e.button.x, e.button.y, buttons_));
        break;
      }
      default:
        break;
    }
    have = sdl().PollEvent(&e) != 0;
  }
  if (g_window_lost) lost_ = closed_ = true;
  if (exposed_ && last_ != nullptr && !lost_) {
    exposed_ = false;
    show(*last_);
  }
  return events_;
}

void SdlDisplay::set_cursor_visible(bool on) { sdl().ShowCursor(on ? SDL_ENABLE : SDL_DISABLE); }

bool SdlDisplay::warp_pointer(int32_t x, int32_t y) {
  sdl().WarpMouseInWindow(window_, x, y);
  return true;
}

}  // namespace nuv
