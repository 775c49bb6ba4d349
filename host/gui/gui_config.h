// How the compositor behind the GUI services is set up for one run.
#pragma once

#include <cstdint>
#include <string>

namespace nuv {

struct GuiConfig {
  enum class Display { Auto, Headless, Window };
  Display display = Display::Headless;
  int32_t width = 640;
  int32_t height = 360;
  std::string scenario_path;  // headless input script (JSON); empty: no scripted input
};

}  // namespace nuv
