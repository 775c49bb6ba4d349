#include "host/runner/run_options.h"

#include <unicorn/unicorn.h>

#include <CLI/CLI.hpp>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "host/base/regular_file.h"
#include "host/gui/scenario.h"
#include "host/gui/sdl_display.h"
#include "host/machine/process.h"
#include "host/runner/command_line.h"
#include "host/runner/vnc_run.h"

namespace nuv {
namespace {

// A headless run without a scenario's own limit stops after this many frames (ten seconds of
// the demo's virtual time): nobody can press q there.
constexpr uint32_t kHeadlessFrameLimit = 600;
// A year: any longer limit is no limit, and the clocks it is added to stay far from overflow.
constexpr double kLongestTimeout = 365.0 * 24 * 3600;

struct GuiOptions {
  std::string display = "auto";
  std::string scenario;
  int32_t width = 0, height = 0;  // 0: --size not given
  std::string screenshots;
  std::string save_last;
  std::string font;
  uint32_t frame_limit = 0;
  std::string vnc_password_file;
};

void add_gui_options(CLI::App& app, GuiOptions& o) {
  app.add_option("--display", o.display,
                 "Where GUI programs show: auto (a window when a display is there, else "
                 "headless), headless, window, or vnc[=ADDRESS:PORT] (a VNC server, also for "
                 "noVNC in a browser; default 127.0.0.1 and any free port)")
      ->check([](const std::string& v) {
        return v == "auto" || v == "headless" || v == "window" || v == "vnc" ||
                       v.starts_with("vnc=")
                   ? std::string()
                   : "must be auto, headless, window or vnc[=ADDRESS:PORT], not " + v;
      })
      ->default_str("auto");
  app.add_option("--vnc-password-file", o.vnc_password_file,
                 "Viewers of --display vnc must give the password on this file's first line "
                 "(needed to serve beyond 127.0.0.1)")
      ->type_name("FILE");
  app.add_option("--scenario", o.scenario,
                 "JSON scenario for a headless run: input events, injected failures, "
                 "screenshots, content size, frame limit (see scenarios/)")
      ->check(CLI::ExistingFile);
  app.add_option_function<std::string>(
         "--size",
         [&o](const std::string& v) {
           int w = 0, h = 0;
           char x = 0, extra = 0;
           if (std::sscanf(v.c_str(), "%d%c%d%c", &w, &x, &h, &extra) != 3 || x != 'x' || w < 1 ||
               h < 1 || w > kMaxContentSide || h > kMaxContentSide) {
             throw CLI::ValidationError(
                 "--size", "must be WIDTHxHEIGHT, each 1 to " + std::to_string(kMaxContentSide));
           }
           o.width = w;
           o.height = h;
         },
         "Content size of GUI windows, WIDTHxHEIGHT (default 640x360)")
      ->type_name("WxH");
  app.add_option("--screenshots", o.screenshots,
                 "Directory for the scenario's screenshots, frame-NNNNN.png (made if missing; "
                 "without it none are written)");
  app.add_option("--save-last", o.save_last,
                 "Write the last frame the program presented to this PNG file at the end");
  add_whole_number(
      app, "--frame-limit", [&o](uint64_t v) { o.frame_limit = static_cast<uint32_t>(v); }, 1,
      UINT32_MAX,
      "Stop the run with status 124 when the program presents more frames (default: the "
      "scenario's, else 600 headless, none in a window)");
  app.add_option("--font", o.font,
                 std::string("Console font for GUI text (default ") + kDefaultFontPath + ")");
}

// The compositor's settings from the options; false after saying what is wrong.
bool gui_config_from(const GuiOptions& o, GuiConfig& config) {
  using Display = GuiConfig::Display;
  if (!o.scenario.empty()) {
    try {
      config = with_scenario(config, load_scenario(o.scenario));
    } catch (const ScenarioError& e) {
      usage_error(kRunCommand, e.what());
      return false;
    }
  }
  if (o.width != 0) {
    config.width = o.width;
    config.height = o.height;
  }
  if (!o.font.empty()) config.font_path = o.font;
  if (o.display == "vnc" || o.display.starts_with("vnc=")) {
    config.display = Display::Vnc;
  } else if (o.display == "window") {
    std::string why;
    if (!display_available(&why)) {
      usage_error(kRunCommand, "--display window: cannot open a window: " + why);
      return false;
    }
    config.display = Display::Window;
  } else if (o.display == "headless" || !o.scenario.empty()) {
    config.display = Display::Headless;
  } else {
    config.display = display_available(nullptr) ? Display::Window : Display::Headless;
  }
  if (o.frame_limit != 0) config.frame_limit = o.frame_limit;
  if (config.frame_limit == 0 && config.display == Display::Headless) {
    config.frame_limit = kHeadlessFrameLimit;
  }
  if (!o.screenshots.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(o.screenshots, ec);
    if (!std::filesystem::is_directory(o.screenshots)) {
      usage_error(kRunCommand, "--screenshots: cannot make the directory " + o.screenshots);
      return false;
    }
    config.screenshot_dir = o.screenshots;
    if (config.scenario.screenshots.empty()) {
      std::cerr << "nuvrelos-run: --screenshots: the scenario lists no frames to save "
                   "(--save-last saves the last one)\n";
    }
  }
  return true;
}

// "4096", "512K", "64M", "2G": a size in bytes, from 4 MiB to 4 GiB, or nullopt.
std::optional<uint64_t> memory_size(const std::string& text) {
  uint64_t value = 0;
  size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && value < (uint64_t{1} << 40); ++i) {
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
  }
  if (i == 0 || text.size() - i > 1) return std::nullopt;
  if (i < text.size()) {
    const std::string units = "KMG";
    size_t unit = units.find(static_cast<char>(std::toupper(static_cast<unsigned char>(text[i]))));
    if (unit == std::string::npos || value > (uint64_t{4} << 30) >> (10 * (unit + 1))) {
      return std::nullopt;
    }
    value <<= 10 * (unit + 1);
  }
  if (value < (uint64_t{4} << 20) || value > (uint64_t{4} << 30)) return std::nullopt;
  return value;
}

std::string version_line() {
  unsigned major = 0, minor = 0;
  unsigned v = uc_version(&major, &minor);
  return std::string(kRunCommand) + " " + NUV_VERSION + " (Unicorn " + std::to_string(major) + "." +
         std::to_string(minor) + "." + std::to_string((v >> 8) & 0xFF) + ")";
}

}  // namespace

