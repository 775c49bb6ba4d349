// Cost of the runtime's memory functions and of building text in a memory stream, in guest
// instructions (the figure that matters on the target) and in host time through the emulator.
// Each is measured at several sizes: the per-byte figure must stay flat as the size grows.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/harness/guest.h"

namespace {

using nuv::test::Guest;

struct Counted {
  Guest& g;
  explicit Counted(Guest& guest) : g(guest) {
    g.process().set_instruction_counting(true);
    g.process().reset_instructions();
  }
  ~Counted() { g.process().set_instruction_counting(false); }
  uint64_t instructions() const { return g.process().instructions(); }
};

void report(benchmark::State& state, uint64_t instructions, uint64_t units, const char* per) {
  state.counters["guest_instructions"] = static_cast<double>(instructions);
  state.counters[std::string("instructions_per_") + per] =
      static_cast<double>(instructions) / static_cast<double>(units);
}

enum class MemoryFn { Memcpy, Memset, Strlen };

void memory_function(benchmark::State& state, MemoryFn fn) {
  Guest g;
  g.kernel().set_recording(false);
  const uint32_t size = static_cast<uint32_t>(state.range(0));
  std::vector<uint8_t> bytes(size + 1, 'x');
  bytes[size] = 0;
  uint32_t src = g.put(bytes.data(), size + 1);
  uint32_t dst = g.alloc(size + 1);
  auto once = [&] {
    switch (fn) {
      case MemoryFn::Memcpy:
        return g.call("memcpy", {dst, src, size});
      case MemoryFn::Memset:
        return g.call("memset", {dst, 0x5a, size});
      case MemoryFn::Strlen:
        return g.call("strlen", {src});
    }
    return 0u;
  };
  uint64_t instructions;
  {
    Counted counted(g);
    once();
    instructions = counted.instructions();
  }
  for (auto _ : state) benchmark::DoNotOptimize(once());
  report(state, instructions, size, "byte");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
}

void BM_Memcpy(benchmark::State& state) { memory_function(state, MemoryFn::Memcpy); }
void BM_Memset(benchmark::State& state) { memory_function(state, MemoryFn::Memset); }
void BM_Strlen(benchmark::State& state) { memory_function(state, MemoryFn::Strlen); }
BENCHMARK(BM_Memcpy)->Arg(1024)->Arg(4096)->Arg(16384);
BENCHMARK(BM_Memset)->Arg(1024)->Arg(4096)->Arg(16384);
BENCHMARK(BM_Strlen)->Arg(1024)->Arg(4096)->Arg(16384);

// A text of short lines built with fputs in a memory stream: buffer growth and copying must
// stay linear in the text's length.
void BM_MemoryStreamLines(benchmark::State& state) {
  Guest g;
  g.kernel().set_recording(false);
  const int lines = static_cast<int>(state.range(0));
  std::vector<uint32_t> texts;
  uint64_t total_bytes = 0;
  for (int i = 0; i < lines; ++i) {
    std::string line = "line " + std::to_string(i) + " of the report\n";
    texts.push_back(g.str(line));
    total_bytes += line.size();
  }
  uint32_t vars = g.alloc(8);
  const uint32_t heap_used = g.sym("g_heap_used");
  auto build = [&] {
    g.set_u32(heap_used, 0);  // each build starts on an empty arena
    uint32_t s = g.call("open_memstream", {vars, vars + 4});
    for (uint32_t text : texts) g.call("fputs", {text, s});
    g.call("fclose", {s});
  };
  uint64_t instructions;
  {
    Counted counted(g);
    build();
    instructions = counted.instructions();
  }
  if (g.u32(vars + 4) != total_bytes) state.SkipWithError("the stream lost bytes");
  for (auto _ : state) build();
  report(state, instructions, total_bytes, "byte");
  state.counters["instructions_per_line"] =
      static_cast<double>(instructions) / static_cast<double>(lines);
}
BENCHMARK(BM_MemoryStreamLines)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
