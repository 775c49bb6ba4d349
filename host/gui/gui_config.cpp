#include "host/gui/gui_config.h"

namespace nuv {

GuiConfig with_scenario(GuiConfig config, Scenario scenario) {
  if (scenario.width) config.width = *scenario.width;
  if (scenario.height) config.height = *scenario.height;
  if (scenario.frame_limit) config.frame_limit = *scenario.frame_limit;
  config.scenario = std::move(scenario);
  return config;
}

}  // namespace nuv
