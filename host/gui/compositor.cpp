#include "host/gui/compositor.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <filesystem>

#include "host/base/guest_errors.h"
#include "host/base/latin1.h"
#include "host/gui/canvas.h"
#include "host/gui/png_file.h"
#include "host/gui/sdl_display.h"

namespace nuv {

struct Compositor::Window {
  int32_t handle = 0;
  std::string title;
  std::string subtitle;
  Canvas back;
  Canvas front;
  std::deque<GuiEvent> events;
  // Beside each queued event: whether the program made it itself (a warp), which a recording
  // leaves out since the replayed program makes it again.
  std::deque<bool> made_by_program;
  bool continuous_redraw = false;
};

namespace {

std::string display_title(const std::string& title, const std::string& subtitle) {
  // Programs write Latin-1; window captions are UTF-8.
  std::string caption = utf8_of_latin1(title);
  return subtitle.empty() ? caption : caption + " \u2014 " + utf8_of_latin1(subtitle);
}

}  // namespace

Compositor::Compositor(const GuiConfig& config, EndRun end_run)
    : config_(config), end_run_(std::move(end_run)) {}

Compositor::~Compositor() = default;

Compositor::Window* Compositor::find(int32_t handle) const {
  if (handle < 0 || handle >= kMaxWindows) return nullptr;
  return windows_[static_cast<size_t>(handle)].get();
}

void Compositor::end_run(RunStop::Cause cause, std::string message) {
  if (ended_) return;
  ended_ = true;
  if (end_run_) end_run_(RunStop{cause, 0, std::move(message)});
}

int32_t Compositor::host_failure(const std::string& message) {
  end_run(RunStop::Cause::HostFailure, message);
  return err::kEIO;
}

bool Compositor::prepare_font() {
  if (font_) return true;
  try {
    font_ = load_psf_font(config_.font_path);
  } catch (const FontError& e) {
    // The package is the answer only when the font is not there; a font that is there but
    // cannot be read says why, and no more.
    std::error_code ec;
    bool missing = !std::filesystem::exists(config_.font_path, ec) && !ec;
    host_failure(std::string(e.what()) + (missing
                                              ? " (the console fonts come with the Debian package "
                                                "console-setup-linux, which scripts/setup installs)"
                                              : ""));
    return false;
  }
  return true;
}

int32_t Compositor::open_window(int32_t handle, std::string_view title, std::string_view subtitle) {
  if (!prepare_font()) return err::kEIO;
  auto& slot = windows_[static_cast<size_t>(handle)];
  if (!slot) {
    slot = std::make_unique<Window>();
    slot->handle = handle;
    slot->back = Canvas(config_.width, config_.height);
    slot->front = Canvas(config_.width, config_.height);
  }
  slot->title = title;
  slot->subtitle = subtitle;
  shown_ = handle;
  std::string caption = display_title(slot->title, slot->subtitle);
  if (config_.display == GuiConfig::Display::Window && !display_) {
    try {
      display_ = std::make_unique<SdlDisplay>(caption, config_.width, config_.height);
    } catch (const DisplayError& e) {
      return host_failure(e.what());
    }
  } else if (display_) {
    display_->set_title(caption);
  }
  if (display_ && display_->watched()) display_->show(slot->front.pixels());
  return handle;
}

int32_t Compositor::create(std::string_view title, std::string_view subtitle) {
  for (int32_t h = kDisplayHandle + 1; h < kMaxWindows; ++h) {
    if (!windows_[static_cast<size_t>(h)]) return open_window(h, title, subtitle);
  }
  return err::kEMFILE;
}

int32_t Compositor::attach(std::string_view title, std::string_view subtitle) {
  return open_window(kDisplayHandle, title, subtitle);
}

void Compositor::set_title(Window& w, std::string_view title) {
  w.title = title;
  if (display_ && w.handle == shown_) display_->set_title(display_title(w.title, w.subtitle));
}

void Compositor::clear(Window& w, uint32_t pixel) { w.back.clear(pixel); }

void Compositor::fill_rect(Window& w, int32_t x, int32_t y, int32_t width, int32_t height,
                           uint32_t pixel) {
  w.back.fill_rect(x, y, width, height, pixel);
}

void Compositor::outline_rect(Window& w, int32_t x, int32_t y, int32_t width, int32_t height,
                              uint32_t pixel) {
  w.back.outline_rect(x, y, width, height, pixel);
}

void Compositor::draw_text(Window& w, int32_t x, int32_t y, uint32_t pixel, std::string_view text) {
  w.back.draw_text(*font_, x, y, pixel, text);
}

bool Compositor::save_screenshot(const Surface& picture, uint32_t frame) {
  char name[32];
  std::snprintf(name, sizeof name, "frame-%05" PRIu32 ".png", frame);
  std::string error;
  if (write_png(config_.screenshot_dir / name, picture, &error)) return true;
  host_failure("cannot save the screenshot of frame " + std::to_string(frame) + ": " + error);
  return false;
}

int32_t Compositor::present(Window& w) {
  if (config_.frame_limit != 0 && presents_ >= config_.frame_limit) {
    end_run(RunStop::Cause::Limit, "stopped at the frame limit of " + std::to_string(presents_) +
                                       (presents_ == 1 ? " frame" : " frames") +
                                       ": the program was still running");
    return err::kEIO;
  }
  std::swap(w.back, w.front);
  uint32_t frame = presents_++;
  const auto& shots = config_.scenario.screenshots;
  while (next_screenshot_ < shots.size() && shots[next_screenshot_] < frame) ++next_screenshot_;
  if (next_screenshot_ < shots.size() && shots[next_screenshot_] == frame &&
      !config_.screenshot_dir.empty() && !save_screenshot(w.front.pixels(), frame)) {
    return err::kEIO;
  }
  if (display_ && w.handle == shown_) {
    // Nobody watching, nothing to paint: the frame stays a list of operations.
    if (display_->watched()) display_->show(w.front.pixels());
    pump_display(0);
  }
  return 0;
}

std::vector<std::string> Compositor::finish_screenshots(bool* failed) {
  std::vector<std::string> said;
  const auto& shots = config_.scenario.screenshots;
  if (config_.screenshot_dir.empty()) return said;
  while (next_screenshot_ < shots.size() && shots[next_screenshot_] < presents_) ++next_screenshot_;
  if (next_screenshot_ < shots.size() && shots[next_screenshot_] == presents_) {
    const Window* w = find(shown_);
    char name[32];
    std::snprintf(name, sizeof name, "frame-%05" PRIu32 ".png", presents_);
    std::string error;
    if (w == nullptr || presents_ == 0) {
      said.push_back("--screenshots: frame 0 not written: the program presented no frame");
    } else if (!write_png(config_.screenshot_dir / name, w->front.pixels(), &error)) {
      said.push_back("cannot save the screenshot of frame " + std::to_string(presents_) + ": " +
                     error);
      *failed = true;
    }
    ++next_screenshot_;
  }
  if (next_screenshot_ < shots.size()) {
    std::string frames;
    for (size_t i = next_screenshot_; i < shots.size(); ++i) {
      frames += (i == next_screenshot_   ? ""
                 : i + 1 == shots.size() ? " and "
                                         : ", ") +
                std::to_string(shots[i]);
    }
    said.push_back("--screenshots: frame" +
                   std::string(shots.size() - next_screenshot_ > 1 ? "s " : " ") + frames +
                   " not written: the program ended in frame " + std::to_string(presents_));
  }
  return said;
}

void Compositor::queue(Window& w, const GuiEvent& event, bool merge_motion, bool by_program) {
  if (event.type == GUI_EVENT_POINTER) last_buttons_ = event.word3;
  // The mouse reports far more motion than a program draws frames; a move that changes no
  // button replaces the move before it, so presses and releases are never lost in the flood.
  if (merge_motion && event.type == GUI_EVENT_POINTER && !w.events.empty() &&
      w.events.back().type == GUI_EVENT_POINTER && w.events.back().word3 == event.word3) {
    w.events.back() = event;
    w.made_by_program.back() = by_program;
    return;
  }
  if (w.events.size() < kMaxQueuedEvents) {
    w.events.push_back(event);
    w.made_by_program.push_back(by_program);
  }
}

void Compositor::inject_event(const GuiEvent& event) {
  if (Window* w = find(shown_)) queue(*w, event, false);
}

void Compositor::release_scenario_events() {
  const auto& events = config_.scenario.events;
  Window* w = find(shown_);
  while (w && next_scenario_event_ < events.size() &&
         events[next_scenario_event_].frame <= presents_) {
    queue(*w, events[next_scenario_event_++].event, false);
  }
}

void Compositor::pump_display(int timeout_ms) {
  if (!display_) return;
  Window* w = find(shown_);
  if (w && display_->wants_picture()) display_->show(w->front.pixels());
  for (const GuiEvent& e : display_->pump(timeout_ms)) {
    if (w) queue(*w, e, true);
  }
  if (display_->closed()) {
    end_run(RunStop::Cause::WindowClosed,
            display_->lost() ? "the window was destroyed" : "the window was closed");
  }
}

bool Compositor::peek_event(Window& w, GuiEvent* out, bool wait) {
  release_scenario_events();
  if (w.events.empty()) pump_display(0);
  // Only the shown window receives input, so only it is worth waiting for.
  while (wait && w.events.empty() && display_ && w.handle == shown_ && !ended_ &&
         !(stop_check_ && stop_check_())) {
    pump_display(100);
  }
  if (w.events.empty()) return false;
  *out = w.events.front();
  return true;
}

void Compositor::drop_event(Window& w) {
  if (w.events.empty()) return;
  if (recording_ && w.handle == shown_ && !w.made_by_program.front()) {
    received_.push_back({presents_, w.events.front()});
  }
  w.events.pop_front();
  w.made_by_program.pop_front();
}

GuiSize Compositor::content_size(const Window&) const {
  if (config_.scenario.report_size) {
    return {config_.scenario.report_size->first, config_.scenario.report_size->second};
  }
  return {config_.width, config_.height};
}

void Compositor::set_continuous_redraw(Window& w, bool on) { w.continuous_redraw = on; }

GuiSize Compositor::font_metrics(const Window&) const { return {font_->width, font_->height}; }

int32_t Compositor::warp_pointer(Window& w, int32_t x, int32_t y) {
  if (w.handle != shown_) return err::kEINVAL;
  // A display that moves the user's pointer reports the motion back as an event.
  if (!display_ || !display_->warp_pointer(x, y)) {
    queue(w, pointer_event(x, y, last_buttons_), false, true);
  }
  return 0;
}

void Compositor::set_cursor_visible(Window&, bool on) {
  if (display_) display_->set_cursor_visible(on);
}

bool Compositor::showing_window() const { return display_ && !display_->closed(); }

void Compositor::use_display(std::unique_ptr<Display> display) { display_ = std::move(display); }

const Surface* Compositor::presented(int32_t handle) const {
  Window* w = find(handle);
  return w ? &w->front.pixels() : nullptr;
}

std::string Compositor::window_title(int32_t handle) const {
  Window* w = find(handle);
  return w ? display_title(w->title, w->subtitle) : std::string();
}

bool Compositor::continuous_redraw(int32_t handle) const {
  Window* w = find(handle);
  return w && w->continuous_redraw;
}

}  // namespace nuv
