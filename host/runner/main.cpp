// nuvrelos-run: runs an i386 program of the system on Linux, the way a user-mode emulator
// runs a foreign binary.
#include <fcntl.h>
#include <unicorn/unicorn.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/emu/abi_note.h"
#include "host/base/replaced_file.h"
#include "host/gui/compositor.h"
#include "host/gui/png_file.h"
#include "host/gui/scenario.h"
#include "host/gui/sdl_display.h"
#include "host/kernel/trace.h"
#include "host/machine/process.h"
#include "host/runner/command_line.h"
#include "host/runner/debug_run.h"
#include "host/runner/measures.h"
#include "host/runner/vnc_run.h"
#include "host/runner/watchdog.h"

namespace {

constexpr const char* kCommand = "nuvrelos-run";
constexpr int kFaultSignal = SIGSEGV;
// The program ran, but the runner lost some of what it had to deliver (console output, the
// trace): its own failure, as for a host failure behind the GUI.
constexpr int kHostFailureStatus = 125;
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
               h < 1 || w > nuv::kMaxContentSide || h > nuv::kMaxContentSide) {
             throw CLI::ValidationError("--size", "must be WIDTHxHEIGHT, each 1 to " +
                                                      std::to_string(nuv::kMaxContentSide));
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
  nuv::cli::add_whole_number(
      app, "--frame-limit", [&o](uint64_t v) { o.frame_limit = static_cast<uint32_t>(v); }, 1,
      UINT32_MAX,
      "Stop the run with status 124 when the program presents more frames (default: the "
      "scenario's, else 600 headless, none in a window)");
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
      nuv::cli::usage_error(kCommand, e.what());
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
    if (!nuv::display_available(&why)) {
      nuv::cli::usage_error(kCommand, "--display window: cannot open a window: " + why);
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
      nuv::cli::usage_error(kCommand, "--screenshots: cannot make the directory " + o.screenshots);
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

// False when the frame could not be written (the previous file then stays).
bool save_last_frame(nuv::Process& process, const std::string& path) {
  const nuv::Compositor& c = process.kernel().compositor();
  const nuv::Surface* picture = c.presented(c.shown_handle());
  if (picture == nullptr || c.frames_presented() == 0) {
    std::cerr << "nuvrelos-run: --save-last: the program presented no frame; " << path
              << " not written\n";
    return true;
  }
  std::string error;
  if (nuv::write_png(path, *picture, &error)) return true;
  std::cerr << "nuvrelos-run: --save-last: " << error << "\n";
  return false;
}

// Where a trace goes: a file, put in place at the end of the run, or standard output for "-".
struct TraceOutput {
  nuv::ReplacedFile file{"the trace file"};
  std::FILE* stream = nullptr;
};

// The program can see, and change, files inside its root until the run puts its own in place
// (screenshots as each is written): the user is told, once per output.
void warn_if_inside_root(const char* option, const std::string& output, const std::string& root) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path top = fs::canonical(root, ec);
  if (ec || output.empty() || output == "-") return;
  fs::path at = fs::weakly_canonical(fs::absolute(output, ec), ec);
  if (ec) return;
  auto [in_top, in_at] = std::mismatch(top.begin(), top.end(), at.begin(), at.end());
  if (in_top != top.end()) return;
  std::cerr << "nuvrelos-run: warning: " << option << " " << output
            << " lies inside the program's root directory " << top.string()
            << ": the program can see and change it until the run puts its own in place\n";
}

std::string version_line() {
  unsigned major = 0, minor = 0;
  unsigned v = uc_version(&major, &minor);
  return std::string(kCommand) + " " + NUV_VERSION + " (Unicorn " + std::to_string(major) + "." +
         std::to_string(minor) + "." + std::to_string((v >> 8) & 0xFF) + ")";
}

// Another system's program would read our service numbers as its own and die confusingly;
// one without any note may be ours built by hand, so it runs after a warning.
bool abi_allows_running(const std::string& path) {
  nuv::AbiVerdict abi = nuv::inspect_abi(path);
  if (abi.kind == nuv::AbiVerdict::Kind::Foreign) {
    std::cerr << kCommand << ": " << path << ": not a nuvrelos program: " << abi.reason << "\n";
    return false;
  }
  if (abi.kind == nuv::AbiVerdict::Kind::Unmarked) {
    std::cerr << kCommand << ": warning: " << path
              << " carries no nuvrelos ABI note (was it linked without nuvrelos-cc?); running it "
                 "anyway\n";
  }
  return true;
}

// A standard descriptor the runner was started without is taken by one that fails every
// write (and reads nothing), so no file the guest opens can take its number and receive what
// was meant for the console.
void hold_closed_standard_descriptors() {
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    int held = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (held >= 0 && held != fd) {
      ::dup3(held, fd, O_CLOEXEC);
      ::close(held);
    }
  }
}

std::string output_loss(int error) {
  if (error == EBADF) return "standard output is closed";
  if (error == EPIPE) return "standard output: the reader went away (broken pipe)";
  return std::string("standard output: ") + std::strerror(error);
}

}  // namespace

