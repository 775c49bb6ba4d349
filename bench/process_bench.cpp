// Processes as a user runs them: spawn -> exit -> waitpid round trips under nuvrelos-run, beside
// fork + execve + wait of a static Linux i386 program under qemu-i386; and the throughput of a
// pipe between two processes. Goals: a round trip at most 1 ms of CPU and cheaper than
// qemu-i386's; at least 500 MB/s through a pipe with 64 KiB writes.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bench/child_command.h"

using nuv::bench::children_cpu_ms;
using nuv::bench::run;

namespace {

const std::string kBuild = NUV_BINARY_DIR;
constexpr int kRoundTrips = 200;

// A root holding the program as /procs.
const std::string& root() {
  static const std::string dir = [] {
    std::string d = kBuild + "/bench/process_root";
    std::filesystem::create_directories(d);
    std::filesystem::copy_file(kBuild + "/tests/guest/prog_procs", d + "/procs",
                               std::filesystem::copy_options::overwrite_existing);
    return d;
  }();
  return dir;
}

std::vector<std::string> procs(std::vector<std::string> args) {
  std::vector<std::string> command = {kBuild + "/host/nuvrelos-run", "--root", root(),
                                      root() + "/procs"};
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

// The CPU of one round trip: a run of kRoundTrips of them, less a run of none.
void round_trips(benchmark::State& state, const std::vector<std::string>& none,
                 const std::vector<std::string>& many) {
  double empty = 0, full = 0;
  for (auto _ : state) {
    double before = children_cpu_ms();
    if (!run(none)) return state.SkipWithError(("cannot run " + none[0]).c_str());
    double middle = children_cpu_ms();
    if (!run(many)) return state.SkipWithError(("cannot run " + many[0]).c_str());
    empty += middle - before;
    full += children_cpu_ms() - middle;
  }
  state.counters["cpu_us_per_round_trip"] =
      (full - empty) * 1000 / static_cast<double>(state.iterations()) / kRoundTrips;
}

void BM_SpawnExitWait(benchmark::State& state) {
  round_trips(state, procs({"spawn-loop", "0"}),
              procs({"spawn-loop", std::to_string(kRoundTrips)}));
}

void BM_QemuForkExecWait(benchmark::State& state) {
  std::string spawner = kBuild + "/bench/kernels/linux_spawner";
  round_trips(state, {"qemu-i386", spawner, "0"},
              {"qemu-i386", spawner, std::to_string(kRoundTrips)});
}

// MB/s of CPU time through a pipe: 256 MiB in writes of the argument's size.
void BM_PipeThroughput(benchmark::State& state) {
  constexpr int kMebibytes = 256;
  double cpu = 0;
  for (auto _ : state) {
    double before = children_cpu_ms();
    if (!run(procs({"pump", std::to_string(state.range(0)), std::to_string(kMebibytes)}))) {
      return state.SkipWithError("the pump failed");
    }
    cpu += children_cpu_ms() - before;
  }
  state.counters["cpu_MB_per_s"] = static_cast<double>(kMebibytes) * 1.048576 * 1000 *
                                   static_cast<double>(state.iterations()) / cpu;
}

BENCHMARK(BM_SpawnExitWait)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_QemuForkExecWait)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_PipeThroughput)
    ->Arg(4096)
    ->Arg(65536)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
