// Several processes on one machine, from the outside: a guest program that spawns itself in
// many roles (tests/guest/prog_procs.cpp), run by nuvrelos-run in a root of its own.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <set>

#include "tests/harness/guest.h"
#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

class Processes : public ::testing::Test {
 protected:
  Processes() {
    std::filesystem::copy_file(guest_program("prog_procs"), dir / "procs");
    std::filesystem::permissions(dir / "procs", std::filesystem::perms::owner_all);
    spit(dir / "notes.txt", "not a program\n");
  }
  Outcome run(const std::string& mode, const std::vector<std::string>& options = {}) {
    std::string cmd = quoted(runner_path()) + " --root " + quoted(dir.string());
    for (const auto& o : options) cmd += " " + quoted(o);
    return shell(cmd + " " + quoted((dir / "procs").string()) + " " + mode);
  }
  std::set<std::string> listing() {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
      names.insert(e.path().filename().string());
    }
    return names;
  }

  ScratchDir scratch;
  const std::filesystem::path& dir = scratch.path;
};

TEST_F(Processes, ScenesEndAsAKernelWould) {
  struct Case {
    std::string mode;
    std::string out;
  };
  const Case cases[] = {
      // 10 MB through gen | flip | the first process, every byte checked.
      {"pipeline", "bytes 10000000\nchecksum ok\ngen 0 flip 0\n"},
      // The end of input waits for the writer the child inherited, across its sleep.
      {"eof", "read ab, then 0\nchild 0\n"},
      {"errors",
       "write without reader -32\nread empty nonblocking -11\nfill 65536\n"
       "write full nonblocking -11\nread 10\nsmall write waits for room -11\nfits 10\n"
       "drained 65536, then 0\n"},
      {"waits",
       "no child -10\nnohang 0\none two exited 1 status 4\nany one\nreaped -10\n"
       "crash it signaled 1 signal 11\nbad status area -14\nkept 0\n"},
      {"orphan", "middle 1\nadopted grandchild status 7\nthen -10\n"},
      {"spawn-errors",
       "missing -2\nnot a program -8\na directory -13\nbad pointer -14\nno arguments -22\n"
       "unknown flags -22\nclosed stdio -9\n"},
      {"limit", "started 63, then -11\nreaped 63\n"},
      {"zombies", "started 63, then -11\nwaited 1\none more 1\n"},
      {"fifo", "mkfifo 0\nagain -17\ngot \"through the fifo\"\nwriter 0\n"},
      {"streams",
       "begin 1\nmissing before end -1\nend 0\nend again -9\nabandoned child 11\n"
       "abandoned file -1\nstreams open at once 8\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    Outcome o = run(c.mode);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, c.out);
  }
}

TEST_F(Processes, ACrashingChildIsReportedAndTheOthersGoOn) {
  Outcome o = run("waits");
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.err.find("nuvrelos-run: process 4 (/procs) crashed; the others go on\n"),
            std::string::npos)
      << o.err;
  EXPECT_NE(o.err.find("in (anonymous namespace)::crash()"), std::string::npos) << o.err;
  // The trace's crash record names the process too.
  std::string trace = (scratch.path / "trace").string();
  ASSERT_EQ(run("waits", {"--trace", trace, "--trace-filter", "exit"}).status, 0);
  EXPECT_NE(slurp(trace).find(",\"pid\":4}\n"), std::string::npos) << slurp(trace);
}

TEST_F(Processes, AStreamCommitsWholeAndAnAbandonedOneLeavesNothing) {
  ASSERT_EQ(run("streams").status, 0);
  EXPECT_EQ(slurp(dir / "streamed.txt"), "hello stream\n");
  EXPECT_EQ(listing(), (std::set<std::string>{"notes.txt", "procs", "streamed.txt"}));
}

TEST_F(Processes, ADeadlockEndsTheRunNamingEachProcess) {
  Outcome o = run("deadlock");
  EXPECT_EQ(o.status, 123);
  EXPECT_EQ(o.out, "started 1\n");
  EXPECT_EQ(o.err,
            "nuvrelos-run: deadlock: every process waits for another and nothing can wake them\n"
            "  process 1 (" +
                (dir / "procs").string() +
                "): waiting for a child\n"
                "  process 2 (/procs): reading descriptor 0\n");
}

TEST_F(Processes, LimitsBoundTheWholeTree) {
  struct Case {
    std::vector<std::string> options;
    std::string message;
  };
  const Case cases[] = {
      {{"--timeout", "1"}, "nuvrelos-run: stopped at the time limit"},
      {{"--instruction-limit", "3000000"}, "nuvrelos-run: stopped at the instruction limit"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options[0]);
    Outcome o = run("wait-spinner", c.options);
    EXPECT_EQ(o.status, 124);
    EXPECT_TRUE(o.err.starts_with(c.message)) << o.err;
  }
}

