// nuvrelos-run from the outside, as a user runs it: output, exit status, traces, and clear
// errors for whatever it cannot run.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/harness/guest.h"
#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

class Runner : public ::testing::Test {
 protected:
  Outcome run(const std::vector<std::string>& args) { return run_command(runner_path(), args); }
  Outcome run_command(const std::string& command, const std::vector<std::string>& args) {
    std::string cmd = quoted(command);
    for (const auto& a : args) cmd += " " + quoted(a);
    return shell(cmd);
  }

  ScratchDir scratch;
  const std::filesystem::path& dir = scratch.path;
};

TEST_F(Runner, ConsoleOutputAndExitStatusAreTheGuests) {
  struct Case {
    std::string arg;
    int status;
  };
  // An argument that looks like one of the runner's options belongs to the guest all the same.
  for (const auto& c : std::vector<Case>{
           {"3", 3}, {"-1", 255}, {"0", 0}, {"256", 0}, {"300", 44}, {"--strace", 0}}) {
    SCOPED_TRACE(c.arg);
    Outcome o = run({guest_program("prog_exit_code"), c.arg});
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.out, guest_program("prog_exit_code") + "\n" + c.arg + "\n");
    EXPECT_EQ(o.err, "");
  }
}

// What each record holds and how it reads is the trace tests' work; here, that each option
// reaches its output: --trace a file or standard output, --strace standard error, the filter
// both.
TEST_F(Runner, TraceOptionsReachTheirOutputs) {
  const std::string program = guest_program("prog_exit_code");
  std::filesystem::path trace = dir / "trace.jsonl";
  EXPECT_EQ(run({"--trace", trace.string(), program, "5"}).status, 5);
  std::ifstream in(trace);
  std::vector<nlohmann::json> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(lines.size(), 5u);  // program name, newline, "5", newline, exit
  EXPECT_EQ(lines[4]["seq"], 5) << "counted from 1";
  Outcome o = run({"--strace", "--trace-filter", "!write", program, "7"});
  EXPECT_EQ(o.err, "exit(7) = ?\n");
  o = run({"--trace", "-", "--trace-filter", "exit", program, "7"});
  EXPECT_EQ(o.status, 7);
  // The program's own lines, then the trace's one line, in the order they happened.
  ASSERT_TRUE(o.out.starts_with(program + "\n7\n")) << o.out;
  EXPECT_EQ(nlohmann::json::parse(o.out.substr(program.size() + 3))["name"], "exit");
}

