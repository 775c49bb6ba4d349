// nuvrelos-run: runs an i386 program of the system on Linux, the way a user-mode emulator
// runs a foreign binary.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "host/emu/process.h"
#include "host/kernel/trace.h"

namespace {

constexpr int kUsageStatus = 2;
constexpr int kCannotRunStatus = 126;
constexpr int kFaultStatus = 139;

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
  // Everything from PROGRAM on belongs to the guest, options included.
  app.prefix_command();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int rc = app.exit(e);
    return rc == 0 ? 0 : kUsageStatus;
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
  switch (r.end) {
    case nuv::RunResult::End::Exited:
      return static_cast<int>(static_cast<uint32_t>(r.status) & 0xFF);
    case nuv::RunResult::End::Stopped:
      std::cerr << "nuvrelos-run: " << r.message << "\n";
      return static_cast<int>(static_cast<uint32_t>(r.status) & 0xFF);
    case nuv::RunResult::End::Returned:
    case nuv::RunResult::End::Fault:
      std::cerr << "nuvrelos-run: guest fault: " << r.message << "\n";
      return kFaultStatus;
  }
  return kFaultStatus;
}
