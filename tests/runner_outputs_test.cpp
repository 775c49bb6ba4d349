// The user's outputs belong to the user: a trace, coverage, a profile, a recording and a saved
// frame are put in place whole at the end of the run, so a program cannot forge or destroy
// them and a killed run leaves the previous ones and no partial file; writing one that fails
// is the run's failure, with the reason.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <nlohmann/json.hpp>
#include <thread>

#include "tests/harness/guest.h"
#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

namespace fs = std::filesystem;

// What each output option's file begins with when the run wrote it.
struct Output {
  std::string option;
  std::string name;
  std::string begins;
};
const std::vector<Output> kOutputs = {
    {"--trace", "trace.jsonl", "{\"seq\":1,"},
    {"--coverage", "run.info", "TN:"},
    {"--profile", "callgrind.out", "# callgrind format"},
    {"--record", "session.json", "{\n  \"description\""},
};

std::vector<std::string> entries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(RunnerOutputs, AProgramThatOverwritesAnOutputFindsItReplacedByTheRunsOwn) {
  for (const Output& o : kOutputs) {
    SCOPED_TRACE(o.option);
    ScratchDir root;
    const fs::path file = root.path / o.name;
    // The output lies inside the program's root: it writes its forgery over it by name.
    Outcome run =
        shell("cd " + quoted(root.path.string()) + " && " + quoted(runner_path()) + " " + o.option +
              " " + o.name + " " + quoted(guest_program("prog_hostile")) + " overwrite /" + o.name);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(slurp(file).starts_with(o.begins)) << slurp(file);
    EXPECT_NE(run.err.find("warning: " + o.option + " " + o.name +
                           " lies inside the program's root directory"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(entries(root.path), std::vector<std::string>{o.name}) << "nothing left beside it";
  }
}

// The frames a GUI run saves are outputs too: inside the root, the program could read or
// change them before the run writes them, so the user is warned of those as well.
TEST(RunnerOutputs, AFrameSavedInsideTheRootIsWarnedOf) {
  ScratchDir scenario;
  spit(scenario.path / "quit.json",
       R"({"events": [{"frame": 3, "key": "q"}], "screenshots": [1]})");
  struct Case {
    std::string option;
    std::string name;
    std::string png;  // the file that must be a picture, relative to the root
  };
  const Case cases[] = {{"--save-last", "last.png", "last.png"},
                        {"--screenshots", "shots", "shots/frame-00001.png"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    ScratchDir root;
    Outcome run = shell("cd " + quoted(root.path.string()) + " && " + quoted(runner_path()) +
                        " --scenario " + quoted((scenario.path / "quit.json").string()) + " " +
                        c.option + " " + c.name + " " + quoted(guest_program("prog_gui_quit")));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("warning: " + c.option + " " + c.name +
                           " lies inside the program's root directory"),
              std::string::npos)
        << run.err;
    EXPECT_TRUE(slurp(root.path / c.png).starts_with("\x89PNG")) << c.png;
    EXPECT_EQ(entries(root.path), std::vector<std::string>{c.name});
  }
}

TEST(RunnerOutputs, AKilledRunLeavesThePreviousResultsAndNoPartialFile) {
  struct Case {
    int signo;
    bool replaced;  // the run ends by itself and puts its results in place
    int status;
  };
  const Case cases[] = {{SIGKILL, false, 128 + SIGKILL},
                        {SIGHUP, true, 128 + SIGHUP},
                        {SIGTERM, true, 128 + SIGTERM}};
  for (const Case& c : cases) {
    for (const Output& o : kOutputs) {
      SCOPED_TRACE(o.option + " " + strsignal(c.signo));
      ScratchDir dir;
      const fs::path file = dir.path / o.name;
      spit(file, "the last run's\n");
      std::string cmd = "exec " + quoted(runner_path()) + " " + o.option + " " +
                        quoted(file.string()) + " " + quoted(guest_program("prog_spin")) +
                        " calls >" + quoted((dir.path / "out").string()) + " 2>" +
                        quoted((dir.path / "err").string());
      pid_t child = ::fork();
      if (child == 0) {
        ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
      }
      // The program runs once it says so: its outputs are open, the runner's signals caught.
      for (auto deadline = std::chrono::steady_clock::now() + kPatience;
           slurp(dir.path / "out").empty() && std::chrono::steady_clock::now() < deadline;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      ::kill(child, c.signo);
      int raw = 0;
      ::waitpid(child, &raw, 0);
      int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
      std::string err = slurp(dir.path / "err");
      fs::remove(dir.path / "err");
      fs::remove(dir.path / "out");
      EXPECT_EQ(status, c.status) << err;
      if (c.replaced) {
        EXPECT_TRUE(slurp(file).starts_with(o.begins)) << slurp(file).substr(0, 200);
      } else {
        EXPECT_EQ(slurp(file), "the last run's\n");
      }
      EXPECT_EQ(entries(dir.path), std::vector<std::string>{o.name});
    }
  }
}

TEST(RunnerOutputs, AnOutputThatCannotBeWrittenFailsTheRunWithTheReason) {
  struct Case {
    std::vector<std::string> options;
    std::string says;
  };
  const std::string demo = guest_program("stack_demo");
  const std::vector<Case> cases = {
      {{"--save-last", "/dev/full"}, "--save-last: cannot write /dev/full: No space left"},
      {{"--coverage", "/dev/full"}, "cannot write the coverage file /dev/full: No space left"},
      {{"--profile", "/dev/full"}, "cannot write the profile file /dev/full: No space left"},
      {{"--record", "/dev/full"}, "cannot write the recording /dev/full: No space left"},
      {{"--trace", "/dev/full"}, "cannot write the trace file /dev/full: No space left"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options[0]);
    std::string cmd = quoted(runner_path()) + " --display headless --frame-limit 3";
    for (const auto& o : c.options) cmd += " " + quoted(o);
    Outcome o = shell(cmd + " " + quoted(demo) + " >/dev/null");
    EXPECT_EQ(o.status, 125) << o.err;
    EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
  }
}

TEST(RunnerOutputs, ALinkedOutputKeepsItsLinkAndAReadOnlyOneIsRefused) {
  ScratchDir dir;
  fs::create_directory(dir.path / "real");
  spit(dir.path / "real" / "trace.jsonl", "old\n");
  fs::create_symlink("real/trace.jsonl", dir.path / "link.jsonl");
  Outcome linked =
      shell(quoted(runner_path()) + " --trace " + quoted((dir.path / "link.jsonl").string()) + " " +
            quoted(guest_program("prog_exit_code")) + " 0 >/dev/null");
  EXPECT_EQ(linked.status, 0) << linked.err;
  EXPECT_TRUE(fs::is_symlink(dir.path / "link.jsonl"));
  EXPECT_TRUE(slurp(dir.path / "real" / "trace.jsonl").starts_with("{\"seq\":1,"));

  spit(dir.path / "kept.jsonl", "mine\n");
  fs::permissions(dir.path / "kept.jsonl", fs::perms::owner_read);
  Outcome kept =
      shell(quoted(runner_path()) + " --trace " + quoted((dir.path / "kept.jsonl").string()) + " " +
            quoted(guest_program("prog_exit_code")) + " 0");
  if (::geteuid() != 0) {
    EXPECT_EQ(kept.status, 2) << kept.err;
    EXPECT_NE(kept.err.find("Permission denied"), std::string::npos) << kept.err;
    EXPECT_EQ(slurp(dir.path / "kept.jsonl"), "mine\n");
  }
}

}  // namespace
}  // namespace nuv::test
