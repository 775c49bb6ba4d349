#include "host/runner/run.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>

#include "host/base/regular_file.h"
#include "host/emu/abi_note.h"
#include "host/gui/compositor.h"
#include "host/gui/png_file.h"
#include "host/machine/machine.h"
#include "host/machine/process.h"
#include "host/runner/command_line.h"
#include "host/runner/debug_run.h"
#include "host/runner/measures.h"
#include "host/runner/trace_sink.h"
#include "host/runner/vnc_run.h"
#include "host/runner/watchdog.h"
#include "host/timetravel/rdtsc_hooks.h"
#include "host/timetravel/run_recorder.h"
#include "host/timetravel/run_replayer.h"

namespace nuv {
namespace {

RunOutcome ended_with(int status) {
  RunOutcome o;
  o.status = status;
  return o;
}

// Another system's program would read our service numbers as its own and die confusingly;
// one without any note may be ours built by hand, so it runs after a warning.
bool abi_allows_running(const std::string& path) {
  AbiVerdict abi = inspect_abi(path);
  if (abi.kind == AbiVerdict::Kind::Foreign) {
    std::cerr << kRunCommand << ": " << path << ": not a nuvrelos program: " << abi.reason << "\n";
    return false;
  }
  if (abi.kind == AbiVerdict::Kind::Unmarked) {
    std::cerr << kRunCommand << ": warning: " << path
              << " carries no nuvrelos ABI note (was it linked without nuvrelos-cc?); running it "
                 "anyway\n";
  }
  return true;
}

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

// False when the frame could not be written (the previous file then stays).
bool save_last_frame(Process& process, const std::string& path) {
  const Compositor& c = process.kernel().compositor();
  const Surface* picture = c.presented(c.shown_handle());
  if (picture == nullptr || c.frames_presented() == 0) {
    std::cerr << "nuvrelos-run: --save-last: the program presented no frame; " << path
              << " not written\n";
    return true;
  }
  std::string error;
  if (write_png(path, *picture, &error)) return true;
  std::cerr << "nuvrelos-run: --save-last: " << error << "\n";
  return false;
}

std::string output_loss(int error) {
  if (error == EBADF) return "standard output is closed";
  return std::string("standard output: ") + std::strerror(error);
}

// The outputs a run owes the user, each written whatever the end; false for any that could not
// be, after saying why.
bool write_outputs(Process& process, const RunOptions& o, RunMeasures& measures) {
  bool delivered = true;
  if (!o.save_last.empty()) delivered = save_last_frame(process, o.save_last) && delivered;
  bool screenshot_failed = false;
  for (const std::string& line :
       process.kernel().compositor().finish_screenshots(&screenshot_failed)) {
    std::cerr << "nuvrelos-run: " << line << "\n";
  }
  delivered = !screenshot_failed && delivered;
  delivered = measures.finish() && delivered;
  if (!o.record.empty()) delivered = write_recording(process, o.record) && delivered;
  return delivered;
}

// A replayed program is loaded from the record's copy of it, held in memory: the path the
// loader and the debugging information read is the copy's, never the host file it once was.
struct ProgramCopy {
  UniqueFd fd;
  std::string path;
};
std::optional<ProgramCopy> program_copy(const RunHeader& header) {
  int fd = ::memfd_create("nuvrelos-replay", MFD_CLOEXEC);
  if (fd < 0) return std::nullopt;
  ProgramCopy copy{UniqueFd(fd), "/proc/self/fd/" + std::to_string(fd)};
  size_t done = 0;
  while (done < header.program.size()) {
    ssize_t n = ::write(fd, header.program.data() + done, header.program.size() - done);
    if (n <= 0) return std::nullopt;
    done += static_cast<size_t>(n);
  }
  return copy;
}

// What --record-run keeps of the options: what the program could see of them.
RunHeader record_header(const RunOptions& o, std::string& why) {
  RunHeader h;
  h.executable = o.args[0];
  h.args = o.args;
  h.memory_limit = o.memory_limit;
  h.width = o.kernel.gui.width;
  h.height = o.kernel.gui.height;
  h.frame_limit = o.kernel.gui.frame_limit;
  h.window = o.kernel.gui.display != GuiConfig::Display::Headless;
  if (!read_regular_file(o.args[0], size_t{4} << 30, h.program, why)) h.program.clear();
  return h;
}

}  // namespace

RunOutcome run_program(const RunOptions& o) {
  std::unique_ptr<Process> process;
  std::optional<ProgramCopy> copy;
  std::string program = o.args[0];
  if (o.replay) {
    copy = program_copy(o.replay->header);
    if (!copy) {
      std::cerr << kRunCommand << ": --replay-run: cannot hold the program in memory\n";
      return ended_with(kHostFailureStatus);
    }
    program = copy->path;
  }
  try {
    process = std::make_unique<Process>(program, o.kernel, o.memory_limit);
  } catch (const LoadError& e) {
    std::cerr << kRunCommand << ": " << e.what() << "\n";
    return ended_with(load_failure_status(e));
  } catch (const std::exception& e) {
    std::cerr << kRunCommand << ": " << e.what() << "\n";
    return ended_with(kCannotRunStatus);
  }
  if (!abi_allows_running(program)) return ended_with(kCannotRunStatus);
  // The program is process 1 of the machine; the processes it starts run beside it.
  Machine machine(*process, o.args[0], o.memory_limit);
  if (o.vnc && !start_vnc_display(*o.vnc, *process)) return ended_with(kUsageStatus);
  const std::pair<const char*, const std::string*> outputs[] = {{"--trace", &o.trace},
                                                                {"--coverage", &o.measure.coverage},
                                                                {"--profile", &o.measure.profile},
                                                                {"--record", &o.record},
                                                                {"--record-run", &o.record_run},
                                                                {"--save-last", &o.save_last},
                                                                {"--screenshots", &o.screenshots}};
  for (const auto& [option, path] : outputs) {
    warn_if_inside_root(option, *path, o.kernel.root.string());
  }
  TraceSink trace;
  if (!o.trace.empty()) {
    std::string why;
    if (!trace.open(o.trace, why)) return ended_with(usage_error(kRunCommand, "--trace: " + why));
    trace.attach(process->kernel(), o.trace_filter);
  }
  if (o.strace) {
    process->kernel().add_observer(trace_writer(stderr, TraceFormat::Strace, o.trace_filter, true));
  }
  std::unique_ptr<RunMeasures> measures;
  try {
    measures = std::make_unique<RunMeasures>(*process, o.measure, o.args);
  } catch (const std::exception& e) {
    return ended_with(usage_error(kRunCommand, e.what()));
  }
  machine.on_fault = [&trace](Process& child, int32_t pid, const std::string& program,
                              const RunResult& r) {
    std::cerr << "nuvrelos-run: process " << pid << " (" << program
              << ") crashed; the others go on\n";
    report_crash(child, r, trace.stream());
  };
  if (!o.record.empty()) process->kernel().compositor().set_recording(true);
  // The journal: a recorder, or a replayer, answers every call and every rdtsc.
  Journal* journal = nullptr;
  std::unique_ptr<RunRecorder> recorder;
  std::unique_ptr<RunReplayer> replayer;
  if (!o.record_run.empty()) {
    std::string why;
    RunHeader header = record_header(o, why);
    if (header.program.empty()) return ended_with(usage_error(kRunCommand, "--record-run: " + why));
    recorder = std::make_unique<RunRecorder>(std::move(header));
    if (!recorder->open(o.record_run, why)) {
      return ended_with(usage_error(kRunCommand, "--record-run: " + why));
    }
    journal = recorder.get();
  } else if (o.replay) {
    replayer = std::make_unique<RunReplayer>(o.replay);
    journal = replayer.get();
  }
  std::optional<RdtscHooks> rdtsc;
  if (journal) process->kernel().set_journal(journal);
  if (journal || o.gdb_port) rdtsc.emplace(*process, journal);
  // Every process's rdtsc is the journal's too, under a record or a replay.
  std::map<int32_t, std::unique_ptr<RdtscHooks>> child_rdtsc;
  bool child_journal = journal != nullptr;
  machine.on_start = [&measures, &child_rdtsc, &journal, child_journal](Process& child,
                                                                        int32_t pid) {
    measures->attach(child, pid);
    if (child_journal) child_rdtsc[pid] = std::make_unique<RdtscHooks>(child, journal);
  };
  machine.on_stop = [&measures, &child_rdtsc, &machine](Process& child, int32_t pid) {
    child_rdtsc.erase(pid);
    measures->detach(child, pid, machine.program_of(pid));
  };
  if (o.instruction_limit > 0) process->set_instruction_limit(o.instruction_limit);

  RunOutcome outcome;
  {
    // Under gdb too: the time limit is wall-clock time, stopped at a breakpoint or not, so
    // that a run that gdb left, or a debugger that went silent, still ends.
    Watchdog watchdog(*process, o.timeout);
    if (o.gdb_port) {
      DebugOutcome d =
          run_under_gdb(*process, o.args, *o.gdb_port, trace.stream(), journal, o.history_memory);
      outcome.result = d.result;
      outcome.status = d.status;
    } else {
      outcome.result = process->run(o.args);
    }
    // The others run to their end after process 1's (its status stays the command's), unless
    // the run itself was stopped.
    if (outcome.result && outcome.result->end != RunResult::End::Stopped) {
      machine.finish(*outcome.result);
      const Kernel& k = process->kernel();
      if (const RunStop* stop = process->requested_stop()) {
        outcome.result->end = RunResult::End::Stopped;
        outcome.result->stop = *stop;
        outcome.result->message = stop->message;
      } else if (k.stopped() && outcome.result->end == RunResult::End::Exited) {
        outcome.result->end = RunResult::End::Stopped;
        outcome.result->stop = *k.stopped();
        outcome.result->message = k.stopped()->message;
      }
    }
  }
  // What a run that went wrong produced is still worth having: every output is written in
  // every case, and a failure to write one is the run's failure, said with its reason.
  outcome.undelivered = !write_outputs(*process, o, *measures);
  machine.on_start = nullptr;
  machine.on_stop = nullptr;
  if (recorder) {
    std::string why;
    if (!recorder->finish(outcome.result.value_or(RunResult{}), why)) {
      std::cerr << "nuvrelos-run: --record-run: " << why << "\n";
      outcome.undelivered = true;
    }
  }
  if (const std::optional<RunResult>& r = outcome.result) {
    if (r->end == RunResult::End::Stopped && !r->message.empty()) {
      std::cerr << "nuvrelos-run: " << r->message << "\n";
    } else if (r->end != RunResult::End::Exited && r->end != RunResult::End::Stopped) {
      report_crash(*process, *r, trace.stream());
    }
  }
  // What could not be delivered is said last, where the user looks.
  const Kernel& kernel = process->kernel();
  if (kernel.output_error() == EPIPE) {
    outcome.reader_gone = true;
  } else if (kernel.output_error() != 0) {
    std::cerr << "nuvrelos-run: " << output_loss(kernel.output_error()) << ": "
              << kernel.output_lost() << " bytes of the program's output were lost\n";
    outcome.undelivered = true;
  }
  switch (trace.finish()) {
    case TraceSink::Delivered::Whole:
      break;
    case TraceSink::Delivered::ReaderGone:
      outcome.reader_gone = true;
      break;
    case TraceSink::Delivered::Failed:
      outcome.undelivered = true;
      break;
  }
  errno = 0;
  if (o.strace && (std::fflush(stderr) != 0 || std::ferror(stderr))) {
    (errno == EPIPE ? outcome.reader_gone : outcome.undelivered) = true;
  }
  return outcome;
}

}  // namespace nuv
