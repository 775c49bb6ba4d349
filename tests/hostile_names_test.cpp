// Names are data: a function whose symbol holds a terminal's escape sequence, C1 and non-UTF-8
// bytes and a newline, and strings of the same kind handed to the kernel, reach every output
// (crash report, trace, strace, coverage, profiles) without breaking it, driving a terminal
// or forging a line, and every file stays readable by the tools made for it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "host/base/printable.h"
#include "tests/harness/guest.h"
#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

// The same length as the name it replaces (inner's symbol), so the file keeps its layout. It
// begins with what callgrind's files read as a compressed name.
const std::string kLinkageName = "_Z5innerPVii";
const std::string kHostileName = std::string("(1)\x1b[2J\xff\x9b\n,;", 12);

// Only printable ASCII and line ends: nothing a terminal takes for a command, nothing that is
// not UTF-8. (The outputs here have no other reason for any other byte.)
bool plain_text(const std::string& s) {
  for (char c : s) {
    auto b = static_cast<unsigned char>(c);
    if (b != '\n' && (b < 0x20 || b > 0x7E)) return false;
  }
  return true;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

TEST(Printable, EscapesWhatADisplayWouldActOnAndKeepsText) {
  struct Case {
    std::string name, in, out;
  };
  const Case cases[] = {
      {"plain", "outer(int volatile*, int)", "outer(int volatile*, int)"},
      {"backslash, so escapes stay unambiguous", "a\\b", "a\\x5cb"},
      {"escape sequence", "\x1b[2J", "\\x1b[2J"},
      {"newline and tab", "a\nb\tc", "a\\x0ab\\x09c"},
      {"delete", "\x7f", "\\x7f"},
      {"C1 control as UTF-8", "\xc2\x9b", "\\xc2\\x9b"},
      {"a lone byte that is not UTF-8", "\x9b\xff", "\\x9b\\xff"},
      {"accented text", "caf\xc3\xa9", "caf\xc3\xa9"},
      {"no-break space", "\xc2\xa0", "\xc2\xa0"},
      {"four-byte character", "\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
      {"right-to-left override",
       "a\xe2\x80\xae"
       "b",
       "a\\xe2\\x80\\xaeb"},
      {"line separator", "\xe2\x80\xa8", "\\xe2\\x80\\xa8"},
      {"overlong slash", "\xc0\xaf", "\\xc0\\xaf"},
      {"surrogate", "\xed\xa0\x80", "\\xed\\xa0\\x80"},
      {"past U+10FFFF", "\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},
      {"cut short", "\xe2\x82", "\\xe2\\x82"},
      {"NUL inside", std::string("a\0b", 3), "a\\x00b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(printable(c.in), c.out);
  }
}

class HostileNames : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string bytes = slurp(guest_program("prog_debuggee"));
    size_t replaced = 0;
    for (size_t at = bytes.find(kLinkageName); at != std::string::npos;
         at = bytes.find(kLinkageName, at)) {
      bytes.replace(at, kLinkageName.size(), kHostileName);
      ++replaced;
    }
    ASSERT_GT(replaced, 0u);
    program = (dir.path / "prog_debuggee").string();
    spit(program, bytes);
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  }

  Outcome run(const std::string& options, const std::string& guest) {
    return shell(quoted(runner_path()) + " " + options + " " + guest);
  }
  std::string path(const std::string& name) const { return (dir.path / name).string(); }

  ScratchDir dir;
  std::string program;
};

TEST_F(HostileNames, AFunctionNameReachesEveryOutputWithoutBreakingIt) {
  Outcome o = run("--trace " + path("trace.jsonl") + " --coverage " + path("run.info") +
                      " --profile " + path("callgrind.out"),
                  test::quoted(program) + " fault");
  ASSERT_EQ(o.status, 139) << o.err;
  Outcome folded_run = run("--profile-format folded --profile " + path("folded.txt"),
                           test::quoted(program) + " fault");
  ASSERT_EQ(folded_run.status, 139) << folded_run.err;

  struct Check {
    std::string output;
    std::string text;
    std::function<void(const std::string&)> holds;
  };
  const std::vector<Check> checks = {
      {"crash report", o.err,
       [](const std::string& text) {
         for (const std::string& line : lines_of(text)) {
           EXPECT_TRUE(line.starts_with("nuvrelos-run: ")) << "a forged line: " << line;
         }
         EXPECT_NE(text.find(" in (1)\\x1b[2J\\xff\\x9b\\x0a,; at "), std::string::npos) << text;
       }},
      {"trace", slurp(path("trace.jsonl")),
       [](const std::string& text) {
         std::vector<std::string> records = lines_of(text);
         ASSERT_FALSE(records.empty());
         for (const std::string& line : records) {
           EXPECT_TRUE(nlohmann::json::accept(line)) << line;
         }
         auto crash = nlohmann::json::parse(records.back());
         EXPECT_EQ(crash["crash"]["backtrace"][0]["function"].get<std::string>().substr(0, 7),
                   "(1)\\x1b");
       }},
      {"coverage", slurp(path("run.info")),
       [this](const std::string& text) {
         size_t fn = 0, fnda = 0;
         for (const std::string& line : lines_of(text)) {
           EXPECT_TRUE(std::regex_match(line, std::regex("[A-Z]+:.*|end_of_record"))) << line;
           fn += line.starts_with("FN:");
           fnda += line.starts_with("FNDA:");
         }
         EXPECT_EQ(fn, fnda);
         EXPECT_NE(text.find(",(1)\\x1b[2J"), std::string::npos) << text;
         Outcome html = shell("genhtml -q -o " + quoted(path("html")) + " " + path("run.info"));
         EXPECT_EQ(html.status, 0) << html.out << html.err;
       }},
      {"callgrind profile", slurp(path("callgrind.out")),
       [this](const std::string& text) {
         EXPECT_NE(text.find("\nfn=\\x281)\\x1b[2J"), std::string::npos) << text;
         Outcome annotate = shell("callgrind_annotate --threshold=100 " + path("callgrind.out"));
         EXPECT_EQ(annotate.status, 0) << annotate.err;
         EXPECT_NE(annotate.out.find("\\x281)\\x1b[2J"), std::string::npos) << annotate.out;
       }},
      {"folded profile", slurp(path("folded.txt")),
       [](const std::string& text) {
         bool seen = false;
         for (const std::string& line : lines_of(text)) {
           EXPECT_TRUE(std::regex_match(line, std::regex("[^ ].* [0-9]+"))) << line;
           if (line.find("\\x1b") == std::string::npos) continue;
           seen = true;
           // _start;main;outer;inner: the name's own ';' splits nothing.
           EXPECT_EQ(std::count(line.begin(), line.end(), ';'), 3) << line;
         }
         EXPECT_TRUE(seen) << text;
       }},
  };
  for (const Check& c : checks) {
    SCOPED_TRACE(c.output);
    EXPECT_TRUE(plain_text(c.text)) << c.text;
    c.holds(c.text);
  }
}

TEST_F(HostileNames, StringsTheProgramHandsTheKernelAreEscapedInBothTraces) {
  Outcome o = run("--strace --trace " + path("trace.jsonl"),
                  quoted(guest_program("prog_hostile")) + " names >/dev/null");
  ASSERT_EQ(o.status, 0) << o.err;
  std::string trace = slurp(path("trace.jsonl"));
  struct Check {
    std::string output;
    std::string text;
  };
  for (const Check& c : {Check{"strace", o.err}, Check{"trace", trace}}) {
    SCOPED_TRACE(c.output);
    EXPECT_EQ(c.text.find('\x1b'), std::string::npos);
    // C1's CSI, as a byte and as the character U+009B in UTF-8.
    EXPECT_EQ(c.text.find('\x9b'), std::string::npos);
    EXPECT_EQ(lines_of(c.text).size(), 4u) << "write, open, mkdir, exit: " << c.text;
  }
  EXPECT_TRUE(plain_text(o.err)) << o.err;
  for (const std::string& line : lines_of(trace)) {
    ASSERT_TRUE(nlohmann::json::accept(line)) << line;
    auto record = nlohmann::json::parse(line);
    if (record["name"] != "write") continue;
    // Byte for code point: the program's bytes come back out of the JSON as they went in.
    std::string text = record["decoded"][1].get<std::string>();
    EXPECT_EQ(text.substr(0, 6), "\x1b[2J\xc2\x9b") << "each byte is the code point of its value";
  }
}

}  // namespace
}  // namespace nuv::test