TEST_F(Runner, RootDirectoryIsTheGuestsSlash) {
  std::filesystem::create_directories(dir / "root");
  Outcome o = run(
      {"--root", (dir / "root").string(), "--strace", guest_program("prog_crash"), "bad-write"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.err.find("= -14 EFAULT"), std::string::npos) << o.err;
}

TEST_F(Runner, GuestFaultsEndWithACrashReportAndTheStatusOfTheirSignal) {
  struct Case {
    std::string how;
    std::string signal;
    int status;
  };
  for (const Case& c :
       {Case{"store-constant", "SIGSEGV, write of 0x", 139},
        Case{"null", "SIGSEGV, read of 0x00000000", 139}, Case{"ud2", "SIGILL", 132},
        Case{"harness-scratch", "SIGSEGV, write of 0xd0000000", 139}}) {
    SCOPED_TRACE(c.how);
    Outcome o = run({guest_program("prog_crash"), c.how});
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.out, "started\n");
    EXPECT_TRUE(o.err.starts_with("nuvrelos-run: guest fault: ")) << o.err;
    EXPECT_NE(o.err.find(" at eip 0x"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("signal " + c.signal), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("eflags 0x"), std::string::npos) << o.err;
  }
}

TEST_F(Runner, CrashReportWalksBackThroughTheCallersWithTheirLines) {
  std::string source = std::string(NUV_SOURCE_DIR) + "/tests/guest/prog_debuggee.cpp";
  auto line_of = [&](const std::string& marker) {
    return std::to_string(marked_line(source, "marker: " + marker));
  };
  std::string trace = (dir / "trace.jsonl").string();
  Outcome o = run({"--trace", trace, guest_program("prog_debuggee"), "fault"});
  EXPECT_EQ(o.status, 139);
  // Which frames the walk finds is the debug-information tests' work; the report shows them.
  EXPECT_NE(o.err.find("#1 0x"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find(" in outer(int volatile*, int) at " + source + ":" + line_of("call inner")),
            std::string::npos)
      << o.err;
  // The same report closes the trace.
  std::ifstream in(trace);
  std::string line, last;
  while (std::getline(in, line)) last = line;
  nlohmann::json record = nlohmann::json::parse(last);
  ASSERT_TRUE(record.contains("crash")) << last;
  const auto& crash = record["crash"];
  EXPECT_EQ(crash["signal"], "SIGSEGV");
  EXPECT_EQ(crash["address"], 16);
  EXPECT_EQ(crash["access"], "write");
  EXPECT_EQ(crash["registers"]["edx"], 16);
  ASSERT_GE(crash["backtrace"].size(), 3u);
  EXPECT_EQ(crash["backtrace"][1]["function"], "outer(int volatile*, int)");
  EXPECT_EQ(crash["backtrace"][1]["file"], source);
  EXPECT_EQ(std::to_string(crash["backtrace"][1]["line"].get<int>()), line_of("call inner"));
}

// Files the options name that cannot be used are usage errors too, found before the run.
TEST_F(Runner, BadCommandLinesGetOneLineAndAPointerToHelp) {
  const std::string program = guest_program("prog_exit_code");
  struct Case {
    std::vector<std::string> args;
    std::string problem;
  } cases[] = {
      {{}, "no PROGRAM given"},
      {{"--no-such-option", "x"}, "--no-such-option"},
      {{"--trace"}, "--trace"},
      {{"--root"}, "--root"},
      {{"--trace-filter", "gui_fill_rect,nosuch", "x"}, "'nosuch'"},
      {{"--root", (dir / "missing").string(), program}, "Directory does not exist"},
      {{"--coverage", "/nonexistent/dir/x.info", program}, "cannot write the coverage file"},
      {{"--profile", "/nonexistent/dir/p.out", program}, "cannot write the profile file"},
      {{"--profile", "p.out", "--profile-format", "svg", program}, "--profile-format"},
      // Numbers: what was given and what the option takes, never the limits of a type.
      {{"--timeout", "0", program},
       "--timeout: '0' is out of range (more than 0, at most 31536000 seconds)"},
      {{"--timeout", "abc", program}, "--timeout: 'abc' is not a number of seconds"},
      {{"--timeout", "nan", program}, "'nan' is not a number of seconds"},
      {{"--timeout", "1e400", program}, "'1e400' is out of range"},
      {{"--timeout", "2.5s", program}, "'2.5s' is not a number of seconds"},
      {{"--instruction-limit", std::string(300, '9'), program},
       "'99999999999999999999999999999999...' is out of range (1 to 9223372036854775807)"},
      {{"--instruction-limit", "-5", program}, "'-5' is out of range"},
      {{"--gdb", "70000", program}, "--gdb: '70000' is out of range (0 to 65535)"},
      {{"--gdb", "0x10", program}, "--gdb: '0x10' is not a whole number"},
      {{"--frame-limit", "", program}, "--frame-limit: '' is not a whole number"},
      // Options that only refine another one.
      {{"--trace-filter", "usleep", program}, "--trace-filter: only with --trace or --strace"},
      {{"--profile-format", "folded", program}, "--profile-format: only with --profile"},
      {{"--screenshots", dir.string(), program}, "--screenshots: only with --scenario"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Outcome o = run(c.args);
    EXPECT_EQ(o.status, 2);
    ASSERT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 2) << o.err;
    EXPECT_TRUE(o.err.starts_with("nuvrelos-run: ")) << o.err;
    EXPECT_NE(o.err.find(c.problem), std::string::npos) << o.err;
    EXPECT_LT(o.err.find('\n'), 120u) << "a line a person reads at once";
    EXPECT_TRUE(o.err.ends_with("\nTry 'nuvrelos-run --help'\n")) << o.err;
  }
  Outcome help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  size_t usage = help.out.find("Usage: nuvrelos-run [OPTIONS] PROGRAM [ARGS...]\n");
  EXPECT_NE(usage, std::string::npos) << help.out;
  EXPECT_EQ(help.out.find("Usage:", usage + 1), std::string::npos) << "one Usage line";
  Outcome version = run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(version.out.starts_with("nuvrelos-run ")) << version.out;
  EXPECT_NE(version.out.find("(Unicorn 2."), std::string::npos) << version.out;
}

// As a shell has it: 127 for a program that is not there, 126 for one that cannot run, each
// with the reason; nuvrelos-meta answers the same way.
TEST_F(Runner, ProgramsThatAreNotThereOrCannotRun) {
  std::ofstream(dir / "script.sh") << "#!/bin/sh\necho hi\n";
  struct Case {
    std::filesystem::path path;
    int status;
    std::string reason;
  } cases[] = {
      {dir / "no-such-program", 127, "No such file or directory"},
      {dir / "script.sh" / "prog", 127, "Not a directory"},
      {dir, 126, "Is a directory"},
      {dir / "script.sh", 126, "not an ELF file"},
  };
  const std::string meta = std::string(NUV_BINARY_DIR) + "/host/nuvrelos-meta";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    for (const std::string& command : {std::string("nuvrelos-run"), std::string("nuvrelos-meta")}) {
      Outcome o =
          command == "nuvrelos-run" ? run({c.path.string()}) : run_command(meta, {c.path.string()});
      EXPECT_EQ(o.status, c.status) << command;
      EXPECT_TRUE(o.err.starts_with(command + ": " + c.path.string() + ": ")) << o.err;
      EXPECT_NE(o.err.find(c.reason), std::string::npos) << o.err;
      EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    }
  }
  Outcome usage = run_command(meta, {});
  EXPECT_EQ(usage.status, 2);
  EXPECT_TRUE(usage.err.ends_with("\nTry 'nuvrelos-meta --help'\n")) << usage.err;
  EXPECT_TRUE(run_command(meta, {"--version"}).out.starts_with("nuvrelos-meta "));
}

}  // namespace
}  // namespace nuv::test
