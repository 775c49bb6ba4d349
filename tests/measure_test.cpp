// Coverage and profiles. From hand-made line data: which lines and functions a run reached,
// the lcov records genhtml reads, and the callgrind text. Then nuvrelos-run --coverage and
// --profile on a program whose branches are known: the lines a run reached, tracefiles that
// genhtml renders and lcov merges, and profiles that callgrind_annotate reads with the hottest
// function first, or folded stacks (checked on the real run only, whose profiler records them).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "abi/services.h"
#include "host/measure/block_coverage.h"
#include "host/measure/lcov.h"
#include "host/measure/profile_writers.h"
#include "host/measure/profiler.h"
#include "tests/harness/guest.h"
#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

// /src/a.c: f at [0x100, 0x120): line 10, 11, then 12 and 13 share one range (an inlined call
// and its body). /src/b.h line 5 is inlined into g at [0x120, 0x140), whose own line is 20.
SourceMap sample() {
  return SourceMap({"/src/a.c", "/src/b.h"},
                   {{0x100, 0x108, 0, 10},
                    {0x108, 0x110, 0, 11},
                    {0x110, 0x120, 0, 12},
                    {0x110, 0x120, 0, 13},
                    {0x130, 0x140, 0, 20},
                    {0x120, 0x130, 1, 5}},
                   {{"g()", "_Z1gv", 0x120, 0x140, 0, 20}, {"f", "f", 0x100, 0x120, 0, 10}});
}

using Lines = std::map<uint32_t, uint64_t>;

