// nuvrelos-run from the outside, as a user runs it: output, exit status, traces, and clear
// errors for whatever it cannot run.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/harness/guest.h"

namespace nuv::test {
namespace {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::string slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

class Runner : public ::testing::Test {
 protected:
  Runner() {
    dir = std::filesystem::temp_directory_path() /
          ("nuv-runner-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
  }
  ~Runner() override { std::filesystem::remove_all(dir); }

  Outcome run(const std::vector<std::string>& args, const std::string& input = "") {
    std::string cmd = quoted(std::string(NUV_BINARY_DIR) + "/host/nuvrelos-run");
    for (const auto& a : args) cmd += " " + quoted(a);
    std::ofstream(dir / "stdin") << input;
    cmd += " <" + quoted((dir / "stdin").string()) + " >" + quoted((dir / "stdout").string()) +
           " 2>" + quoted((dir / "stderr").string());
    Outcome o;
    int raw = std::system(cmd.c_str());
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    o.out = slurp(dir / "stdout");
    o.err = slurp(dir / "stderr");
    return o;
  }

  std::filesystem::path dir;
};

TEST_F(Runner, ConsoleOutputAndExitStatusAreTheGuests) {
  struct Case {
    std::string arg;
    int status;
  };
  for (const auto& c :
       std::vector<Case>{{"3", 3}, {"-1", 255}, {"0", 0}, {"256", 0}, {"300", 44}}) {
    SCOPED_TRACE(c.arg);
    Outcome o = run({guest_program("prog_exit_code"), c.arg});
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.out, guest_program("prog_exit_code") + "\n" + c.arg + "\n");
    EXPECT_EQ(o.err, "");
  }
}

TEST_F(Runner, ArgumentsThatLookLikeOptionsBelongToTheGuest) {
  Outcome o = run({guest_program("prog_exit_code"), "--strace", "-h"});
  EXPECT_EQ(o.out, guest_program("prog_exit_code") + "\n--strace\n-h\n");
  EXPECT_EQ(o.err, "");
}

TEST_F(Runner, TraceRecordsEveryCallAsJsonLines) {
  std::filesystem::path trace = dir / "trace.jsonl";
  Outcome o = run({"--trace", trace.string(), guest_program("prog_exit_code"), "5"});
  EXPECT_EQ(o.status, 5);
  std::ifstream in(trace);
  std::vector<nlohmann::json> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(lines.size(), 5u);  // program name, newline, "5", newline, exit
  EXPECT_EQ(lines[0]["seq"], 1);
  EXPECT_EQ(lines[0]["number"], 1);
  EXPECT_EQ(lines[0]["name"], "write");
  EXPECT_EQ(lines[0]["slots"][0], 1);
  EXPECT_EQ(lines[0]["slots"][2], guest_program("prog_exit_code").size());
  EXPECT_EQ(lines[0]["decoded"][1], guest_program("prog_exit_code"));
  EXPECT_EQ(lines[0]["result"], guest_program("prog_exit_code").size());
  EXPECT_EQ(lines[2]["decoded"][1], "5");
  EXPECT_EQ(lines[4]["name"], "exit");
  EXPECT_EQ(lines[4]["slots"][0], 5);
}

TEST_F(Runner, StraceShowsCallsOnStandardError) {
  Outcome o = run({"--strace", guest_program("prog_exit_code"), "7"});
  EXPECT_EQ(o.status, 7);
  EXPECT_NE(o.err.find("write(1, \"7\", 1) = 1\n"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("write(1, \"\\n\", 1) = 1\n"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("exit(7) = ?\n"), std::string::npos) << o.err;
}

TEST_F(Runner, RootDirectoryIsTheGuestsSlash) {
  std::filesystem::create_directories(dir / "root");
  Outcome o = run(
      {"--root", (dir / "root").string(), "--strace", guest_program("prog_crash"), "bad-write"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.err.find("= -14 EFAULT"), std::string::npos) << o.err;
  o = run({"--root", (dir / "missing").string(), guest_program("prog_exit_code")});
  EXPECT_NE(o.status, 0);
  EXPECT_NE(o.err.find("missing"), std::string::npos) << o.err;
}

TEST_F(Runner, GuestFaultsEndWithOneLineAndStatus139) {
  for (std::string how : {"store-constant", "null", "ud2"}) {
    SCOPED_TRACE(how);
    Outcome o = run({guest_program("prog_crash"), how});
    EXPECT_EQ(o.status, 139);
    EXPECT_EQ(o.out, "started\n");
    EXPECT_TRUE(o.err.starts_with("nuvrelos-run: guest fault: ")) << o.err;
    EXPECT_NE(o.err.find(" at eip 0x"), std::string::npos) << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
  }
}

TEST_F(Runner, BadCommandLinesGetUsageAndNonZeroStatus) {
  for (std::vector<std::string> args :
       {std::vector<std::string>{}, {"--no-such-option", "x"}, {"--trace"}, {"--root"}}) {
    Outcome o = run(args);
    EXPECT_NE(o.status, 0);
    EXPECT_NE(o.err.find("Usage: nuvrelos-run"), std::string::npos) << o.err;
  }
  Outcome help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--strace"), std::string::npos);
}

// Loader errors: a real executable, damaged in one field at a time.
std::vector<uint8_t> program_bytes() {
  std::string s = slurp(guest_program("prog_exit_code"));
  return std::vector<uint8_t>(s.begin(), s.end());
}

template <typename T>
void put(std::vector<uint8_t>& b, size_t at, T v) {
  std::memcpy(b.data() + at, &v, sizeof v);
}

uint32_t get32(const std::vector<uint8_t>& b, size_t at) {
  uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

TEST_F(Runner, ExecutablesThatCannotRunAreRefusedClearly) {
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
    const char* message;
  };
  const size_t phoff = 28, phentsize = 32;
  const std::vector<Case> cases = {
      {"64-bit class", [](auto& b) { b[4] = 2; }, "wrong class"},
      {"other machine", [](auto& b) { put<uint16_t>(b, 18, 40); }, "wrong machine"},
      {"shared object", [](auto& b) { put<uint16_t>(b, 16, 3); }, "wrong type"},
      {"not ELF", [](auto& b) { b[1] = 'X'; }, "not an ELF file"},
      {"truncated header", [](auto& b) { b.resize(30); }, ""},
      {"truncated segment", [](auto& b) { b.resize(0x1100); }, "truncated"},
      {"overlapping segments",
       [&](auto& b) {
         uint32_t first = get32(b, get32(b, phoff) + 8);
         put<uint32_t>(b, get32(b, phoff) + phentsize + 8, first);
       },
       "overlap"},
      {"segment past 4 GiB", [&](auto& b) { put<uint32_t>(b, get32(b, phoff) + 8, 0xFFFFF000u); },
       "outside the 32-bit address space"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> bytes = program_bytes();
    c.damage(bytes);
    std::filesystem::path bad = dir / "bad";
    std::ofstream(bad, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    EXPECT_THROW(ElfImage::load(bad.string()), LoadError);
    Outcome o = run({bad.string()});
    EXPECT_EQ(o.status, 126);
    EXPECT_TRUE(o.err.starts_with("nuvrelos-run: " + bad.string() + ": ")) << o.err;
    EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
  }
  Outcome missing = run({(dir / "no-such-program").string()});
  EXPECT_EQ(missing.status, 126);
  EXPECT_NE(missing.err.find("cannot open"), std::string::npos);
}

}  // namespace
}  // namespace nuv::test
