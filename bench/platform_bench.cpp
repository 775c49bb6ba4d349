// What the platform itself costs: a host-to-guest call through the harness, and one kernel
// service round trip (int 0x80 to the host handler and back).
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

}  // namespace
}  // namespace nuv::test

BENCHMARK_MAIN();
