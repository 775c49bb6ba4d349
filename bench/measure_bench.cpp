// What --coverage and --profile cost on the headless demo: the same run of the demo's frame
// loop plain, with block coverage (reading the line table and writing the tracefile
// included), and with the profiler (writing the callgrind file included).
#include <benchmark/benchmark.h>

#include <sstream>

#include "host/measure/block_coverage.h"
#include "host/measure/lcov.h"
#include "host/measure/profile_writers.h"
#include "host/measure/profiler.h"
#include "tests/harness/guest.h"

namespace {

using nuv::test::Guest;
using nuv::test::GuestOptions;

constexpr uint32_t kFrames = 400;

enum class Measure { None, Coverage, Profile };

void demo(benchmark::State& state, Measure measure) {
  GuestOptions o;
  o.gui.display = nuv::GuiConfig::Display::Headless;
  o.gui.frame_limit = kFrames;
  const std::string program = nuv::test::guest_program("stack_demo");
  size_t written = 0;
  for (auto _ : state) {
    Guest g("stack_demo", o);
    g.kernel().set_recording(false);
    std::unique_ptr<nuv::BlockCoverage> coverage;
    std::unique_ptr<nuv::Profiler> profiler;
    nuv::SourceMap map;
    if (measure != Measure::None) map = nuv::SourceMap::read(program);
    if (measure == Measure::Coverage) coverage = std::make_unique<nuv::BlockCoverage>(g.process());
    if (measure == Measure::Profile) profiler = std::make_unique<nuv::Profiler>(g.process());
    nuv::RunResult r = g.run({"stack_demo"});
    if (r.end != nuv::RunResult::End::Stopped) {
      state.SkipWithError(("the demo did not run its frames: " + r.message).c_str());
      return;
    }
    std::ostringstream out;
    if (coverage) nuv::write_lcov(out, "stack_demo", nuv::line_coverage(map, coverage->blocks()));
    if (profiler) nuv::write_callgrind(out, map, profiler->finish(), program, "stack_demo");
    written = out.str().size();
  }
  state.counters["frames_per_second"] = benchmark::Counter(
      static_cast<double>(state.iterations() * kFrames), benchmark::Counter::kIsRate);
  state.counters["bytes_written"] = static_cast<double>(written);
}

void BM_DemoPlain(benchmark::State& state) { demo(state, Measure::None); }
void BM_DemoCoverage(benchmark::State& state) { demo(state, Measure::Coverage); }
void BM_DemoProfile(benchmark::State& state) { demo(state, Measure::Profile); }

BENCHMARK(BM_DemoPlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DemoCoverage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DemoProfile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
