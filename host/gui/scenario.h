// A scenario drives a headless run: the content size, failures to inject into the GUI
// services, input events keyed to frames, the frames to save as screenshots and a frame limit.
//
// The file is JSON; every member is optional:
//   {
//     "description": "press on a window, drag it, quit",
//     "size": [640, 360],
//     "fail": ["gui_create", "gui_attach", "redraw_off", "content_size"],
//     "report_size": [800, 0],
//     "events": [
//       {"frame": 2, "pointer": {"x": 100, "y": 90, "buttons": 1}},
//       {"frame": 9, "key": "q"}
//     ],
//     "screenshots": [0, 5],
//     "frame_limit": 100
//   }
// Frame N is what the program does after its N-th gui_present, counting from 0: an event of
// frame N is pending from then on, so the program sees it in the drain before it presents
// frame N; the screenshot of frame N is the picture that present shows. A key is a number, a
// single character, or one of "Escape", "Enter", "Tab", "Backspace", "Space". "fail" names
// failures of kInjectedFailures. "report_size" is what gui_get_content_size answers instead of
// the real size (the drawing area keeps its size).
#pragma once

#include <cstdint>
#include <filesystem>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "abi/services.h"
#include "host/gui/gui_event.h"

namespace nuv {

class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A failure a scenario can inject: the service answers -5 (EIO) before the compositor is asked.
struct InjectedFailure {
  const char* name;  // in the scenario's "fail" list
  uint32_t service;
  bool only_switching_off;  // only the calls that switch the service's flag off
};
inline constexpr InjectedFailure kInjectedFailures[] = {
    {"gui_create", SVC_gui_create, false},
    {"gui_attach", SVC_gui_attach, false},
    {"redraw_off", SVC_gui_set_continuous_redraw, true},
    {"content_size", SVC_gui_get_content_size, false},
};
// Null for a name no failure has.
const InjectedFailure* find_injected_failure(std::string_view name);

// Content sizes above this are refused: every window holds two buffers of this many pixels.
inline constexpr int32_t kMaxContentSide = 4096;

struct ScenarioEvent {
  uint32_t frame = 0;
  GuiEvent event{};
};

struct Scenario {
  std::optional<int32_t> width;
  std::optional<int32_t> height;
  std::vector<std::string> fail;  // names of kInjectedFailures
  std::optional<std::pair<int32_t, int32_t>> report_size;
  std::vector<ScenarioEvent> events;  // in frame order; the file's order within a frame
  std::vector<uint32_t> screenshots;  // ascending, no repeats
  std::optional<uint32_t> frame_limit;
};

// A scenario document that plays `events` in a run of the given content size and ends it after
// `frames` presents (the recording of a session; keys are written by name where they have one).
nlohmann::json recorded_scenario(const std::vector<ScenarioEvent>& events, int32_t width,
                                 int32_t height, uint32_t frames);

// Both throw ScenarioError naming the member at fault.
Scenario parse_scenario(std::string_view json_text);
Scenario load_scenario(const std::filesystem::path& path);

}  // namespace nuv
