// nuvrelos-run against what goes wrong around a program: output nobody can take, traces that
// cannot be written, signals, programs that never end, and executables and inputs it must
// refuse by name without hanging, crashing or leaking.
#include <elf.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "tests/harness/guest.h"
#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

namespace fs = std::filesystem;

struct Ended {
  int status = -1;
  std::string err;
  double seconds = 0;
};

class Hardening : public ::testing::Test {
 protected:
  // Runs the runner with these arguments through the shell; `redirect` says where its
  // standard output goes (a shell redirection or a pipe).
  Ended run(const std::vector<std::string>& args, const std::string& redirect = ">/dev/null") {
    std::string cmd = "timeout -s KILL 60 " + quoted(runner_path());
    // A pipe's reader gets time to go away before the runner writes anything.
    if (redirect.starts_with("|")) cmd = "sleep 0.3; " + cmd;
    for (const auto& a : args) cmd += " " + quoted(a);
    // A runner that hangs is killed, so the test fails instead of hanging with it.
    cmd = "{ " + cmd + " 2>" + quoted((dir / "stderr").string()) + " </dev/null; echo $? >" +
          quoted((dir / "status").string()) + "; } " + redirect;
    auto start = std::chrono::steady_clock::now();
    std::system(cmd.c_str());
    Ended o;
    o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    o.status = std::stoi("0" + slurp(dir / "status"));
    o.err = slurp(dir / "stderr");
    return o;
  }

  ScratchDir scratch;
  const fs::path& dir = scratch.path;
};

TEST_F(Hardening, LostOutputIsReportedAndChangesTheStatus) {
  struct Case {
    std::string name;
    std::string redirect;
    std::string says;
  };
  const std::vector<Case> cases = {
      {"a full disk", ">/dev/full", "No space left on device"},
      {"a closed standard output", ">&-", "standard output is closed"},
  };
  std::vector<std::string> args = {guest_program("prog_exit_code"), "0"};
  for (int i = 0; i < 100; ++i) args.push_back(std::string(100, 'x'));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Ended o = run(args, c.redirect);
    EXPECT_EQ(o.status, 125);
    EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("output were lost"), std::string::npos) << o.err;
  }
  EXPECT_EQ(run(args).status, 0) << "output that arrives changes nothing";
}

// As `yes | head -c 1`: more output than a pipe holds, and a reader that takes one byte.
TEST_F(Hardening, AReaderThatGoesAwayEndsTheRunQuietlyAsSigpipeDoes) {
  std::vector<std::string> args = {guest_program("prog_exit_code"), "0"};
  // 100 kB, within what one shell command line may hold.
  for (int i = 0; i < 100; ++i) args.push_back(std::string(1000, 'x'));
  const fs::path trace = dir / "trace.jsonl";
  struct Case {
    std::string name;
    std::vector<std::string> options;
  };
  const Case cases[] = {
      {"the program's output", {}},
      {"with a trace file", {"--trace", trace.string()}},
      {"with the trace on the same pipe", {"--trace", "-"}},
      {"with strace", {"--strace"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> all = c.options;
    all.insert(all.end(), args.begin(), args.end());
    Ended o = run(all, "| head -c 1 >/dev/null");
    EXPECT_EQ(o.status, 141);
    if (c.options.empty() || c.options[0] != "--strace") {
      EXPECT_EQ(o.err, "");
    }
  }
  // The trace holds every call up to the write that found the reader gone, each record whole.
  std::istringstream lines(slurp(trace));
  std::vector<nlohmann::json> records;
  for (std::string line; std::getline(lines, line);) {
    ASSERT_TRUE(nlohmann::json::accept(line)) << "an incomplete record: " << line;
    records.push_back(nlohmann::json::parse(line));
  }
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records.back()["seq"], records.size());
  EXPECT_EQ(records.back()["name"], "write");
  EXPECT_EQ(records.back()["result"], -32);
}

TEST_F(Hardening, TheGuestHearsWhatTheHostWriteSaid) {
  struct Case {
    std::string name;
    int stand_in;  // a descriptor to stand in for standard output
    int32_t expect;
  };
  int reader_gone[2] = {-1, -1};
  ASSERT_EQ(::pipe(reader_gone), 0);
  ::close(reader_gone[0]);
  const std::vector<Case> cases = {
      {"a full disk", ::open("/dev/full", O_WRONLY), -28},
      {"a reader that went away", reader_gone[1], -32},
      {"a closed standard output", ::open("/dev/null", O_RDONLY), -5},
  };
  auto old_pipe = std::signal(SIGPIPE, SIG_IGN);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Guest g("whole_runtime", GuestOptions{.host_console = true});
    std::fflush(stdout);
    int saved = ::dup(STDOUT_FILENO);
    ::dup2(c.stand_in, STDOUT_FILENO);
    ::close(c.stand_in);
    int32_t one = g.calli("write", {1, g.str("lost"), 4});
    int32_t two = g.calli("write", {2, g.str("lost"), 4});
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    EXPECT_EQ(one, c.expect);
    EXPECT_EQ(two, c.expect) << "descriptor 2 is the console too";
    EXPECT_EQ(g.kernel().output_lost(), 8u);
  }
  std::signal(SIGPIPE, old_pipe);
}

