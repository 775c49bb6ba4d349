// Cost of formatting the demo's status line, in guest instructions per call (the figure that
// matters on the target) and in host time per call through the emulator.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "tests/harness/guest.h"

namespace {

using nuv::test::Guest;

constexpr char kStatusLine[] = "mouse=%d,%d  active=%d  q/esc quits";
constexpr uint32_t kStatusBufferSize = 120;

uint64_t instructions_of_one_call(Guest& g, std::string_view function,
                                  std::initializer_list<uint32_t> slots) {
  g.process().set_instruction_counting(true);
  g.process().reset_instructions();
  g.call(function, slots);
  uint64_t n = g.process().instructions();
  g.process().set_instruction_counting(false);
  return n;
}

void BM_SnprintfStatusLine(benchmark::State& state) {
  Guest g;
  g.kernel().set_recording(false);
  uint32_t buffer = g.alloc(kStatusBufferSize);
  uint32_t format = g.str(kStatusLine);
  const uint32_t minus_34 = static_cast<uint32_t>(-34);
  state.counters["guest_instructions"] = static_cast<double>(instructions_of_one_call(
      g, "snprintf", {buffer, kStatusBufferSize, format, 12, minus_34, 2}));
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        g.call("snprintf", {buffer, kStatusBufferSize, format, 12, minus_34, 2}));
  }
}
BENCHMARK(BM_SnprintfStatusLine);

// Every literal character is its own kernel write, so most of this is the write path.
void BM_PrintfStatusLineToConsole(benchmark::State& state) {
  Guest g;
  g.kernel().set_recording(false);
  uint32_t format = g.str(kStatusLine);
  const uint32_t minus_34 = static_cast<uint32_t>(-34);
  state.counters["guest_instructions"] =
      static_cast<double>(instructions_of_one_call(g, "printf", {format, 12, minus_34, 2}));
  for (auto _ : state) {
    benchmark::DoNotOptimize(g.call("printf", {format, 12, minus_34, 2}));
    g.clear_console();
  }
}
BENCHMARK(BM_PrintfStatusLineToConsole);

}  // namespace

BENCHMARK_MAIN();
