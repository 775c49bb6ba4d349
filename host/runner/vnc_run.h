// --display vnc for the runner: the options read, the server started before the program runs
// and its address named on standard error.
#pragma once

#include <optional>
#include <string>
#include <variant>

#include "host/gui/vnc_display.h"
#include "host/machine/process.h"

namespace nuv {

// The server's settings from --display vnc[=ADDRESS:PORT] and --vnc-password-file: the
// options, or the status to end with after saying what is wrong (2). A display that is not
// vnc gives no options (and a password file alone is an error).
std::variant<std::optional<VncOptions>, int> vnc_options_from(const std::string& display,
                                                              const std::string& password_file);

// Starts the server and gives it to the program's compositor; false after saying why.
bool start_vnc_display(const VncOptions& options, Process& process);

}  // namespace nuv
