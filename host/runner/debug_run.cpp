#include "host/runner/debug_run.h"

#include <iostream>
#include <nlohmann/json.hpp>

#include "host/base/replaced_file.h"
#include "host/debug/crash_report.h"
#include "host/debug/gdb_server.h"
#include "host/gui/compositor.h"
#include "host/gui/scenario.h"
#include "host/runner/exit_status.h"
#include "host/timetravel/history.h"

namespace nuv {
namespace {
// Instructions between two snapshots of the history: running again this far takes some 30 ms
// under the debugger's hook (bench/reverse_bench).
constexpr uint64_t kSnapshotInterval = 1'000'000;
}  // namespace

void report_crash(Process& process, const RunResult& fault, std::FILE* trace) {
  std::unique_ptr<DebugInfo> info;
  try {
    info = DebugInfo::open(process.image().path());
  } catch (const DebugInfoError&) {
    // No symbols to be had: the report still names the address.
  }
  RunResult what = fault;
  if (what.message.empty()) what.message = "the program returned from its entry point";
  if (what.signal == 0) what.signal = kFaultSignal;
  CrashReport report = make_crash_report(process, what, info.get());
  std::cerr << format_crash_report(report) << std::flush;
  if (trace) {
    // Whatever a name held, the record is written: bytes that are not UTF-8 are replaced.
    std::string record =
        crash_record(report).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    std::fwrite(record.data(), 1, record.size(), trace);
    std::fflush(trace);
  }
}

DebugOutcome run_under_gdb(Process& process, const std::vector<std::string>& args, uint16_t port,
                           std::FILE* trace, Journal*& journal, uint64_t history_memory) {
  DebugOutcome out;
  if (!process.prepare(args)) {
    RunResult r;
    r.end = RunResult::End::Fault;
    r.message = "the argument list does not fit on the stack";
    out.result = r;
    return out;
  }
  std::optional<GdbServer> server;
  try {
    server.emplace(port);
  } catch (const GdbServerError& e) {
    std::cerr << "nuvrelos-run: --gdb: " << e.what() << "\n";
    out.status = kUsageStatus;
    return out;
  }
  std::cerr << "nuvrelos-run: waiting for gdb on 127.0.0.1:" << server->port()
            << " (target remote 127.0.0.1:" << server->port() << ")\n"
            << std::flush;
  ProcessTarget target(process, [](const RunStop& stop) { return exit_status(stop); });
  Journal* inner = journal;
  std::unique_ptr<History> history;
  if (history_memory > 0) {
    history = std::make_unique<History>(process, inner, history_memory, kSnapshotInterval);
    journal = history.get();
    process.kernel().set_journal(journal);
    target.arm_history(history.get());
  }
  // The history goes with the debugger; whatever runs after answers to the journal before it.
  struct Disarm {
    Process& process;
    Journal*& journal;
    Journal* inner;
    ~Disarm() {
      journal = inner;
      process.kernel().set_journal(inner);
    }
  } disarm{process, journal, inner};
  GdbServer::End end = server->serve(target, process.kernel().stop_request().fd());
  if (target.fatal_signal() != 0) {
    report_crash(process, target.last_result(), trace);
    out.status = signal_status(target.fatal_signal());
    return out;
  }
  if (target.ended()) {
    out.result = target.last_result();
    return out;
  }
  if (end == GdbServer::End::Killed) {
    out.status = signal_status(SIGKILL);
    return out;
  }
  // Detached, or the debugger went away: the program goes on by itself. (Asked to end while
  // the debugger held it, it ends at once: the run sees the stop request.) Where it was taken
  // back in time, it goes on from there, the calls it made already answered as they were.
  target.clear_points();
  if (target.at_end_of_record()) {
    out.result = target.last_result();
    return out;
  }
  out.result = process.resume();
  return out;
}

bool write_recording(Process& process, const std::string& path) {
  const Compositor& c = process.kernel().compositor();
  int32_t width = 0, height = 0;
  const Surface* picture = c.presented(c.shown_handle());
  if (picture) {
    width = picture->width;
    height = picture->height;
  }
  nlohmann::json doc = recorded_scenario(c.received(), width, height, c.frames_presented());
  if (!picture) doc.erase("size");
  ReplacedFile file("the recording");
  std::string why;
  bool ok = file.open(path, why);
  if (ok) {
    file.write(doc.dump(2) + '\n');
    ok = file.commit(why);
  }
  if (!ok) std::cerr << "nuvrelos-run: --record: " << why << "\n";
  return ok;
}

}  // namespace nuv
