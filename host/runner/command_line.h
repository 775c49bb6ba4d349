// What the two commands share on their command line: the GNU conventions for usage errors,
// --version and the statuses of a program that cannot run.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "host/emu/elf_image.h"
#include "host/runner/exit_status.h"

namespace nuv {

// One help screen whose only Usage line is this one (CLI11 would add its own).
void set_usage(CLI::App& app, std::string usage);

// "COMMAND: PROBLEM" and "Try 'COMMAND --help'" on standard error; returns kUsageStatus.
int usage_error(const std::string& command, const std::string& problem);

// Parses the command line: nullopt to go on, or the status to end with after --help, --version
// or a usage error (all already printed).
std::optional<int> parse_command_line(CLI::App& app, int argc, char** argv,
                                      const std::string& version_line);

// An option that takes a whole number from min to max, or a number of seconds above 0 and at
// most max_seconds. Anything else is a usage error of one line that names the option, what was
// given and what it takes ("--gdb: 70000 is out of range (0 to 65535)").
CLI::Option* add_whole_number(CLI::App& app, const std::string& name,
                              std::function<void(uint64_t)> store, uint64_t min, uint64_t max,
                              const std::string& help);
CLI::Option* add_seconds(CLI::App& app, const std::string& name, double& into, double max_seconds,
                         const std::string& help);

// 127 for a program that is not there, 126 for one that cannot run (unreadable, a
// directory, not an ELF file of ours).
int load_failure_status(const LoadError& e);

}  // namespace nuv
