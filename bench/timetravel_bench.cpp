// What recording and going back in time cost. Recording (--record-run) against the plain run,
// on the headless demo and on a run that is mostly file reads and writes (goal: at most 1.5
// times the CPU). Under the debugger's hook: the live run with its history kept against the
// plain one (goal: at most twice), one reverse-stepi (goal: 50 ms) and a reverse-continue to a
// watched write 100 million instructions back (goal: 2 s).
#include <benchmark/benchmark.h>

#include <chrono>
#include <optional>

#include "host/debug/process_target.h"
#include "host/timetravel/history.h"
#include "host/timetravel/rdtsc_hooks.h"
#include "host/timetravel/run_recorder.h"
#include "tests/harness/guest.h"
#include "tests/harness/outside.h"

namespace {

using nuv::test::Guest;
using nuv::test::guest_program;
using nuv::test::GuestOptions;

// The snapshot interval the runner uses under --gdb (runner/debug_run.cpp).
constexpr uint64_t kInterval = 1'000'000;

// One run of the program, recorded into /dev/null or not.
void run(benchmark::State& state, const char* program, const std::vector<std::string>& args,
         GuestOptions options, bool record) {
  for (auto _ : state) {
    Guest g(program, options);
    g.kernel().set_recording(false);
    std::optional<nuv::RunRecorder> recorder;
    nuv::Journal* journal = nullptr;
    std::optional<nuv::RdtscHooks> rdtsc;
    if (record) {
      nuv::RunHeader header;
      header.args = args;
      recorder.emplace(header);
      std::string why;
      if (!recorder->open("/dev/null", why)) state.SkipWithError(why.c_str());
      journal = &*recorder;
      g.kernel().set_journal(journal);
      rdtsc.emplace(g.process(), journal);
    }
    nuv::RunResult r = g.run(args);
    if (record) {
      std::string why;
      recorder->finish(r, why);
    }
    if (r.end == nuv::RunResult::End::Fault) state.SkipWithError(r.message.c_str());
  }
}

void BM_Demo(benchmark::State& state) {
  GuestOptions o;
  o.gui.display = nuv::GuiConfig::Display::Headless;
  o.gui.frame_limit = 400;
  run(state, "stack_demo", {"stack_demo"}, o, state.range(0) != 0);
}
BENCHMARK(BM_Demo)->ArgName("recorded")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Files(benchmark::State& state) {
  nuv::test::ScratchDir dir;
  std::string input(256 * 1024, 'x');
  for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<char>('a' + i % 26);
  nuv::test::spit(dir.path / "input", input);
  GuestOptions o;
  o.root = dir.path;
  run(state, "prog_long_run", {"prog_long_run", "files", "40"}, o, state.range(0) != 0);
}
BENCHMARK(BM_Files)->ArgName("recorded")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The program under the debugger's target, with or without its history.
struct Debugged {
  Debugged(const std::vector<std::string>& args, bool history, uint64_t interval = kInterval)
      : process(guest_program("prog_long_run"), quiet()),
        target(process, [](const nuv::RunStop&) { return 0; }) {
    process.prepare(args);
    if (history) {
      this->history.emplace(process, nullptr, uint64_t{512} << 20, interval);
      process.kernel().set_journal(&*this->history);
      target.arm_history(&*this->history);
    }
  }
  static nuv::KernelConfig quiet() {
    nuv::KernelConfig c;
    c.console_out = [](std::string_view) { return 0; };
    return c;
  }
  nuv::Process process;
  nuv::ProcessTarget target;
  std::optional<nuv::History> history;
};

void BM_GdbLiveRun(benchmark::State& state) {
  for (auto _ : state) {
    Debugged d({"prog_long_run", "spin", "50"}, state.range(0) != 0);
    nuv::GdbStop end = d.target.resume(false);
    if (end.kind != nuv::GdbStop::Kind::Exited) state.SkipWithError("did not run to its end");
  }
}
BENCHMARK(BM_GdbLiveRun)->ArgName("history")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_ReverseStepi(benchmark::State& state) {
  // The runner's interval, with the stop as far from a snapshot as it can be: some 1 million
  // instructions from the one at the start.
  Debugged d({"prog_long_run", "spin", "1"}, true, kInterval + 10'000);
  uint32_t write = *d.process.image().symbol("write");
  d.target.insert_point(0, write, 1);
  d.target.resume(false);
  d.target.remove_point(0, write, 1);
  // Each turn steps back one instruction and forward again: the step back runs again from the
  // snapshot before it, a whole interval.
  for (auto _ : state) {
    d.target.reverse(true);
    state.PauseTiming();
    d.target.resume(true);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ReverseStepi)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_ReverseContinueToAWatchedWrite(benchmark::State& state) {
  Debugged d({"prog_long_run", "spin", "100"}, true);
  uint32_t write = *d.process.image().symbol("write");
  uint32_t mark = *d.process.image().symbol("g_mark");
  d.target.insert_point(0, write, 1);
  d.target.resume(false);
  d.target.insert_point(2, mark, 4);
  uint64_t from = d.history->position();
  for (auto _ : state) {
    nuv::GdbStop stop = d.target.reverse(false);
    if (!stop.watch) state.SkipWithError("no watched write found");
    state.PauseTiming();
    state.counters["instructions_back"] = static_cast<double>(from - d.history->position());
    d.target.remove_point(2, mark, 4);
    d.target.resume(false);  // forward to the breakpoint again
    d.target.insert_point(2, mark, 4);
    state.ResumeTiming();
  }
  state.counters["snapshots"] = static_cast<double>(d.history->snapshots());
}
BENCHMARK(BM_ReverseContinueToAWatchedWrite)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