// --memory-limit bounds the tree, not each process: children get what the others left, so
// a spawn loop meets -ENOMEM long before the process limit, and the ones started run.
TEST_F(Processes, TheMemoryLimitIsTheWholeMachines) {
  Outcome o = run("limit", {"--memory-limit", "8M"});
  ASSERT_EQ(o.status, 0) << o.err;
  int started = -1, last = 0, reaped = -1;
  ASSERT_EQ(std::sscanf(o.out.c_str(), "started %d, then %d\nreaped %d", &started, &last, &reaped),
            3)
      << o.out;
  EXPECT_EQ(last, -12);
  EXPECT_GT(started, 0);
  EXPECT_LT(started, 8);
  EXPECT_EQ(reaped, started);
}

// The same programs with the same input interleave the same way: the traces of two runs are
// the same bytes, and every record names its process.
TEST_F(Processes, TwoRunsGiveTheSameTrace) {
  std::string traces[2];
  for (int i = 0; i < 2; ++i) {
    std::string path = (scratch.path / ("trace" + std::to_string(i))).string();
    Outcome o = run("pipeline", {"--trace", path});
    ASSERT_EQ(o.status, 0) << o.err;
    traces[i] = slurp(path);
    std::filesystem::remove(path);
  }
  EXPECT_GT(traces[0].size(), 100000u);
  EXPECT_TRUE(traces[0] == traces[1]) << "the traces differ";
  EXPECT_NE(traces[0].find("\"pid\":3,"), std::string::npos);
  Outcome o = run("orphan", {"--strace"});
  EXPECT_NE(o.err.find("[pid 2] spawn(0x"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("[pid 3] exit(7) = ?\n"), std::string::npos) << o.err;
  EXPECT_EQ(o.err.find("[pid 1]"), o.err.find("[pid 1] spawn(")) << "named once there are two";
}

// Coverage counts what every process ran: main once in process 1 and once in each child.
TEST_F(Processes, CoverageCountsEveryProcess) {
  std::string info = (scratch.path / "cov.info").string();
  struct Case {
    std::string children;
    std::string main_runs;
  };
  for (const Case& c : {Case{"0", "FNDA:1,main\n"}, Case{"3", "FNDA:4,main\n"}}) {
    SCOPED_TRACE(c.children);
    ASSERT_EQ(run("spawn-loop " + c.children, {"--coverage", info}).status, 0);
    EXPECT_NE(slurp(info).find(c.main_runs), std::string::npos);
  }
}

// gdb debugs process 1 while the others run: a breakpoint in code only a grandchild runs is
// never reported, one in process 1 is, and the children's work is done.
TEST_F(Processes, GdbDebugsTheFirstProcessWhileTheOthersRun) {
  Child runner(
      {runner_path(), "--root", dir.string(), "--gdb", "0", (dir / "procs").string(), "orphan"},
      dir / "out", -1, dir / "err");
  std::regex named("127\\.0\\.0\\.1:([0-9]+)");
  std::string port;
  for (auto deadline = std::chrono::steady_clock::now() + kPatience;
       port.empty() && std::chrono::steady_clock::now() < deadline;) {
    std::string said = slurp(dir / "err");
    std::smatch m;
    if (std::regex_search(said, m, named)) port = m[1].str();
    if (port.empty() && runner.wait_exit(std::chrono::milliseconds(5))) break;
  }
  ASSERT_FALSE(port.empty()) << slurp(dir / "err");
  Outcome o = shell(
      "timeout 120 gdb -nx -batch -ex 'set confirm off' -ex 'target remote "
      "127.0.0.1:" +
      port + "' -ex 'break late_exit' -ex 'break orphan' -ex continue " + "-ex continue " +
      quoted((dir / "procs").string()));
  std::string seen = o.out + o.err;
  EXPECT_NE(seen.find("Breakpoint 2, "), std::string::npos) << seen;
  EXPECT_EQ(seen.find("Breakpoint 1, "), std::string::npos) << seen;
  EXPECT_NE(seen.find("exited normally"), std::string::npos) << seen;
  EXPECT_EQ(runner.wait_exit(), 0);
  EXPECT_EQ(slurp(dir / "out"), "middle 1\nadopted grandchild status 7\nthen -10\n");
}

// The profile follows every process too: usleep runs only in the child that eof starts (its
// hold is inlined into main), and shows with its instructions in both formats.
TEST_F(Processes, ProfileCountsEveryProcess) {
  std::string out = (scratch.path / "profile.out").string();
  struct Case {
    std::string format;
    std::regex child;
  };
  const Case cases[] = {
      {"callgrind", std::regex("\nfn=usleep\n(fi=[^\n]*\n)?[0-9]+ [1-9][0-9]* ")},
      {"folded", std::regex(";main;usleep [1-9][0-9]*\n")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    Outcome o = run("eof", {"--profile", out, "--profile-format", c.format});
    ASSERT_EQ(o.status, 0) << o.err;
    std::string text = slurp(out);
    EXPECT_TRUE(std::regex_search(text, c.child)) << text;
  }
}

// A session of two processes, each with a window, recorded from a scenario and replayed from
// the recording: the same input reaches the same calls, so the output, the trace and the last
// frame come out the same.
TEST_F(Processes, ASessionOfSeveralProcessesReplaysExactly) {
  ScratchDir outputs;
  auto at = [&](const char* name) { return (outputs.path / name).string(); };
  spit(at("in.json"), R"({"events": [{"frame": 10, "pointer": {"x": 300, "y": 200, "buttons": 0}},
                                     {"frame": 12, "key": "k"}]})");
  Outcome first =
      run("windows", {"--timeout", "30", "--scenario", at("in.json"), "--record", at("rec.json"),
                      "--trace", at("t1.json"), "--save-last", at("first.png")});
  ASSERT_EQ(first.status, 0) << first.err;
  Outcome again = run("windows", {"--timeout", "30", "--scenario", at("rec.json"), "--trace",
                                  at("t2.json"), "--save-last", at("again.png")});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(first.out, again.out);
  EXPECT_NE(slurp(at("rec.json")).find("\"key\": \"k\""), std::string::npos);
  std::string trace = slurp(at("t1.json"));
  EXPECT_NE(trace.find("\"pid\":2,\"number\":8,\"name\":\"gui_create\""), std::string::npos);
  EXPECT_EQ(trace, slurp(at("t2.json")));
  EXPECT_EQ(slurp(at("first.png")), slurp(at("again.png")));
}