int main(int argc, char** argv) {
  hold_closed_standard_descriptors();
  // A reader that goes away must not kill the runner in the middle of a write: it ends the
  // guest as SIGPIPE would, then closes the trace and ends with SIGPIPE's status.
  std::signal(SIGPIPE, SIG_IGN);
  CLI::App app{
      "Runs a nuvrelos i386 program on this machine: its console output appears on standard "
      "output and its exit status becomes this command's.",
      kCommand};
  nuv::cli::set_usage(app, std::string("Usage: ") + kCommand + " [OPTIONS] PROGRAM [ARGS...]");
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
  nuv::cli::add_seconds(app, "--timeout", timeout, kLongestTimeout,
                        "Stop the run with status 124 after this many seconds of wall-clock time "
                        "(under --gdb too, stopped at a breakpoint or not)");
  nuv::cli::add_whole_number(
      app, "--instruction-limit", [&](uint64_t v) { instruction_limit = v; }, 1, INT64_MAX,
      "Stop the run with status 124 after the program executed this many instructions "
      "(counting slows the run)");
  uint64_t memory_limit = nuv::kDefaultMemoryLimit;
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
  nuv::cli::add_whole_number(
      app, "--gdb", [&](uint64_t v) { gdb_port = static_cast<uint16_t>(v); }, 0, 65535,
      "Wait for gdb on 127.0.0.1:PORT before the first instruction (0: any free port); then "
      "`target remote 127.0.0.1:PORT` in gdb")
      ->type_name("PORT");
  app.add_option("--record", record_path,
                 "Write the input the program received, frame by frame, to this scenario file "
                 "(replay it with --scenario)");
  nuv::MeasureOptions measure;
  nuv::add_measure_options(app, measure);
  // Everything from PROGRAM on belongs to the guest, options included.
  app.prefix_command();
  if (auto status = nuv::cli::parse(app, argc, argv, version_line())) return *status;
  std::vector<std::string> guest_args = app.remaining();
  if (guest_args.empty()) return nuv::cli::usage_error(kCommand, "no PROGRAM given");
  if (guest_args[0].starts_with("-")) {
    return nuv::cli::usage_error(kCommand, "unknown option " + guest_args[0]);
  }
  // An option that only refines another does nothing alone: say so rather than ignore it.
  if (app.count("--profile-format") && measure.profile.empty()) {
    return nuv::cli::usage_error(kCommand, "--profile-format: only with --profile");
  }
  if (!gui.screenshots.empty() && gui.scenario.empty()) {
    return nuv::cli::usage_error(kCommand,
                                 "--screenshots: only with --scenario (its list names the frames; "
                                 "--save-last saves the last one)");
  }
  nuv::TraceFilter filter;
  try {
    filter = nuv::TraceFilter::parse(trace_filter);
  } catch (const std::invalid_argument& e) {
    return nuv::cli::usage_error(kCommand, std::string("--trace-filter: ") + e.what());
  }
  if (app.count("--trace-filter") && trace_path.empty() && !strace) {
    return nuv::cli::usage_error(kCommand, "--trace-filter: only with --trace or --strace");
  }

  nuv::KernelConfig config;
  config.root = root;
  config.write_through_links = through_links;
  if (!gui_config_from(gui, config.gui)) return nuv::cli::kUsageStatus;
  auto vnc = nuv::runner::vnc_options_from(gui.display, gui.vnc_password_file);
  if (const int* status = std::get_if<int>(&vnc)) return *status;
  std::unique_ptr<nuv::Process> process;
  try {
    process = std::make_unique<nuv::Process>(guest_args[0], config, memory_limit);
  } catch (const nuv::LoadError& e) {
    std::cerr << kCommand << ": " << e.what() << "\n";
    return nuv::cli::load_failure_status(e);
  } catch (const std::exception& e) {
    std::cerr << kCommand << ": " << e.what() << "\n";
    return nuv::cli::kCannotRunStatus;
  }
  if (!abi_allows_running(guest_args[0])) return nuv::cli::kCannotRunStatus;
  if (auto& options = std::get<std::optional<nuv::VncOptions>>(vnc);
      options && !nuv::runner::start_vnc_display(*options, *process)) {
    return nuv::cli::kUsageStatus;
  }
  const std::pair<const char*, const std::string*> outputs[] = {
      {"--trace", &trace_path},        {"--coverage", &measure.coverage},
      {"--profile", &measure.profile}, {"--record", &record_path},
      {"--save-last", &gui.save_last}, {"--screenshots", &gui.screenshots}};
  for (const auto& [option, path] : outputs) warn_if_inside_root(option, *path, root);
  TraceOutput trace;
  int trace_error = 0;
  if (trace_path == "-") {
    trace.stream = stdout;
  } else if (!trace_path.empty()) {
    std::string why;
    if (!trace.file.open(trace_path, why))
      return nuv::cli::usage_error(kCommand, "--trace: " + why);
    trace.stream = trace.file.stream();
  }
  if (trace.stream) {
    // The guest's console output is written unbuffered; a trace on the same stream keeps pace.
    process->kernel().add_observer(nuv::trace_writer(trace.stream, nuv::TraceFormat::JsonLines,
                                                     filter, trace.stream == stdout));
    // The first failed write says why; the stream remembers only that something failed. A
    // trace whose reader went away ends the run as the console's does.
    process->kernel().add_observer([&trace, &trace_error, &process](const nuv::ServiceCall&) {
      if (trace_error == 0 && std::ferror(trace.stream)) trace_error = errno != 0 ? errno : EIO;
      if (trace_error == EPIPE) process->kernel().end_by_signal(SIGPIPE);
    });
  }
  if (strace) {
    process->kernel().add_observer(
        nuv::trace_writer(stderr, nuv::TraceFormat::Strace, filter, true));
  }
  std::unique_ptr<nuv::RunMeasures> measures;
  try {
    measures = std::make_unique<nuv::RunMeasures>(*process, measure, guest_args);
  } catch (const std::exception& e) {
    return nuv::cli::usage_error(kCommand, e.what());
  }
  if (!record_path.empty()) process->kernel().compositor().set_recording(true);
  std::FILE* trace_out = trace.stream;
  if (instruction_limit > 0) process->set_instruction_limit(instruction_limit);
  nuv::RunResult r;
  // Under gdb too: the time limit is wall-clock time, stopped at a breakpoint or not, so that
  // a run that gdb left, or a debugger that went silent, still ends.
  std::optional<std::chrono::duration<double>> limit;
  if (timeout > 0) limit = std::chrono::duration<double>(timeout);
  nuv::Watchdog watchdog(*process, limit);
  std::optional<int> debugged;  // the status of a run that ended under the debugger
  if (gdb_port) {
    nuv::runner::DebugOutcome o =
        nuv::runner::run_under_gdb(*process, guest_args, *gdb_port, trace_out);
    if (o.result) r = *o.result;
    if (!o.result) debugged = o.status;
  } else {
    r = process->run(guest_args);
  }
  // What a run that went wrong produced is still worth having: every output is written in
  // every case, and a failure to write one is the run's failure (125), said with its reason.
  bool delivered = true;
  if (!gui.save_last.empty()) delivered = save_last_frame(*process, gui.save_last) && delivered;
  bool screenshot_failed = false;
  for (const std::string& line :
       process->kernel().compositor().finish_screenshots(&screenshot_failed)) {
    std::cerr << "nuvrelos-run: " << line << "\n";
  }
  delivered = !screenshot_failed && delivered;
  delivered = measures->finish() && delivered;
  if (!record_path.empty()) {
    delivered = nuv::runner::write_recording(*process, record_path) && delivered;
  }
  int status = 128 + kFaultSignal;
  if (debugged) {
    status = *debugged;
  } else {
    switch (r.end) {
      case nuv::RunResult::End::Exited:
        status = static_cast<int>(static_cast<uint32_t>(r.status) & 0xFF);
        break;
      case nuv::RunResult::End::Stopped:
        std::cerr << "nuvrelos-run: " << r.message << "\n";
        status = static_cast<int>(static_cast<uint32_t>(r.status) & 0xFF);
        break;
      case nuv::RunResult::End::Returned:
      case nuv::RunResult::End::Paused:
      case nuv::RunResult::End::Fault:
        nuv::runner::report_crash(*process, r, trace_out);
        // As the shell reports a native process the signal ended: 139 SIGSEGV, 132 SIGILL...
        status = 128 + (r.signal != 0 ? r.signal : kFaultSignal);
        break;
    }
  }
  // What could not be delivered is said last, where the user looks, and changes the status.
  const nuv::Kernel& kernel = process->kernel();
  // A reader that went away ends the run quietly, as SIGPIPE ends a native program.
  const int broken_pipe_status = 128 + SIGPIPE;
  if (kernel.output_error() == EPIPE) {
    status = broken_pipe_status;
  } else if (kernel.output_error() != 0) {
    std::cerr << "nuvrelos-run: " << output_loss(kernel.output_error()) << ": "
              << kernel.output_lost() << " bytes of the program's output were lost\n";
    status = kHostFailureStatus;
  }
  if (trace.stream) {
    errno = 0;
    if ((std::fflush(trace.stream) != 0 || std::ferror(trace.stream)) && trace_error == 0) {
      trace_error = errno != 0 ? errno : EIO;
    }
    std::string why;
    if (trace_error == EPIPE) {
      status = broken_pipe_status;
    } else if (trace_error != 0) {
      // An incomplete trace is not put in place: the previous one stays.
      std::cerr << "nuvrelos-run: cannot write the trace file " << trace_path << ": "
                << std::strerror(trace_error) << "; the trace is incomplete\n";
      status = kHostFailureStatus;
    } else if (trace.stream != stdout && !trace.file.commit(why)) {
      std::cerr << "nuvrelos-run: " << why << "\n";
      status = kHostFailureStatus;
    }
  }
  errno = 0;
  if (strace && (std::fflush(stderr) != 0 || std::ferror(stderr))) {
    status = errno == EPIPE ? broken_pipe_status : kHostFailureStatus;
  }
  return delivered ? status : kHostFailureStatus;
}
