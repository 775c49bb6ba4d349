// The trace's own cost per call, apart from the run around it: showing a drawing call's
// arguments as its readers take them from guest memory, and printing it as JSON Lines and as
// strace text.
#include <benchmark/benchmark.h>

#include "host/kernel/trace.h"
#include "tests/harness/guest.h"

namespace nuv::test {
namespace {

// A gui_fill_rect call as the demo makes it hundreds of times a frame.
struct FillRect {
  Guest g;
  ServiceCall call;
  FillRect() {
    const int32_t rect[5] = {96, 168, 24, 24, 0x303030};
    call.seq = 1234567;
    call.number = SVC_gui_fill_rect;
    call.slots = {1, g.put(rect, sizeof rect), 0};
    find_service(call.number)->show(g.kernel(), call.slots, call, {});
  }
};

void TraceDecodeFillRect(benchmark::State& state) {
  FillRect f;
  const ServiceInfo* info = find_service(f.call.number);
  for (auto _ : state) {
    ServiceCall call;
    call.number = f.call.number;
    call.slots = f.call.slots;
    info->show(f.g.kernel(), call.slots, call, {});
    benchmark::DoNotOptimize(call);
  }
}
BENCHMARK(TraceDecodeFillRect);

void TracePrintFillRect(benchmark::State& state, char* (*print)(char*, const ServiceCall&)) {
  FillRect f;
  std::vector<char> line(line_bound(f.call));
  size_t bytes = 0;
  for (auto _ : state) {
    bytes += static_cast<size_t>(print(line.data(), f.call) - line.data());
    benchmark::DoNotOptimize(line.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK_CAPTURE(TracePrintFillRect, json, print_json_line);
BENCHMARK_CAPTURE(TracePrintFillRect, strace, print_strace_line);

}  // namespace
}  // namespace nuv::test

BENCHMARK_MAIN();