std::variant<RunOptions, int> parse_run_options(int argc, char** argv) {
  CLI::App app{
      "Runs a nuvrelos i386 program on this machine: its console output appears on standard "
      "output and its exit status becomes this command's.",
      kRunCommand};
  set_usage(app, std::string("Usage: ") + kRunCommand + " [OPTIONS] PROGRAM [ARGS...]");
  std::string root = ".";
  std::string trace_path;
  std::string trace_filter;
  bool strace = false;
  app.add_option("--root", root, "Directory the program sees as / (default: current)")
      ->check(CLI::ExistingDirectory);
  app.add_option("--trace", trace_path,
                 "Record every kernel service call as JSON Lines in FILE (- for standard output)")
      ->type_name("FILE");
  app.add_flag("--strace", strace, "Print every kernel service call on standard error");
  app.add_option("--trace-filter", trace_filter,
                 "Trace only these services (gui_fill_rect,gui_draw_text), or all but those "
                 "named with ! (!usleep)")
      ->type_name("LIST");
  double timeout = 0;
  uint64_t instruction_limit = 0;
  bool through_links = false;
  add_seconds(app, "--timeout", timeout, kLongestTimeout,
              "Stop the run with status 124 after this many seconds of wall-clock time "
              "(under --gdb too, stopped at a breakpoint or not)");
  add_whole_number(
      app, "--instruction-limit", [&](uint64_t v) { instruction_limit = v; }, 1, INT64_MAX,
      "Stop the run with status 124 after the program executed this many instructions "
      "(counting slows the run)");
  uint64_t memory_limit = kDefaultMemoryLimit;
  app.add_option_function<std::string>(
         "--memory-limit",
         [&memory_limit](const std::string& v) {
           if (auto bytes = memory_size(v)) {
             memory_limit = *bytes;
             return;
           }
           throw CLI::ValidationError("--memory-limit",
                                      "must be a size from 4M to 4G, in bytes or with K, M or G");
         },
         "Refuse a program whose segments and stack need more memory than this (default 1G; "
         "K, M and G are binary multiples)")
      ->type_name("SIZE");
  app.add_flag("--write-through-links", through_links,
               "writefile writes a file with several hard links in place, so every link sees "
               "the new content (default: replace it atomically; its other links keep the old)");
  GuiOptions gui;
  add_gui_options(app, gui);
  std::optional<uint16_t> gdb_port;
  std::string record_path;
  add_whole_number(
      app, "--gdb", [&](uint64_t v) { gdb_port = static_cast<uint16_t>(v); }, 0, 65535,
      "Wait for gdb on 127.0.0.1:PORT before the first instruction (0: any free port); then "
      "`target remote 127.0.0.1:PORT` in gdb")
      ->type_name("PORT");
  app.add_option("--record", record_path,
                 "Write the input the program received, frame by frame, to this scenario file "
                 "(replay it with --scenario)");
  std::string record_run, replay_run;
  app.add_option("--record-run", record_run,
                 "Record everything the run takes from outside (files, console, input, the "
                 "time-stamp counter) and the program itself into FILE, for --replay-run")
      ->type_name("FILE");
  app.add_option("--replay-run", replay_run,
                 "Run a recorded run again exactly, from FILE alone (no PROGRAM): nothing of "
                 "the host is read or written; a run that leaves the record stops with 122")
      ->type_name("FILE");
  uint64_t history_memory = kDefaultHistoryMemory;
  app.add_option_function<std::string>(
         "--history-memory",
         [&history_memory](const std::string& v) {
           if (v == "0") {
             history_memory = 0;
             return;
           }
           if (auto bytes = memory_size(v)) {
             history_memory = *bytes;
             return;
           }
           throw CLI::ValidationError(
               "--history-memory", "must be 0 or a size from 4M to 4G, in bytes or with K, M or G");
         },
         "Under --gdb, the most the snapshots for going back in time may take (default 512M; "
         "0: keep no history, gdb cannot go back)")
      ->type_name("SIZE");
  MeasureOptions measure;
  add_measure_options(app, measure);
  // Everything from PROGRAM on belongs to the guest, options included.
  app.prefix_command();
  if (auto status = parse_command_line(app, argc, argv, version_line())) return *status;
  std::vector<std::string> guest_args = app.remaining();
  std::shared_ptr<RunRecord> replay;
  if (!replay_run.empty()) {
    // The record says what ran and how: what would change it is refused, not ignored.
    if (!guest_args.empty()) {
      return usage_error(kRunCommand,
                         "--replay-run: the record names the program; give no PROGRAM");
    }
    for (const char* option :
         {"--root", "--scenario", "--record", "--record-run", "--size", "--frame-limit",
          "--display", "--memory-limit", "--write-through-links", "--font"}) {
      if (app.count(option)) {
        return usage_error(kRunCommand, std::string(option) + ": not with --replay-run");
      }
    }
    std::vector<uint8_t> bytes;
    std::string why;
    if (!read_regular_file(replay_run, size_t{8} << 30, bytes, why)) {
      return usage_error(kRunCommand, "--replay-run: " + why);
    }
    try {
      replay = std::make_shared<RunRecord>(decode_run_record(
          std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())));
    } catch (const RunRecordError& e) {
      return usage_error(kRunCommand, "--replay-run: " + replay_run + ": " + e.what());
    }
    const RunHeader& h = replay->header;
    if (h.width < 1 || h.height < 1 || h.width > kMaxContentSide || h.height > kMaxContentSide ||
        h.memory_limit < (uint64_t{4} << 20) || h.memory_limit > (uint64_t{4} << 30)) {
      return usage_error(kRunCommand, "--replay-run: " + replay_run +
                                          ": the header's window size or memory limit is damaged");
    }
    guest_args = h.args;
  }
  if (guest_args.empty()) return usage_error(kRunCommand, "no PROGRAM given");
  if (guest_args[0].starts_with("-")) {
    return usage_error(kRunCommand, "unknown option " + guest_args[0]);
  }
  // An option that only refines another does nothing alone: say so rather than ignore it.
  if (app.count("--profile-format") && measure.profile.empty()) {
    return usage_error(kRunCommand, "--profile-format: only with --profile");
  }
  if (!gui.screenshots.empty() && gui.scenario.empty()) {
    return usage_error(kRunCommand,
                       "--screenshots: only with --scenario (its list names the frames; "
                       "--save-last saves the last one)");
  }
  TraceFilter filter;
  try {
    filter = TraceFilter::parse(trace_filter);
  } catch (const std::invalid_argument& e) {
    return usage_error(kRunCommand, std::string("--trace-filter: ") + e.what());
  }
  if (app.count("--trace-filter") && trace_path.empty() && !strace) {
    return usage_error(kRunCommand, "--trace-filter: only with --trace or --strace");
  }

  RunOptions run;
  run.args = std::move(guest_args);
  run.kernel.root = root;
  run.kernel.write_through_links = through_links;
  if (!gui_config_from(gui, run.kernel.gui)) return kUsageStatus;
  auto vnc = vnc_options_from(gui.display, gui.vnc_password_file);
  if (const int* status = std::get_if<int>(&vnc)) return *status;
  run.vnc = std::get<std::optional<VncOptions>>(vnc);
  run.memory_limit = memory_limit;
  run.trace = trace_path;
  run.strace = strace;
  run.trace_filter = std::move(filter);
  if (timeout > 0) run.timeout = std::chrono::duration<double>(timeout);
  run.instruction_limit = instruction_limit;
  run.gdb_port = gdb_port;
  run.record = record_path;
  run.save_last = gui.save_last;
  run.screenshots = gui.screenshots;
  run.measure = measure;
  run.record_run = record_run;
  run.history_memory = history_memory;
  if (replay) {
    // Headless, with the recorded sizes and limit exactly (no default limit of its own).
    const RunHeader& h = replay->header;
    run.kernel.gui.display = GuiConfig::Display::Headless;
    run.kernel.gui.width = h.width;
    run.kernel.gui.height = h.height;
    run.kernel.gui.frame_limit = h.frame_limit;
    run.memory_limit = h.memory_limit;
    run.replay = std::move(replay);
  }
  return run;
}

}  // namespace nuv
