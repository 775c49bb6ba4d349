#include "host/runner/vnc_run.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>

#include "host/gui/compositor.h"
#include "host/runner/command_line.h"

namespace nuv {

namespace {

constexpr const char* kCommand = "nuvrelos-run";
// VNC authentication reads no further.
constexpr size_t kVncPasswordLength = 8;

int usage(const std::string& problem) { return usage_error(kCommand, problem); }

}  // namespace

std::variant<std::optional<VncOptions>, int> vnc_options_from(const std::string& display,
                                                              const std::string& password_file) {
  if (display != "vnc" && !display.starts_with("vnc=")) {
    if (!password_file.empty()) return usage("--vnc-password-file: only --display vnc has one");
    return std::optional<VncOptions>();
  }
  VncOptions options;
  if (display != "vnc") {
    std::string error;
    auto parsed = parse_vnc_listen(std::string_view(display).substr(4), &error);
    if (!parsed) return usage("--display " + display + ": " + error);
    options = *parsed;
  }
  if (!password_file.empty()) {
    std::ifstream in(password_file);
    if (!in) {
      return usage("--vnc-password-file: cannot read " + password_file + ": " +
                   std::strerror(errno));
    }
    std::getline(in, options.password);
    if (!options.password.empty() && options.password.back() == '\r') options.password.pop_back();
    if (options.password.empty()) {
      return usage("--vnc-password-file: " + password_file +
                   " holds no password on its first line");
    }
    if (options.password.size() > kVncPasswordLength) {
      std::cerr << kCommand << ": warning: VNC authentication reads only the first "
                << kVncPasswordLength << " characters of the password\n";
    }
  }
  if (options.password.empty() && !is_loopback_address(options.address)) {
    return usage("--display " + display + ": serving beyond this machine needs a password (" +
                 "--vnc-password-file FILE, its first line); without one, listen on 127.0.0.1");
  }
  return std::optional<VncOptions>(options);
}

bool start_vnc_display(const VncOptions& options, Process& process) {
  Compositor& compositor = process.kernel().compositor();
  const GuiConfig& config = process.kernel().config().gui;
  std::unique_ptr<VncDisplay> display;
  try {
    display = std::make_unique<VncDisplay>(options, config.width, config.height);
  } catch (const DisplayError& e) {
    std::cerr << kCommand << ": --display vnc: " << e.what() << "\n";
    return false;
  }
  std::string place = display->address() + ":" + std::to_string(display->port());
  std::cerr << kCommand << ": VNC display on " << place << " (vncviewer " << display->address()
            << "::" << display->port() << "; noVNC connects to the same port)\n"
            << std::flush;
  compositor.use_display(std::move(display));
  return true;
}

}  // namespace nuv
