// A session recorded in a real window (Xvfb, driven by xdotool) replays headless to the same
// last frame; recorded files are scenarios the loader reads back as they were written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host/gui/png_file.h"
#include "host/gui/scenario.h"
#include "tests/harness/guest.h"
#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

using Clock = std::chrono::steady_clock;

void nap() { std::this_thread::sleep_for(std::chrono::milliseconds(20)); }

TEST(RecordedScenario, ReadsBackAsTheEventsThatWereRecorded) {
  struct Case {
    std::string name;
    GuiEventRecord event;
    nlohmann::json written;
  };
  const Case cases[] = {
      {"a letter", key_event('q'), "q"},
      {"Escape by name", key_event(27), "Escape"},
      {"Enter by name", key_event(13), "Enter"},
      {"Space by name", key_event(32), "Space"},
      {"a control code as a number", key_event(3), 3},
      {"a Latin-1 code as a number", key_event(233), 233},
      {"a press", pointer_event(120, 86, 1), {{"x", 120}, {"y", 86}, {"buttons", 1}}},
      {"a position left of the window",
       pointer_event(-5, 400, 0),
       {{"x", -5}, {"y", 400}, {"buttons", 0}}},
  };
  std::vector<ScenarioEvent> events;
  uint32_t frame = 0;
  for (const Case& c : cases) events.push_back({frame += 3, c.event});
  nlohmann::json doc = recorded_scenario(events, 320, 200, 99);
  Scenario back = parse_scenario(doc.dump());
  EXPECT_EQ(back.width, 320);
  EXPECT_EQ(back.height, 200);
  EXPECT_EQ(back.frame_limit, 99u);
  ASSERT_EQ(back.events.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(doc["events"][i][cases[i].event.type == kEventKey ? "key" : "pointer"],
              cases[i].written);
    EXPECT_EQ(back.events[i].frame, events[i].frame);
    EXPECT_EQ(std::memcmp(&back.events[i].event, &events[i].event, sizeof(GuiEventRecord)), 0);
  }
  EXPECT_FALSE(parse_scenario(recorded_scenario({}, 640, 360, 0).dump()).frame_limit.has_value());
}

// How many frames the program has presented so far, from the --strace log.
size_t presents(const std::filesystem::path& log) {
  std::string text = slurp(log);
  size_t n = 0;
  for (size_t at = 0; (at = text.find("gui_present(", at)) != std::string::npos; ++at) ++n;
  return n;
}

TEST(RecordReplay, AWindowSessionReplaysHeadlessToTheSameLastFrame) {
  if (!XServer::available()) GTEST_SKIP() << "needs Xvfb and xdotool";
  ScratchDir scratch;
  const std::filesystem::path& dir = scratch.path;
  XServer x_server(dir, /*keep_screen=*/false);
  ASSERT_TRUE(x_server.started()) << "Xvfb did not start";

  const std::string runner = runner_path();
  std::filesystem::path recording = dir / "session.json", window_last = dir / "window.png",
                        log = dir / "window.log";
  Child demo(
      {runner, "--display", "window", "--record", recording.string(), "--save-last",
       window_last.string(), "--frame-limit", "100000", "--strace", guest_program("stack_demo")},
      log);
  std::string id;
  for (auto deadline = Clock::now() + kPatience; id.empty() && Clock::now() < deadline; nap())
    id = capture("xdotool search --name '^Stack Demo'");
  id = id.substr(0, id.find('\n'));
  ASSERT_FALSE(id.empty()) << "no window appeared; the runner said: " << slurp(log).substr(0, 2000)
                           << "\nXvfb said: " << slurp(dir / "xvfb.log");

  // Each step waits until the program has drawn a few more frames, so it sees them apart:
  // press on the blue window's title bar, drag it in two moves, let go, quit.
  const std::vector<std::string> steps = {"mousemove --window " + id + " 120 86", "mousedown 1",
                                          "mousemove --window " + id + " 180 120",
                                          "mousemove --window " + id + " 260 190", "mouseup 1"};
  for (const std::string& step : steps) {
    SCOPED_TRACE(step);
    size_t before = presents(log);
    capture("xdotool " + step);
    bool drawn = false;
    for (auto deadline = Clock::now() + kPatience; !drawn && Clock::now() < deadline; nap())
      drawn = presents(log) >= before + 3;
    ASSERT_TRUE(drawn) << "the program stopped drawing";
  }
  capture("xdotool windowfocus --sync " + id + " key q");
  auto status = demo.wait_exit();
  ASSERT_TRUE(status) << "q did not end the demo";
  ASSERT_EQ(*status, 0);

  std::ifstream in(recording);
  nlohmann::json doc = nlohmann::json::parse(in, nullptr, false);
  ASSERT_FALSE(doc.is_discarded()) << "the recording is not JSON";
  // The program took the press, a drag to somewhere else, and the q.
  std::set<std::pair<int, int>> dragged_through;
  bool quit = false;
  for (const auto& e : doc["events"]) {
    if (e.contains("pointer") && e["pointer"]["buttons"] == 1) {
      dragged_through.insert({e["pointer"]["x"].get<int>(), e["pointer"]["y"].get<int>()});
    }
    quit = quit || (e.contains("key") && e["key"] == "q");
  }
  EXPECT_GE(dragged_through.size(), 2u) << doc.dump();
  EXPECT_TRUE(quit) << doc.dump();

  std::filesystem::path replay_last = dir / "replay.png";
  Outcome replayed =
      shell(quoted(runner) + " --scenario " + quoted(recording.string()) + " --save-last " +
            quoted(replay_last.string()) + " " + quoted(guest_program("stack_demo")));
  EXPECT_EQ(replayed.status, 0) << replayed.err;
  std::string error;
  auto window = read_png(window_last, &error);
  ASSERT_TRUE(window) << error;
  auto replay = read_png(replay_last, &error);
  ASSERT_TRUE(replay) << error;
  ASSERT_EQ(window->width, replay->width);
  ASSERT_EQ(window->height, replay->height);
  EXPECT_TRUE(window->pixels == replay->pixels) << "the replay ended on another picture";
}

}  // namespace
}  // namespace nuv::test