TEST(LineCoverage, LinesAndFunctionsCountWhenTheirCodeRan) {
  struct Case {
    const char* what;
    std::vector<CodeBlock> ran;
    std::set<uint32_t> hit;  // once each; every other line of the sample is there with none
    uint64_t f, g;
  };
  const Case cases[] = {
      {"one whole line, f's entry", {{0x100, 0x108}}, {10}, 1, 0},
      {"a block from the middle of one line into the next", {{0x104, 0x10A}}, {10, 11}, 0, 0},
      {"a block ending where a line begins leaves it out", {{0x108, 0x110}}, {11}, 0, 0},
      {"lines sharing code count together", {{0x118, 0x119}}, {12, 13}, 0, 0},
      {"inlined code counts in its own file", {{0x120, 0x124}}, {5}, 0, 1},
      {"a block from before g's entry into it", {{0x11C, 0x124}}, {12, 13, 5}, 0, 1},
      {"blocks after the entries only", {{0x104, 0x110}, {0x130, 0x140}}, {10, 11, 20}, 0, 0},
      {"code outside every line counts nowhere", {{0x0, 0x100}, {0x140, 0x200}}, {}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LineCoverage cov = line_coverage(sample(), c.ran);
    Lines a_c = {{10, 0}, {11, 0}, {12, 0}, {13, 0}, {20, 0}}, b_h = {{5, 0}};
    for (uint32_t line : c.hit) (line == 5 ? b_h : a_c)[line] = 1;  // 5 is b.h's only line
    EXPECT_EQ(cov["/src/a.c"].lines, a_c);
    EXPECT_EQ(cov["/src/b.h"].lines, b_h);
    EXPECT_EQ(cov["/src/a.c"].functions["f"].hits, c.f);
    EXPECT_EQ(cov["/src/a.c"].functions["_Z1gv"].hits, c.g);
  }
}

// Counts are executions: blocks add up where they overlap (a jump into the middle of a block
// starts another), and a line counts its most-run code.
TEST(LineCoverage, CountsAreHowOftenTheMostRunCodeOfALineRan) {
  struct Case {
    const char* what;
    std::vector<CodeBlock> ran;
    Lines a_c;
    uint64_t f;
  };
  const Case cases[] = {
      {"a loop's block", {{0x100, 0x110, 5}}, {{10, 5}, {11, 5}, {12, 0}, {13, 0}, {20, 0}}, 5},
      {"a jump into the middle adds to the rest of the block",
       {{0x100, 0x110, 5}, {0x108, 0x110, 3}},
       {{10, 5}, {11, 8}, {12, 0}, {13, 0}, {20, 0}},
       5},
      {"a line counts its most-run part",
       {{0x100, 0x10C, 2}, {0x104, 0x108, 7}},
       {{10, 9}, {11, 2}, {12, 0}, {13, 0}, {20, 0}},
       2},
      {"a block cut short counts what ran of it",
       {{0x100, 0x120, 4}, {0x100, 0x109, 1}},
       {{10, 5}, {11, 5}, {12, 4}, {13, 4}, {20, 0}},
       5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LineCoverage cov = line_coverage(sample(), c.ran);
    EXPECT_EQ(cov["/src/a.c"].lines, c.a_c);
    EXPECT_EQ(cov["/src/a.c"].functions["f"].hits, c.f);
  }
}

TEST(LineCoverage, MergedRunsAddUpAndKeepLinesOnlyOneOfThemKnows) {
  LineCoverage a = line_coverage(sample(), {{0x100, 0x110}});
  LineCoverage b = line_coverage(sample(), {{0x108, 0x120}});
  b["/src/c.c"].lines[7] = 1;
  merge(a, b);
  EXPECT_EQ(a["/src/a.c"].lines, (Lines{{10, 1}, {11, 2}, {12, 1}, {13, 1}, {20, 0}}));
  EXPECT_EQ(a["/src/a.c"].functions["f"].hits, 1u);
  EXPECT_EQ(a["/src/c.c"].lines, (Lines{{7, 1}}));
}

TEST(Lcov, OneRecordPerFileWithItsTotals) {
  LineCoverage cov = line_coverage(sample(), {{0x100, 0x108}, {0x120, 0x128}});
  keep_files(cov, [](const std::string& f) { return f == "/src/a.c"; });
  std::ostringstream out;
  write_lcov(out, "prog", cov);
  EXPECT_EQ(out.str(),
            "TN:prog\nSF:/src/a.c\n"
            "FN:10,f\nFN:20,_Z1gv\nFNDA:1,f\nFNDA:1,_Z1gv\nFNF:2\nFNH:2\n"
            "DA:10,1\nDA:11,0\nDA:12,0\nDA:13,0\nDA:20,0\nLF:5\nLH:1\nend_of_record\n");
}

TEST(Lcov, TestNamesKeepOnlyWhatLcovAllows) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {{"stack_demo", "stack_demo"},
                        {"prog-branches.v2", "prog_branches_v2"},
                        {"", "run"},
                        {"caf\xc3\xa9", "caf__"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(lcov_test_name(c.in), c.out);
  }
}

// f runs 3 instructions on line 10 and calls g twice from line 11; g runs 4 of its own on
// line 20 and 2 inlined from b.h, and calls the write service once.
RawProfile sample_profile() {
  RawProfile p;
  p.base = 0x100;
  p.instructions.assign(0x40, 0);
  p.instructions[0x00] = 2;  // f, line 10
  p.instructions[0x04] = 1;  // f, line 10
  p.instructions[0x08] = 2;  // f, line 11: the call, twice
  p.instructions[0x20] = 2;  // g, b.h line 5
  p.instructions[0x30] = 4;  // g, line 20: the int 0x80 among them
  p.calls[{0x108, 0x120}] = CallEdge{2, 6, 1};
  p.kernel_calls[{0x130, SVC_write}] = 1;
  p.total_instructions = 11;
  p.total_kernel_calls = 1;
  return p;
}

TEST(Callgrind, CostsByLineCallsWithInclusiveCostAndKernelCalls) {
  std::ostringstream out;
  write_callgrind(out, sample(), sample_profile(), "/bin/prog", "prog x");
  const std::string text = out.str();
  const char* expected[] = {
      "# callgrind format\n",
      "cmd: prog x\n",
      "positions: line\nevents: Ir Kc\n",
      "summary: 11 1\n",
      "ob=/bin/prog\n",
      // f: self cost per line, then the call to g from line 11 with its inclusive cost
      "fl=/src/a.c\nfn=f\n10 3 0\n11 2 0\ncob=/bin/prog\ncfi=/src/a.c\ncfn=g()\ncalls=2 20\n"
      "11 6 1\n",
      // g: its inlined line in b.h, its own line, and the kernel call from line 20
      "fl=/src/a.c\nfn=g()\n20 4 0\nfi=/src/b.h\n5 2 0\nfi=/src/a.c\ncob=[kernel]\n"
      "cfi=[kernel]\ncfn=kernel write\ncalls=1 0\n20 0 1\n",
      "ob=[kernel]\nfl=[kernel]\nfn=kernel write\n0 0 1\n",
      "totals: 11 1\n",
  };
  for (const char* piece : expected) {
    SCOPED_TRACE(piece);
    EXPECT_NE(text.find(piece), std::string::npos) << text;
  }
}

// A run of two programs, the second run by two processes whose profiles were added up: each
// program is an object of its own, its calls name it, and the totals are the run's.
TEST(Callgrind, EachProgramOfARunIsAnObjectOfItsOwn) {
  RawProfile one = sample_profile();
  RawProfile twice = sample_profile();
  merge(twice, sample_profile());
  SourceMap map = sample();
  std::ostringstream out;
  write_callgrind(out, {{"/bin/prog", &map, &one}, {"/bin/other", &map, &twice}}, "prog x");
  const std::string text = out.str();
  const char* expected[] = {
      "summary: 33 3\n",
      "ob=/bin/prog\nfl=/src/a.c\nfn=f\n10 3 0\n11 2 0\ncob=/bin/prog\n",
      "ob=/bin/other\nfl=/src/a.c\nfn=f\n10 6 0\n11 4 0\ncob=/bin/other\ncfi=/src/a.c\n"
      "cfn=g()\ncalls=4 20\n11 12 2\n",
      "ob=[kernel]\nfl=[kernel]\nfn=kernel write\n0 0 3\n",
      "totals: 33 3\n",
  };
  for (const char* piece : expected) {
    SCOPED_TRACE(piece);
    EXPECT_NE(text.find(piece), std::string::npos) << text;
  }
}

// Profiles of one program add up address by address, whatever span each watched.
TEST(Callgrind, ProfilesOfOneProgramAddUp) {
  RawProfile p = sample_profile();
  RawProfile below;
  below.base = 0xF0;
  below.instructions = {5};
  below.stacks[{0xF0}] = 5;
  below.total_instructions = 5;
  merge(p, below);
  EXPECT_EQ(p.base, 0xF0u);
  ASSERT_EQ(p.instructions.size(), 0x50u);
  EXPECT_EQ(p.instructions[0x00], 5u);
  EXPECT_EQ(p.instructions[0x10], 2u);  // f's first, where it was
  EXPECT_EQ(p.instructions[0x40], 4u);  // g's line 20
  EXPECT_EQ(p.total_instructions, 16u);
  EXPECT_EQ(p.stacks.at({0xF0}), 5u);
}

TEST(Callgrind, CodeWithoutLinesOrFunctionStillCounts) {
  RawProfile p;
  p.base = 0x200;
  p.instructions = {7};
  p.total_instructions = 7;
  std::ostringstream out;
  write_callgrind(out, sample(), p, "/bin/prog", "prog");
  EXPECT_NE(out.str().find("fl=???\nfn=???\n0 7 0\n"), std::string::npos) << out.str();
}

const std::string kSource = std::string(NUV_SOURCE_DIR) + "/tests/guest/prog_branches.cpp";
const std::string kSpin = "(anonymous namespace)::spin(int)";

// The line of prog_branches.cpp that carries "// line: name".
uint32_t marked(const std::string& name) {
  return static_cast<uint32_t>(marked_line(kSource, "// line: " + name));
}

// DA hits of the tracefile's record for prog_branches.cpp.
std::map<uint32_t, uint64_t> hits_in(const std::filesystem::path& info) {
  std::ifstream in(info);
  std::map<uint32_t, uint64_t> hits;
  bool ours = false;
  for (std::string l; std::getline(in, l);) {
    if (l.starts_with("SF:")) ours = l.substr(3) == kSource;
    unsigned line = 0;
    unsigned long long count = 0;
    if (ours && std::sscanf(l.c_str(), "DA:%u,%llu", &line, &count) == 2) hits[line] = count;
  }
  return hits;
}

// FNDA hits of the tracefile's record for prog_branches.cpp, by the function's symbol.
std::map<std::string, uint64_t> calls_in(const std::filesystem::path& info) {
  std::ifstream in(info);
  std::map<std::string, uint64_t> calls;
  bool ours = false;
  for (std::string l; std::getline(in, l);) {
    if (l.starts_with("SF:")) ours = l.substr(3) == kSource;
    if (!ours || !l.starts_with("FNDA:")) continue;
    size_t comma = l.find(',');
    calls[l.substr(comma + 1)] = std::stoull(l.substr(5, comma - 5));
  }
  return calls;
}

// The same program under both measures: every instruction the profile counts, the coverage's
// blocks count as often; a fault in the middle of a block counts up to its instruction.
TEST(ExecutionCounts, BlockCountsAgreeWithTheProfilePerInstruction) {
  struct Case {
    std::string what;
    std::string program;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"a loop and a call per argument", "prog_branches", {"prog_branches", "a", "b", "c"}},
      {"a crash in the middle of a block", "crash_chain_c_O0", {"crash_chain_c_O0", "crash"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Guest g(c.program);
    BlockCoverage coverage(g.process());
    Profiler profiler(g.process());
    g.run(c.args);
    RawProfile p = profiler.finish();
    ExecutionCounts counts(coverage.blocks());
    size_t instructions = 0;
    for (size_t i = 0; i < p.instructions.size(); ++i) {
      if (p.instructions[i] == 0) continue;
      ++instructions;
      uint32_t at = p.base + static_cast<uint32_t>(i);
      ASSERT_EQ(counts.at(at), p.instructions[i]) << std::hex << at;
    }
    EXPECT_GT(instructions, 50u);
  }
  // Without the profile's hook on every instruction the fault is found by a search; the
  // coverage ends at the same instruction.
  Guest g("crash_chain_c_O0");
  BlockCoverage coverage(g.process());
  RunResult r = g.run({"crash_chain_c_O0", "crash"});
  ASSERT_EQ(r.end, RunResult::End::Fault);
  ExecutionCounts counts(coverage.blocks());
  const uint32_t store = g.sym("store");
  EXPECT_EQ(counts.at(store), 1u);
  EXPECT_EQ(counts.at(r.eip), 1u);
  EXPECT_EQ(counts.at(r.eip + 2), 0u) << "the instruction after the faulting store";
}

class Measured : public ::testing::Test {
 protected:
  Outcome run(const std::string& options, const std::string& args = "") {
    return both(runner_path() + " " + options + " " + guest_program("prog_branches") + " " + args);
  }

  // Standard output and error together, as a user reads them.
  static Outcome both(const std::string& command) {
    Outcome o = shell(command);
    o.out += o.err;
    return o;
  }

  ScratchDir scratch;
  const std::filesystem::path& dir = scratch.path;
};

// Which lines a block of code reaches is the format tests' work; here, that each run's own
// branches reach its tracefile, and that lcov merges and genhtml renders what the runner wrote.
TEST_F(Measured, EachRunsBranchesMergeWithLcovAndRenderWithGenhtml) {
  struct Case {
    const char* args;
    int status;
    const char *ran, *skipped;
  };
  const Case cases[] = {{"", 0, "without-arguments", "with-arguments"},
                        {"fail", 3, "main-fail", "main-without"}};
  std::string merge = "lcov -q";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    std::filesystem::path info = dir / (std::string("run") + c.args + ".info");
    Outcome o = run("--coverage " + info.string(), c.args);
    EXPECT_EQ(o.status, c.status) << o.out;
    auto hits = hits_in(info);
    EXPECT_GT(hits[marked(c.ran)], 0u);
    ASSERT_TRUE(hits.contains(marked(c.skipped)));
    EXPECT_EQ(hits[marked(c.skipped)], 0u);
    merge += " -a " + info.string();
  }
  Outcome merged = both(merge + " -o " + (dir / "all.info").string());
  ASSERT_EQ(merged.status, 0) << merged.out;
  EXPECT_EQ(merged.out, "");
  // Both runs reached this line once.
  EXPECT_EQ(hits_in(dir / "all.info")[marked("main-spin")], 2u);
  Outcome html = both("genhtml -q --demangle-cpp -o " + (dir / "html").string() + " " +
                      (dir / "run.info").string());
  EXPECT_EQ(html.status, 0) << html.out;
  EXPECT_EQ(html.out, "");
  EXPECT_TRUE(std::filesystem::exists(dir / "html" / "index.html"));
}

// "  1,234 (56.78%)  file:function [object]" lines of callgrind_annotate, in its order.
std::vector<std::pair<std::string, uint64_t>> annotated(const std::string& text) {
  std::vector<std::pair<std::string, uint64_t>> out;
  static const std::regex line(R"(^\s*([0-9,]+) \([^)]*\)\s+[^:]*:(.*?) \[[^\]]*\]\s*$)");
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) {
    std::smatch m;
    if (!std::regex_match(l, m, line)) continue;
    std::string digits = m[1].str();
    std::erase(digits, ',');
    out.emplace_back(m[2].str(), std::stoull(digits));
  }
  return out;
}

TEST_F(Measured, CoverageCountsEveryExecutionOfALineAndEveryCall) {
  std::filesystem::path info = dir / "counts.info";
  ASSERT_EQ(run("--coverage " + info.string(), "a b c").status, 0);
  auto hits = hits_in(info);
  EXPECT_EQ(hits[marked("spin-loop")], 20000u);
  EXPECT_EQ(hits[marked("main-spin")], 1u);
  // Three calls, and the loop's last test where the compiler left one on that line.
  EXPECT_GE(hits[marked("with-arguments")], 3u);
  EXPECT_LE(hits[marked("with-arguments")], 4u);
  EXPECT_EQ(hits[marked("without-arguments")], 0u);
  auto calls = calls_in(info);
  EXPECT_EQ(calls["main"], 1u);
  EXPECT_EQ(calls["_ZN12_GLOBAL__N_13sayEPKc"], 3u);
  EXPECT_EQ(calls["_ZN12_GLOBAL__N_14spinEi"], 1u);
}

TEST_F(Measured, CallgrindAnnotateListsTheHottestFunctionFirstAndMainIncludesItsCallees) {
  std::filesystem::path out = dir / "callgrind.out";
  ASSERT_EQ(run("--profile " + out.string()).status, 0);
  Outcome self = both("callgrind_annotate --threshold=100 " + out.string());
  ASSERT_EQ(self.status, 0) << self.out;
  EXPECT_EQ(self.out.find("WARNING"), std::string::npos) << self.out;
  auto by_self = annotated(self.out);
  ASSERT_FALSE(by_self.empty()) << self.out;
  EXPECT_EQ(by_self.front().first, kSpin) << self.out;

  Outcome incl = both("callgrind_annotate --threshold=100 --inclusive=yes " + out.string());
  ASSERT_EQ(incl.status, 0) << incl.out;
  std::map<std::string, uint64_t> inclusive;
  for (const auto& [fn, cost] : annotated(incl.out)) inclusive[fn] = cost;
  const std::string without = "(anonymous namespace)::without_arguments()";
  ASSERT_TRUE(inclusive.contains(without)) << incl.out;
  // Each iteration of the loop is at least a load, an add, a store and a compare.
  EXPECT_GE(inclusive[kSpin], 4u * 20000u) << incl.out;
  EXPECT_GE(inclusive["main"], inclusive[kSpin] + inclusive[without]) << incl.out;
}

TEST_F(Measured, FoldedStacksNameTheCallChain) {
  std::filesystem::path out = dir / "folded.txt";
  ASSERT_EQ(run("--profile " + out.string() + " --profile-format folded").status, 0);
  std::ifstream in(out);
  std::map<std::string, uint64_t> stacks;
  for (std::string l; std::getline(in, l);) {
    size_t space = l.rfind(' ');
    ASSERT_NE(space, std::string::npos) << l;
    stacks[l.substr(0, space)] = std::stoull(l.substr(space + 1));
  }
  EXPECT_GE(stacks["_start;main;" + kSpin], 4u * 20000u);
  EXPECT_GT(stacks["_start;main;(anonymous namespace)::without_arguments();"
                   "(anonymous namespace)::say(char const*);strlen"],
            0u);
}

}  // namespace
}  // namespace nuv::test
