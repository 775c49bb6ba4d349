// The scenario reader on arbitrary text: a Scenario or a ScenarioError, nothing else. What it
// accepts is also recorded as a session would be, and that recording must read back to the
// same events.
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string_view>

#include "host/gui/gui_config.h"
#include "host/gui/scenario.h"

namespace {

bool same_events(const std::vector<nuv::ScenarioEvent>& a,
                 const std::vector<nuv::ScenarioEvent>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const GuiEvent& x = a[i].event;
    const GuiEvent& y = b[i].event;
    if (a[i].frame != b[i].frame || x.type != y.type || x.word1 != y.word1 || x.word2 != y.word2 ||
        x.word3 != y.word3 || x.word4 != y.word4) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  nuv::Scenario scenario;
  try {
    scenario = nuv::parse_scenario(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const nuv::ScenarioError&) {
    return 0;
  }
  nuv::GuiConfig config = nuv::with_scenario(nuv::GuiConfig{}, scenario);
  nlohmann::json recording = nuv::recorded_scenario(config.scenario.events, config.width,
                                                    config.height, config.frame_limit);
  try {
    nuv::Scenario again = nuv::parse_scenario(recording.dump());
    if (!same_events(scenario.events, again.events)) std::abort();
  } catch (const nuv::ScenarioError&) {
    std::abort();
  }
  return 0;
}
