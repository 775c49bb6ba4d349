// nuvrelos-run: runs an i386 program of the system on Linux, the way a user-mode emulator
// runs a foreign binary.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "host/gui/compositor.h"
#include "host/gui/png_file.h"
#include "host/gui/scenario.h"
#include "host/gui/sdl_display.h"
#include "host/kernel/trace.h"
#include "host/machine/process.h"

namespace {

constexpr int kUsageStatus = 2;
constexpr int kCannotRunStatus = 126;
constexpr int kFaultStatus = 139;
// A headless run without a scenario's own limit stops after this many frames (ten seconds of
// the demo's virtual time): nobody can press q there.
constexpr uint32_t kHeadlessFrameLimit = 600;

struct GuiOptions {
  std::string display = "auto";
  std::string scenario;
  std::string size;
  std::string screenshots;
  std::string save_last;
  std::string font;
  uint32_t frame_limit = 0;
};

void add_gui_options(CLI::App& app, GuiOptions& o) {
  app.add_option("--display", o.display,
                 "Where GUI programs show: auto (a window when a display is there, else "
                 "headless), headless, or window")
      ->check(CLI::IsMember({"auto", "headless", "window"}))
      ->default_str("auto");
  app.add_option("--scenario", o.scenario,
                 "JSON scenario for a headless run: input events, injected failures, "
                 "screenshots, content size, frame limit (see scenarios/)")
      ->check(CLI::ExistingFile);
  app.add_option("--size", o.size, "Content size of GUI windows, WIDTHxHEIGHT (default 640x360)")
      ->check(CLI::Validator(
          [](std::string& v) {
            int w = 0, h = 0;
            char x = 0, extra = 0;
            if (std::sscanf(v.c_str(), "%d%c%d%c", &w, &x, &h, &extra) != 3 || x != 'x' || w < 1 ||
                h < 1 || w > nuv::kMaxContentSide || h > nuv::kMaxContentSide) {
              return "must be WIDTHxHEIGHT, each 1 to " + std::to_string(nuv::kMaxContentSide);
            }
            return std::string();
          },
          "WxH"));
  app.add_option("--screenshots", o.screenshots,
                 "Directory for the scenario's screenshots, frame-NNNNN.png (made if missing; "
                 "without it none are written)");
  app.add_option("--save-last", o.save_last,
                 "Write the last frame the program presented to this PNG file at the end");
  app.add_option("--frame-limit", o.frame_limit,
                 "Stop the run with status 124 when the program presents more frames (default: "
                 "the scenario's, else 600 headless, none in a window)")
      ->check(CLI::Range(1u, UINT32_MAX));
  app.add_option("--font", o.font,
                 std::string("Console font for GUI text (default ") + nuv::kDefaultFontPath + ")");
}

// The compositor's settings from the options; false after saying what is wrong.
bool gui_config_from(const GuiOptions& o, nuv::GuiConfig& config) {
  using Display = nuv::GuiConfig::Display;
  if (!o.scenario.empty()) {
    try {
      config = nuv::with_scenario(config, nuv::load_scenario(o.scenario));
    } catch (const nuv::ScenarioError& e) {
      std::cerr << "nuvrelos-run: " << e.what() << "\n";
      return false;
    }
  }
  if (!o.size.empty()) std::sscanf(o.size.c_str(), "%dx%d", &config.width, &config.height);
  if (!o.font.empty()) config.font_path = o.font;
  if (o.display == "window") {
    std::string why;
    if (!nuv::display_available(&why)) {
      std::cerr << "nuvrelos-run: --display window: cannot open a window: " << why << "\n";
      return false;
    }
    config.display = Display::Window;
  } else if (o.display == "headless" || !o.scenario.empty()) {
    config.display = Display::Headless;
  } else {
    config.display = nuv::display_available(nullptr) ? Display::Window : Display::Headless;
  }
  if (o.frame_limit != 0) config.frame_limit = o.frame_limit;
  if (config.frame_limit == 0 && config.display == Display::Headless) {
    config.frame_limit = kHeadlessFrameLimit;
  }
  if (!o.screenshots.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(o.screenshots, ec);
    if (!std::filesystem::is_directory(o.screenshots)) {
      std::cerr << "nuvrelos-run: --screenshots: cannot make the directory " << o.screenshots
                << "\n";
      return false;
    }
    config.screenshot_dir = o.screenshots;
    if (config.scenario.screenshots.empty()) {
      std::cerr << "nuvrelos-run: --screenshots: no frames to save (a scenario lists them; "
                   "--save-last saves the last one)\n";
    }
  }
  return true;
}

void save_last_frame(nuv::Process& process, const std::string& path) {
  const nuv::Compositor& c = process.kernel().compositor();
  const nuv::Surface* picture = c.presented(c.shown_handle());
  if (picture == nullptr || c.frames_presented() == 0) {
    std::cerr << "nuvrelos-run: --save-last: the program presented no frame; " << path
              << " not written\n";
    return;
  }
  std::string error;
  if (!nuv::write_png(path, *picture, &error)) std::cerr << "nuvrelos-run: " << error << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Runs a nuvrelos i386 program on this machine: its console output appears on standard "
      "output and its exit status becomes this command's.",
      "nuvrelos-run"};
  app.footer("Usage: nuvrelos-run [OPTIONS] PROGRAM [ARGS...]");
  std::string root = ".";
  std::string trace_path;
  bool strace = false;
  app.add_option("--root", root, "Directory the program sees as / (default: current)")
      ->check(CLI::ExistingDirectory);
  app.add_option("--trace", trace_path, "Record every kernel service call as JSON Lines");
  app.add_flag("--strace", strace, "Print every kernel service call on standard error");
  GuiOptions gui;
  add_gui_options(app, gui);
  // Everything from PROGRAM on belongs to the guest, options included.
  app.prefix_command();
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::ParseError& e) {
    std::cerr << "nuvrelos-run: " << e.what() << "\n\n" << app.help();
    return kUsageStatus;
  }
  std::vector<std::string> guest_args = app.remaining();
  if (guest_args.empty() || guest_args[0].starts_with("-")) {
    std::cerr << "nuvrelos-run: "
              << (guest_args.empty() ? "no PROGRAM given" : "unknown option " + guest_args[0])
              << "\n\n"
              << app.help();
    return kUsageStatus;
  }

  nuv::KernelConfig config;
  config.root = root;
  if (!gui_config_from(gui, config.gui)) return kUsageStatus;
  std::ofstream trace;
  std::unique_ptr<nuv::Process> process;
  try {
    process = std::make_unique<nuv::Process>(guest_args[0], config);
  } catch (const std::exception& e) {
    std::cerr << "nuvrelos-run: " << e.what() << "\n";
    return kCannotRunStatus;
  }
  if (!trace_path.empty()) {
    trace.open(trace_path, std::ios::out | std::ios::trunc);
    if (!trace) {
      std::cerr << "nuvrelos-run: cannot write the trace file " << trace_path << "\n";
      return kUsageStatus;
    }
    process->kernel().add_observer(nuv::json_lines_writer(trace));
  }
  if (strace) process->kernel().add_observer(nuv::strace_writer(stderr));

  nuv::RunResult r = process->run(guest_args);
  if (!gui.save_last.empty()) save_last_frame(*process, gui.save_last);
  switch (r.end) {
    case nuv::RunResult::End::Exited:
      return static_cast<int>(static_cast<uint32_t>(r.status) & 0xFF);
    case nuv::RunResult::End::Stopped:
      std::cerr << "nuvrelos-run: " << r.message << "\n";
      return static_cast<int>(static_cast<uint32_t>(r.status) & 0xFF);
    case nuv::RunResult::End::Returned:
    case nuv::RunResult::End::Paused:
    case nuv::RunResult::End::Fault:
      std::cerr << "nuvrelos-run: guest fault: " << r.message << "\n";
      return kFaultStatus;
  }
  return kFaultStatus;
}
