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

extern char** environ;

namespace {

const std::string kBuild = NUV_BINARY_DIR;

// Runs the command with its output discarded; false when it could not run or failed.
bool run(const std::vector<std::string>& command) {
  std::vector<char*> argv;
  for (const auto& a : command) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double children_cpu_ms() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
  return ms(u.ru_utime) + ms(u.ru_stime);
}

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
