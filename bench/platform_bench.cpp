// What the platform itself costs: a host-to-guest call through the harness, one kernel
// service round trip (int 0x80 to the host handler and back), and a block of code cut short.
#include <benchmark/benchmark.h>

#include "tests/harness/guest.h"

namespace nuv::test {
namespace {

void HostToGuestCall(benchmark::State& state) {
  Guest g("prog_harness_probe");
  g.kernel().set_recording(false);
  uint32_t fn = g.sym("probe_sum");
  const uint32_t slots[] = {1, 2, 3};
  for (auto _ : state) {
    benchmark::DoNotOptimize(g.process().call(fn, slots));
  }
}
BENCHMARK(HostToGuestCall);

void KernelRoundTrip(benchmark::State& state) {
  Guest g("prog_harness_probe");
  g.kernel().set_recording(false);
  uint32_t fn = g.sym("probe_sleep_calls");
  const uint32_t n = 10000;
  const uint32_t slots[] = {n};
  // The guest's own share: the same loop's instructions, counted once.
  g.process().set_instruction_counting(true);
  g.process().call(fn, slots);
  g.process().set_instruction_counting(false);
  state.counters["guest_insns_per_call"] = static_cast<double>(g.process().instructions()) / n;
  for (auto _ : state) g.process().call(fn, slots);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * n);
}
BENCHMARK(KernelRoundTrip)->Unit(benchmark::kMillisecond);

// A block too long for the engine is cut, and each cut costs a stop of the engine every time
// the block runs: 1,000 x87 additions a pass in one straight run, against the same additions
// in ten blocks of 100 that the engine takes whole.
void LongBlockPasses(benchmark::State& state, const char* function) {
  Guest g("prog_long_blocks");
  uint32_t fn = g.sym(function);
  const uint32_t passes = 1000;
  const uint32_t slots[] = {passes};
  for (auto _ : state) g.process().call(fn, slots);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * passes);
  state.counters["cuts"] = static_cast<double>(g.process().block_cuts());
}
BENCHMARK_CAPTURE(LongBlockPasses, cut, "long_block_passes")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LongBlockPasses, whole, "short_block_passes")->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace nuv::test

BENCHMARK_MAIN();
