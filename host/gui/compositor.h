// The window compositor behind the GUI services.
//
// Windows: gui_create opens a new window (handles 1, 2, ...); gui_attach attaches to the
// display's own window, handle 0 (one per display: attaching again gives it again, with the
// new title). Either one makes its window the shown one: the display shows one window at a
// time, the one most recently created or attached, and its input goes to that window's event
// queue. Every window has the configured content size and a title; the second string is its
// subtitle, shown after the title in the host window's title bar ("Stack Demo — drag/click to
// stack").
//
// Frames: drawing goes into the window's back buffer; gui_present swaps it with the front
// buffer, which is the picture the display shows and screenshots save. After a present the
// back buffer holds the frame before the last one, as with any double buffering: programs
// draw whole frames. gui_begin marks the start of a frame and changes no pixel.
//
// Headless, the scenario supplies input; with a real display, the user does.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/base/run_stop.h"
#include "host/gui/gui_config.h"
#include "host/gui/gui_event.h"
#include "host/gui/psf_font.h"
#include "host/gui/surface.h"

namespace nuv {

class Display;

class Compositor {
 public:
  static constexpr int32_t kDisplayHandle = 0;
  static constexpr int32_t kMaxWindows = 8;
  static constexpr size_t kMaxQueuedEvents = 4096;

  // Ends the run, saying why (the frame limit, a closed window, a host failure); the owner
  // stops the CPU. Called at most once.
  using EndRun = std::function<void(RunStop stop)>;

  Compositor(const GuiConfig& config, EndRun end_run);
  ~Compositor();
  Compositor(const Compositor&) = delete;
  Compositor& operator=(const Compositor&) = delete;

  // One of the program's windows. The services take a window found by its handle, so none of
  // them meets a handle that names none.
  struct Window;
  // Null for a handle that names no window.
  Window* find(int32_t handle) const;

  // The services; results as the kernel answers them (a handle, 0, or a negative error).
  int32_t create(std::string_view title, std::string_view subtitle);
  int32_t attach(std::string_view title, std::string_view subtitle);
  void set_title(Window& w, std::string_view title);
  void clear(Window& w, uint32_t pixel);
  void fill_rect(Window& w, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t pixel);
  void outline_rect(Window& w, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t pixel);
  void draw_text(Window& w, int32_t x, int32_t y, uint32_t pixel, std::string_view text);
  // 0, or err::kEIO when the run ends here (the frame limit, a screenshot not written).
  int32_t present(Window& w);
  // The window's oldest pending event, left in the queue: true with *out filled.
  // With wait, a real display waits for the user; headless there is nobody to wait for.
  bool peek_event(Window& w, GuiEvent* out, bool wait);
  void drop_event(Window& w);
  GuiSize content_size(const Window& w) const;
  void set_continuous_redraw(Window& w, bool on);
  // The glyph width and height of the font text is drawn in.
  GuiSize font_metrics(const Window& w) const;
  // 0, or err::kEINVAL for a window that is not the one shown.
  int32_t warp_pointer(Window& w, int32_t x, int32_t y);
  void set_cursor_visible(Window& w, bool on);

  // True while a real window is on screen (or a VNC server serves it): sleeping then takes
  // real time.
  bool showing_window() const;
  // A display the runner made before the run: the VNC server, which listens from the start.
  // Windows show there instead of in an SDL window.
  void use_display(std::unique_ptr<Display> display);

  // For the runner, tests and benchmarks.
  const Surface* presented(int32_t handle) const;
  int32_t shown_handle() const { return shown_; }
  std::string window_title(int32_t handle) const;
  bool continuous_redraw(int32_t handle) const;
  uint32_t frames_presented() const { return presents_; }
  // Once the program has ended: a screenshot asked for the frame it ended in is written (what
  // the display showed then: the frame presented last), and the frames it never reached are
  // named. Returns what the user should hear; *failed when a screenshot could not be written.
  std::vector<std::string> finish_screenshots(bool* failed);
  // Input as if the user had made it, for the shown window.
  void inject_event(const GuiEvent& event);
  // Keeps every event the program takes from the shown window, with the frame it took it in:
  // played back as a scenario, the same events reach the program in the same frames.
  void set_recording(bool on) { recording_ = on; }
  // Asked while waiting for the user: true ends the wait (the run is to end).
  void set_stop_check(std::function<bool()> check) { stop_check_ = std::move(check); }
  const std::vector<ScenarioEvent>& received() const { return received_; }

 private:
  int32_t open_window(int32_t handle, std::string_view title, std::string_view subtitle);
  bool prepare_font();
  void release_scenario_events();
  void pump_display(int timeout_ms);
  void queue(Window& w, const GuiEvent& event, bool merge_motion, bool by_program = false);
  bool save_screenshot(const Surface& picture, uint32_t frame);
  int32_t host_failure(const std::string& message);
  void end_run(RunStop::Cause cause, std::string message);

  GuiConfig config_;
  EndRun end_run_;
  bool ended_ = false;
  std::array<std::unique_ptr<Window>, kMaxWindows> windows_;
  int32_t shown_ = -1;
  std::optional<PsfFont> font_;
  std::unique_ptr<Display> display_;
  uint32_t presents_ = 0;
  size_t next_scenario_event_ = 0;
  size_t next_screenshot_ = 0;
  int32_t last_buttons_ = 0;
  bool recording_ = false;
  std::vector<ScenarioEvent> received_;
  std::function<bool()> stop_check_;
};

}  // namespace nuv
