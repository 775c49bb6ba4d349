// Cost of text-to-number conversion in guest instructions (exact, counted once per benchmark)
// and in host time per emulated call.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "tests/harness/guest.h"

namespace {

using nuv::test::Guest;

// Instructions of one call, counted on a call of its own so the timed loop runs unhooked.
uint64_t count_instructions(Guest& g, std::string_view function,
                            std::initializer_list<uint32_t> slots) {
  nuv::Process& p = g.process();
  p.set_instruction_counting(true);
  p.reset_instructions();
  g.call(function, slots);
  const uint64_t n = p.instructions();
  p.set_instruction_counting(false);
  return n;
}

void BM_StrtoldDecimal20Digits(benchmark::State& state) {
  Guest g;
  const uint32_t text = g.str("12345678901234567890");
  const uint64_t instructions = count_instructions(g, "strtold", {text, 0});
  for (auto _ : state) benchmark::DoNotOptimize(g.call_ld("strtold", {text, 0}));
  state.counters["guest_instructions"] = static_cast<double>(instructions);
}
BENCHMARK(BM_StrtoldDecimal20Digits);

void BM_SscanfIntAndWord(benchmark::State& state) {
  Guest g;
  const uint32_t input = g.str("12 abc");
  const uint32_t format = g.str("%d %s");
  const uint32_t number = g.alloc(4);
  const uint32_t word = g.alloc(16);
  const uint64_t instructions = count_instructions(g, "sscanf", {input, format, number, word});
  for (auto _ : state) benchmark::DoNotOptimize(g.call("sscanf", {input, format, number, word}));
  state.counters["guest_instructions"] = static_cast<double>(instructions);
}
BENCHMARK(BM_SscanfIntAndWord);

}  // namespace

BENCHMARK_MAIN();
