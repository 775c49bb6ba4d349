// nuvrelos-run --coverage and --profile on a program whose branches are known: the lines a
// run reached, tracefiles that genhtml renders and lcov merges, and profiles that
// callgrind_annotate reads with the hottest function first, or folded stacks.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "tests/harness/guest.h"
#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

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

TEST_F(Measured, OutputThatCannotBeWrittenIsAUsageError) {
  struct Case {
    std::string options, says;
  };
  const Case cases[] = {
      {"--coverage /nonexistent/dir/x.info", "cannot write the coverage file"},
      {"--profile /nonexistent/dir/p.out", "cannot write the profile file"},
      {"--profile p.out --profile-format svg", "--profile-format"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    Outcome o = run(c.options);
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.out.find(c.says), std::string::npos) << o.out;
  }
}

}  // namespace
}  // namespace nuv::test