// Windows of several processes: the display shows the one most recently created or attached,
// whichever process made it, and the scripted pointer and key reach that one's gui_poll_event.
TEST_F(Processes, InputGoesToTheNewestWindowOfAnyProcess) {
  ScratchDir outputs;
  std::string scenario = (outputs.path / "input.json").string();
  spit(scenario, R"({"events": [{"frame": 10, "pointer": {"x": 300, "y": 200, "buttons": 0}},
                                {"frame": 12, "key": "k"}]})");
  struct Case {
    std::string how;
    std::string out;
  };
  const Case cases[] = {
      // Process 1 creates its window, then the child creates one: the child's gets the input.
      {"create", "second pointer 300 200 0\nsecond key 107\nsecond ended 107\n"},
      // The child attaches to the display's own window after process 1 created one.
      {"attach", "second pointer 300 200 0\nsecond key 107\nsecond ended 107\n"},
      // Process 1 attaches after the child created its window: process 1's is the newest.
      {"reattach", "first pointer 300 200 0\nfirst key 107\nsecond ended 0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    Outcome o = run("windows " + c.how, {"--timeout", "30", "--scenario", scenario});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, c.out);
  }
}

// The example shell, built from examples/ with its filters in /bin, runs pipelines with
// redirections, cd, exit and $? as sh would (its messages are on the console, descriptor 1).
TEST_F(Processes, TheExampleShellRunsPipelinesWithRedirections) {
  std::filesystem::create_directory(dir / "bin");
  for (const char* name : {"nsh", "upper", "count", "match"}) {
    std::filesystem::copy_file(guest_program(name), dir / "bin" / name);
  }
  spit(dir / "fruit", "one apple\ntwo pears\nthree apples\n");
  struct Case {
    std::string script;
    std::string out;
    int status;
  };
  const Case cases[] = {
      {"match apple < /fruit | upper\n", "ONE APPLE\nTHREE APPLES\n", 0},
      {"cd /bin\nmatch apple < ../fruit | upper | count > /n\nexit $?\n", "", 0},
      {"match kiwi < fruit\nexit $?\n", "", 1},
      {"missing | upper\n", "nsh: missing: no such file\n", 0},
      {"upper < /none\nexit 7\n", "nsh: /none: no such file\n", 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    spit(dir / "script", c.script);
    std::string cmd = quoted(runner_path()) + " --root " + quoted(dir.string()) + " " +
                      quoted((dir / "bin/nsh").string()) + " /script";
    Outcome o = shell(cmd);
    EXPECT_EQ(o.out, c.out);
    EXPECT_EQ(o.status, c.status) << o.err;
  }
  EXPECT_EQ(slurp(dir / "n"), "2 4 23\n") << "count's output went to the file";
}

}  // namespace
}  // namespace nuv::test
