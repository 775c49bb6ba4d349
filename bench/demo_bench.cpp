// The demo's whole frame loop, headless: frames per second with and without the trace,
// guest instructions per frame, and the same loop against GUI services that do nothing, which
// is the guest's own cost. The host's share is the difference between the two.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>

#include "host/gui/compositor.h"
#include "host/kernel/trace.h"
#include "tests/harness/guest.h"

namespace {

using nuv::test::Guest;
using nuv::test::GuestOptions;

constexpr uint32_t kFrames = 400;

enum class Gui { Compositor, Traced, DoNothing };

GuestOptions headless(uint32_t frames) {
  GuestOptions o;
  o.gui.display = nuv::GuiConfig::Display::Headless;
  o.gui.frame_limit = frames;
  return o;
}

// GUI services that only answer: a handle, no events, no size (the demo falls back to
// 640 x 360), and a stop after the given number of frames.
void answer_nothing(Guest& g, uint32_t frames) {
  auto& k = g.kernel();
  for (uint32_t svc :
       {SVC_gui_begin, SVC_gui_clear, SVC_gui_fill_rect, SVC_gui_draw_text, SVC_gui_poll_event,
        SVC_gui_get_content_size, SVC_gui_set_continuous_redraw}) {
    k.script(svc, [](nuv::ServiceCall&) { return std::optional<int32_t>(0); });
  }
  k.script(SVC_gui_create, [](nuv::ServiceCall&) { return std::optional<int32_t>(1); });
  auto presented = std::make_shared<uint32_t>(0);
  k.script(SVC_gui_present, [&k, presented, frames](nuv::ServiceCall&) {
    if (++*presented > frames) k.end_run({nuv::RunStop::Cause::Limit, 0, "frame limit"});
    return std::optional<int32_t>(0);
  });
}

// One run of kFrames frames; returns false (and says why) when the demo did not get there.
bool run_frames(benchmark::State& state, Gui gui, bool count_instructions, uint64_t* instructions) {
  Guest g("stack_demo", headless(gui == Gui::DoNothing ? 0 : kFrames));
  g.kernel().set_recording(false);
  if (gui == Gui::DoNothing) answer_nothing(g, kFrames);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> null_sink(nullptr, std::fclose);
  if (gui == Gui::Traced) {
    null_sink.reset(std::fopen("/dev/null", "w"));
    std::setvbuf(null_sink.get(), nullptr, _IOFBF, 1 << 16);  // as nuvrelos-run has it
    g.kernel().add_observer(
        nuv::trace_writer(null_sink.get(), nuv::TraceFormat::JsonLines, {}, false));
  }
  if (count_instructions) g.process().set_instruction_counting(true);
  nuv::RunResult r = g.run({"stack_demo"});
  if (instructions) *instructions = g.process().instructions();
  if (r.end != nuv::RunResult::End::Stopped || r.stop.cause != nuv::RunStop::Cause::Limit) {
    state.SkipWithError(("the demo did not run its frames: " + r.message).c_str());
    return false;
  }
  return true;
}

void frames_per_second(benchmark::State& state, Gui gui) {
  uint64_t frames = 0;
  for (auto _ : state) {
    if (!run_frames(state, gui, false, nullptr)) return;
    frames += kFrames;
  }
  state.counters["frames_per_second"] =
      benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}

void instructions_per_frame(benchmark::State& state) {
  uint64_t instructions = 0;
  for (auto _ : state) {
    if (!run_frames(state, Gui::Compositor, true, &instructions)) return;
  }
  state.counters["guest_instructions_per_frame"] =
      static_cast<double>(instructions) / static_cast<double>(kFrames);
}

void BM_DemoHeadless(benchmark::State& state) { frames_per_second(state, Gui::Compositor); }
void BM_DemoHeadlessTraced(benchmark::State& state) { frames_per_second(state, Gui::Traced); }
void BM_DemoGuestOnly(benchmark::State& state) { frames_per_second(state, Gui::DoNothing); }
void BM_DemoInstructionsPerFrame(benchmark::State& state) { instructions_per_frame(state); }

BENCHMARK(BM_DemoHeadless)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DemoHeadlessTraced)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DemoGuestOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DemoInstructionsPerFrame)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
