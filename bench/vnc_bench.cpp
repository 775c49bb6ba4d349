// The VNC display: how many frames that change the whole window it delivers to one
// libvncclient viewer on loopback (goal: at least 60 per second), and the demo served over VNC
// at its own pace with nobody watching and with one viewer (goal: the same frame rate, about
// 60 per second, either way; delivered updates are the frames that changed something).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "host/gui/compositor.h"
#include "host/gui/vnc_display.h"
#include "tests/harness/guest.h"
#include "tests/harness/vnc_viewer.h"

namespace {

using nuv::Surface;
using nuv::VncDisplay;
using nuv::test::Guest;
using nuv::test::GuestOptions;
using nuv::test::VncViewer;
using Clock = std::chrono::steady_clock;

constexpr int32_t kWidth = 640, kHeight = 360;

// The demo's picture in frame `frame`, without input.
Surface demo_frame(uint32_t frame) {
  GuestOptions options;
  options.gui.frame_limit = frame + 1;
  Guest g("stack_demo", options);
  g.run({"stack_demo"});
  const nuv::Compositor& c = g.kernel().compositor();
  return *c.presented(c.shown_handle());
}

// Noise: no encoding can compress it.
Surface noise(uint32_t seed) {
  Surface s(kWidth, kHeight);
  for (int32_t y = 0; y < kHeight; ++y) {
    for (int32_t x = 0; x < kWidth; ++x) {
      s.row(y)[x] = ((uint32_t(x) * 2654435761u) ^ (uint32_t(y) * 40503u) ^ seed) & 0xFFFFFF;
    }
  }
  return s;
}

enum class Pictures { Demo, Noise };

// Each iteration presents a frame that changes the whole window and waits until the viewer has
// all of it: frames per second delivered, with a full-window update each. The demo's two
// checkerboard phases differ in every band across the whole width; noise in every pixel.
void BM_VncFullWindowFrames(benchmark::State& state, const char* encodings, Pictures pictures) {
  VncDisplay display(nuv::VncOptions{}, kWidth, kHeight);
  VncViewer viewer(display.port(), "", encodings);
  if (!viewer.connected()) {
    state.SkipWithError("the viewer could not connect");
    return;
  }
  const Surface frames[2] = {pictures == Pictures::Demo ? demo_frame(0) : noise(0x123456),
                             pictures == Pictures::Demo ? demo_frame(10) : noise(0xFEDCBA)};
  display.wants_picture();
  size_t n = 0;
  for (auto _ : state) {
    const Surface& next = frames[n++ % 2];
    display.show(next);
    if (!viewer.until([&](const Surface& s) { return s.pixels == next.pixels; },
                      std::chrono::seconds(10))) {
      state.SkipWithError("the viewer did not get the frame");
      return;
    }
  }
  state.counters["frames_per_s"] =
      benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(BM_VncFullWindowFrames, raw_demo, "raw", Pictures::Demo)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_VncFullWindowFrames, zrle_demo, "zrle", Pictures::Demo)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_VncFullWindowFrames, tight_demo, "tight", Pictures::Demo)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_VncFullWindowFrames, raw_noise, "raw", Pictures::Noise)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_VncFullWindowFrames, zrle_noise, "zrle", Pictures::Noise)
    ->UseRealTime()
    ->MinTime(2.0);

// The demo for 180 frames at its own pace (it sleeps 16.7 ms a frame, really, as in a window),
// served over VNC with nobody watching or with one viewer reading all the time.
void BM_VncDemo(benchmark::State& state) {
  const bool watched = state.range(0) != 0;
  constexpr uint32_t kFrames = 180;
  double presented_fps = 0, delivered_fps = 0, cpu_ms_per_frame = 0;
  for (auto _ : state) {
    GuestOptions options;
    options.gui.display = nuv::GuiConfig::Display::Vnc;
    options.gui.frame_limit = kFrames;
    Guest g("stack_demo", options);
    g.kernel().set_recording(false);
    auto owned = std::make_unique<VncDisplay>(nuv::VncOptions{}, kWidth, kHeight);
    uint16_t port = owned->port();
    g.kernel().compositor().use_display(std::move(owned));
    std::atomic<bool> done{false};
    uint64_t updates = 0;
    std::thread viewing;
    if (watched) {
      viewing = std::thread([&] {
        VncViewer viewer(port);
        while (!done.load() && viewer.read_for(std::chrono::milliseconds(50))) {
        }
        updates = viewer.updates();
      });
    }
    auto start = Clock::now();
    std::clock_t cpu_start = std::clock();
    g.run({"stack_demo"});
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    double cpu = double(std::clock() - cpu_start) / CLOCKS_PER_SEC;
    done.store(true);
    if (viewing.joinable()) viewing.join();
    presented_fps = kFrames / seconds;
    delivered_fps = double(updates) / seconds;
    cpu_ms_per_frame = cpu * 1000 / kFrames;
  }
  state.counters["presented_fps"] = presented_fps;
  state.counters["delivered_updates_per_s"] = delivered_fps;
  state.counters["process_cpu_ms_per_frame"] = cpu_ms_per_frame;
}
BENCHMARK(BM_VncDemo)->ArgName("watched")->Arg(0)->Arg(1)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
