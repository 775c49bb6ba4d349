// Start-up: nuvrelos-run on a program that exits at once, from exec to exit, as a user runs it.
// Goal: at most 10 ms wall on an idle machine (CPU time is the figure to watch on a busy one).
// The same for qemu-i386 on the Linux build of the side-by-side kernels, when it is installed.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bench/child_command.h"

using nuv::bench::children_cpu_ms;
using nuv::bench::run;

namespace {

const std::string kBuild = NUV_BINARY_DIR;

// Wall time per run, and the command's own CPU time (user and system) as a counter.
void time_command(benchmark::State& state, const std::vector<std::string>& command) {
  double cpu_before = children_cpu_ms();
  for (auto _ : state) {
    if (!run(command)) {
      state.SkipWithError(("cannot run " + command[0]).c_str());
      return;
    }
  }
  state.counters["cpu_ms"] =
      (children_cpu_ms() - cpu_before) / static_cast<double>(state.iterations());
}

void BM_RunnerStartUp(benchmark::State& state) {
  time_command(state, {kBuild + "/host/nuvrelos-run", kBuild + "/tests/guest/prog_exit_code", "0"});
}

void BM_QemuStartUp(benchmark::State& state) {
  time_command(state, {"qemu-i386", kBuild + "/bench/kernels/linux_kernels", "alu", "0"});
}

BENCHMARK(BM_RunnerStartUp)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_QemuStartUp)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