TEST_F(Hardening, ATraceThatCannotBeWrittenIsReported) {
  Ended o = run({"--trace", "/dev/full", guest_program("prog_exit_code"), "0"});
  EXPECT_EQ(o.status, 125);
  EXPECT_NE(o.err.find("cannot write the trace file /dev/full"), std::string::npos) << o.err;
}

TEST_F(Hardening, LimitsStopAProgramThatNeverEnds) {
  struct Case {
    std::string name;
    std::vector<std::string> args;
    std::string says;
  };
  const std::string demo = guest_program("stack_demo");
  // A scenario that makes the demo's frame never end: a content size of 2^31 - 1 squared.
  const std::string absurd = (dir / "absurd.json").string();
  std::ofstream(absurd) << R"({"report_size": [2147483647, 2147483647]})";
  const std::vector<Case> cases = {
      {"a busy loop, timed", {"--timeout", "0.5", guest_program("prog_spin")}, "time limit of 0.5"},
      {"a loop of kernel calls, timed",
       {"--timeout", "0.5", guest_program("prog_spin"), "calls"},
       "time limit"},
      {"a frame that never completes, timed",
       {"--timeout", "1", "--scenario", absurd, demo},
       "time limit of 1 seconds"},
      {"a busy loop, counted",
       {"--instruction-limit", "1000000", guest_program("prog_spin")},
       "instruction limit of 1000000"},
      {"a frame that never completes, counted",
       {"--instruction-limit", "5000000", "--scenario", absurd, demo},
       "instruction limit"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Ended o = run(c.args);
    EXPECT_EQ(o.status, 124);
    EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
    EXPECT_LT(o.seconds, 30);
  }
  Ended ends = run({"--timeout", "60", "--instruction-limit", "100000000",
                    guest_program("prog_exit_code"), "7"});
  EXPECT_EQ(ends.status, 7) << "limits a program stays within change nothing";
  EXPECT_EQ(ends.err, "");
}

TEST_F(Hardening, BadLimitsAreUsageErrors) {
  const std::pair<std::string, std::string> cases[] = {{"--timeout", "0"},
                                                       {"--timeout", "-1"},
                                                       {"--timeout", "soon"},
                                                       {"--instruction-limit", "0"},
                                                       {"--instruction-limit", "-5"}};
  for (const auto& [option, value] : cases) {
    SCOPED_TRACE(option + " " + value);
    EXPECT_EQ(run({option, value, guest_program("prog_exit_code")}).status, 2);
  }
}

TEST_F(Hardening, SigtermStopsTheRunAndTheTraceIsComplete) {
  struct Case {
    int signo;
    int status;
  };
  for (const Case& c : {Case{SIGTERM, 143}, Case{SIGINT, 130}}) {
    SCOPED_TRACE(c.signo);
    fs::path trace = dir / "trace.jsonl";
    std::string cmd = quoted(runner_path()) + " --trace " + quoted(trace.string()) + " " +
                      quoted(guest_program("prog_spin")) + " calls >/dev/null 2>" +
                      quoted((dir / "stderr").string());
    pid_t child = ::fork();
    if (child == 0) {
      ::execl("/bin/sh", "sh", "-c", ("exec " + cmd).c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // Long enough for thousands of records to wait in the trace's buffer.
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    ::kill(child, c.signo);
    int raw = 0;
    ::waitpid(child, &raw, 0);
    ASSERT_TRUE(WIFEXITED(raw)) << "the runner died of the signal";
    EXPECT_EQ(WEXITSTATUS(raw), c.status);
    EXPECT_NE(slurp(dir / "stderr").find("stopped by SIG"), std::string::npos);
    std::istringstream lines(slurp(trace));
    size_t records = 0;
    for (std::string line; std::getline(lines, line); ++records) {
      EXPECT_TRUE(nlohmann::json::accept(line)) << "an incomplete record: " << line;
    }
    EXPECT_GT(records, 100u);
    EXPECT_EQ(slurp(trace).back(), '\n');
  }
}

// A valid program, changed the way a hostile or broken file would be.
class Mutant {
 public:
  Mutant() : bytes_(slurp(guest_program("prog_exit_code"))) {
    std::memcpy(&ehdr, bytes_.data(), sizeof ehdr);
    for (size_t i = 0; i < ehdr.e_phnum; ++i) {
      Elf32_Phdr ph;
      std::memcpy(&ph, bytes_.data() + ehdr.e_phoff + i * sizeof ph, sizeof ph);
      phdrs.push_back(ph);
    }
  }
  // The n-th loadable segment.
  Elf32_Phdr& load(size_t n = 0) {
    for (auto& ph : phdrs) {
      if (ph.p_type == PT_LOAD && n-- == 0) return ph;
    }
    throw std::runtime_error("too few PT_LOAD");
  }
  // Puts the program headers at the end of the file, at `misalign` bytes past a boundary.
  void move_headers(size_t misalign) {
    while (bytes_.size() % 16 != misalign) bytes_.push_back('\0');
    ehdr.e_phoff = static_cast<Elf32_Off>(bytes_.size());
    bytes_.append(phdrs.size() * sizeof(Elf32_Phdr), '\0');
  }
  // `count` program headers in all, the added ones empty, at the end of the file.
  void header_count(size_t count) {
    phdrs.resize(count, Elf32_Phdr{PT_NULL, 0, 0, 0, 0, 0, 0, 0});
    ehdr.e_phnum = static_cast<Elf32_Half>(count);
    move_headers(0);
  }
  // The first loadable segment, and the entry with it, moved to the page at `page`.
  void move_first_load(uint32_t page) {
    Elf32_Phdr& ph = load();
    ph.p_vaddr = ph.p_paddr = page + (ph.p_vaddr & 0xFFF);
    ehdr.e_entry = ph.p_vaddr;
  }
  std::string write(const fs::path& p) {
    std::memcpy(bytes_.data(), &ehdr, sizeof ehdr);
    for (size_t i = 0;
         i < phdrs.size() && ehdr.e_phoff + (i + 1) * sizeof(Elf32_Phdr) <= bytes_.size(); ++i) {
      std::memcpy(bytes_.data() + ehdr.e_phoff + i * sizeof(Elf32_Phdr), &phdrs[i],
                  sizeof(Elf32_Phdr));
    }
    bytes_.resize(std::min(bytes_.size(), cut));
    std::ofstream(p, std::ios::binary) << bytes_;
    return p.string();
  }

  Elf32_Ehdr ehdr;
  std::vector<Elf32_Phdr> phdrs;
  size_t cut = std::string::npos;  // the file ends here

 private:
  std::string bytes_;
};

TEST_F(Hardening, TheLoaderRefusesByName) {
  struct Case {
    std::string name;
    std::function<void(Mutant&)> change;
    std::string says;  // empty: the program runs as it should
  };
  const std::vector<Case> cases = {
      {"64-bit class", [](Mutant& m) { m.ehdr.e_ident[EI_CLASS] = ELFCLASS64; }, "wrong class"},
      {"another machine", [](Mutant& m) { m.ehdr.e_machine = EM_ARM; }, "wrong machine"},
      {"a shared object", [](Mutant& m) { m.ehdr.e_type = ET_DYN; }, "wrong type"},
      {"not ELF", [](Mutant& m) { m.ehdr.e_ident[EI_MAG1] = 'X'; }, "not an ELF file"},
      {"a truncated header", [](Mutant& m) { m.cut = 30; }, "truncated ELF header"},
      {"a truncated segment", [](Mutant& m) { m.cut = 0x1100; }, "truncated"},
      {"overlapping segments", [](Mutant& m) { m.load(1).p_vaddr = m.load(0).p_vaddr; }, "overlap"},
      {"a segment past 4 GiB", [](Mutant& m) { m.load().p_vaddr = 0xFFFFFF00u; },
       "outside the 32-bit address space"},
      {"65535 program headers", [](Mutant& m) { m.ehdr.e_phnum = 65535; },
       "too many program headers: 65535 (at most 64)"},
      {"65 program headers", [](Mutant& m) { m.header_count(65); }, "too many program headers: 65"},
      {"64 program headers", [](Mutant& m) { m.header_count(64); }, ""},
      {"misaligned program headers", [](Mutant& m) { m.move_headers(3); }, ""},
      {"a segment over the stack", [](Mutant& m) { m.move_first_load(0xBFFFF000); },
       "overlaps the stack area"},
      {"a segment over the scratch area", [](Mutant& m) { m.move_first_load(0xD0000000); },
       "overlaps the scratch area"},
      {"an entry outside every segment", [](Mutant& m) { m.ehdr.e_entry = 0x10; },
       "the entry point 0x00000010 is not in an executable segment"},
      {"an entry at the return sentinel", [](Mutant& m) { m.ehdr.e_entry = 0xF0000000; },
       "the entry point 0xf0000000 is not in an executable segment"},
      {"offset and address in different places of a page",
       [](Mutant& m) { m.load().p_offset += 4; }, "different places in a page"},
      {"program header entries of 40 bytes", [](Mutant& m) { m.ehdr.e_phentsize = 40; },
       "program header entries of 40 bytes"},
      {"program headers past the end", [](Mutant& m) { m.ehdr.e_phoff = 0x7FFFFFF0; },
       "truncated program headers"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Mutant m;
    c.change(m);
    std::string path = m.write(dir / "mutant");
    ::chmod(path.c_str(), 0755);
    Ended o = run({path, "5"});
    if (c.says.empty()) {
      EXPECT_EQ(o.status, 5) << o.err;
    } else {
      EXPECT_EQ(o.status, 126);
      EXPECT_TRUE(o.err.starts_with("nuvrelos-run: " + path + ": ")) << o.err;
      EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
      EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << "one line: " << o.err;
    }
  }
}

TEST_F(Hardening, SpecialFilesAreRefusedNotWaitedOn) {
  fs::path fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    std::string name;
    std::vector<std::string> args;
    int status;
    std::string says;
  };
  const std::string demo = guest_program("stack_demo");
  const std::vector<Case> cases = {
      {"a FIFO as the program", {fifo.string()}, 126, "not a regular file"},
      {"a FIFO as the font",
       {"--display", "headless", "--font", fifo.string(), demo},
       125,
       "not a regular file"},
      {"a FIFO as the scenario", {"--scenario", fifo.string(), demo}, 2, "not a regular file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Ended o = run(c.args);
    EXPECT_EQ(o.status, c.status);
    EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
    EXPECT_LT(o.seconds, 20);
  }
}

TEST_F(Hardening, LibrariesInTheWorkingDirectoryAreNeverLoaded) {
  // A user runs the commands from any directory; a file there named like a library they need
  // must not be taken for it (an empty entry in their search path would mean just that).
  for (const char* lib : {"libc.so.6", "libstdc++.so.6", "libdw.so.1", "libunicorn.so.2"}) {
    std::ofstream(dir / lib) << "not a library";
  }
  const std::string bin = std::string(NUV_BINARY_DIR) + "/host/";
  for (const char* command : {"nuvrelos-run", "nuvrelos-meta"}) {
    SCOPED_TRACE(command);
    Outcome o = shell("cd " + quoted(dir.string()) + " && " + quoted(bin + command) + " " +
                      quoted(guest_program("prog_exit_code")));
    EXPECT_EQ(o.status, 0) << o.err;
  }
}

}  // namespace
}  // namespace nuv::test
