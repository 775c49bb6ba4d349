// The window compositor behind the GUI services.
#pragma once

#include <cstdint>

#include "host/gui/gui_config.h"

namespace nuv {

class Kernel;

class Compositor {
 public:
  Compositor(Kernel& kernel, const GuiConfig& config);
  ~Compositor();

  // True while a real window is on screen: sleeping then takes real time.
  bool showing_window() const { return false; }

 private:
  Kernel& kernel_;
  GuiConfig config_;
};

}  // namespace nuv
