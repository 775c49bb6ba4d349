// How the compositor behind the GUI services is set up for one run.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "host/gui/scenario.h"

namespace nuv {

// The font gui_draw_text uses unless told otherwise: 8 x 14, so a line at content height - 14
// still shows whole.
inline constexpr const char* kDefaultFontPath = "/usr/share/consolefonts/Lat15-Fixed14.psf.gz";

struct GuiConfig {
  // Auto is resolved by the runner (host/gui/sdl_display.h); the compositor treats it as
  // Headless.
  // Vnc: the runner gives the compositor its VNC server (Compositor::use_display).
  enum class Display { Auto, Headless, Window, Vnc };
  Display display = Display::Headless;
  int32_t width = 640;
  int32_t height = 360;
  // Headless input, injected failures (scripted by the kernel) and the frames to save (see
  // host/gui/scenario.h).
  Scenario scenario;
  // Where the scenario's screenshots go; empty: none are written.
  std::filesystem::path screenshot_dir;
  std::filesystem::path font_path = kDefaultFontPath;
  // A gui_present beyond this many frames ends the run; 0: no limit.
  uint32_t frame_limit = 0;
};

// The scenario's content size and frame limit, where it gives them, replace the config's.
GuiConfig with_scenario(GuiConfig config, Scenario scenario);

}  // namespace nuv
