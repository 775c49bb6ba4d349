// The examples of the README and of docs/ run as they stand, after the README's own commands,
// and print what the pages say they print.
//
// Every example in those pages is a fenced block. A `console` block is a session: a line
// "$ COMMAND" runs (a trailing "\" continues it; "# exits N" at its end is the status it must
// end with, else 0; "&" runs it in the background), the lines after it are what it must print,
// in that order, among other lines (white space need not match, "..." stands for any text, and
// any 0x number for any other); "(gdb) COMMAND" lines after "$ gdb ..." are typed into gdb,
// each followed by what gdb must answer. A block headed "LANGUAGE file=NAME" is a file the
// session writes where it stands. Other blocks are shown, not run (the two set-up commands,
// file layouts, CMake code). The pages run in one home directory ($HOME/nuvrelos-sdk is where
// the README installs the SDK), README.md first, each starting in a view of the repository
// whose build/ is this build.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>

#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

namespace fs = std::filesystem;

struct Block {
  std::string info;  // what follows the opening fence; "indented" for an unfenced code block
  std::vector<std::string> lines;
  int line = 0;  // in the page, 1-based
};

std::vector<Block> blocks_of(const std::string& page) {
  std::vector<Block> blocks;
  std::istringstream in(page);
  std::optional<Block> open;
  bool blank_before = true;
  int n = 0;
  for (std::string l; std::getline(in, l);) {
    ++n;
    if (l.starts_with("```")) {
      if (open) {
        blocks.push_back(*open);
        open.reset();
      } else {
        open = Block{l.substr(3), {}, n};
      }
    } else if (open) {
      open->lines.push_back(l);
    } else if (blank_before && l.starts_with("    ") && l.find_first_not_of(' ') != l.npos) {
      blocks.push_back({"indented", {l}, n});
    }
    blank_before = l.find_first_not_of(' ') == std::string::npos;
  }
  return blocks;
}

// One command of a session and what it must print.
struct Command {
  std::string text;
  std::vector<std::string> typed;  // gdb's input
  std::vector<std::string> expected;
  int status = 0;
  bool background = false;
  int line = 0;
};

std::vector<Command> commands_of(const Block& b) {
  std::vector<Command> out;
  for (size_t i = 0; i < b.lines.size(); ++i) {
    const std::string& l = b.lines[i];
    if (l.starts_with("$ ")) {
      Command c;
      c.line = b.line + 1 + static_cast<int>(i);
      c.text = l.substr(2);
      while (c.text.ends_with("\\") && i + 1 < b.lines.size()) {
        c.text.pop_back();
        c.text += " " + b.lines[++i];
      }
      std::smatch m;
      if (std::regex_search(c.text, m, std::regex(R"(\s+# exits (\d+)$)"))) {
        c.status = std::stoi(m[1]);
        c.text = c.text.substr(0, c.text.size() - m[0].length());
      }
      c.background = c.text.ends_with(" &");
      if (c.background) c.text.resize(c.text.size() - 2);
      out.push_back(c);
    } else if (l.starts_with("(gdb) ") && !out.empty()) {
      out.back().typed.push_back(l.substr(6));
    } else if (!out.empty() && l.find_first_not_of(' ') != std::string::npos) {
      out.back().expected.push_back(l);
    }
  }
  return out;
}

// An expected line as a pattern: white space of any length, "..." any text, 0x numbers any.
std::regex pattern_of(const std::string& line) {
  std::string re;
  for (size_t i = 0; i < line.size();) {
    if (std::isspace(static_cast<unsigned char>(line[i]))) {
      while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
      re += "\\s+";
    } else if (line.compare(i, 3, "...") == 0) {
      re += ".*";
      i += 3;
    } else if (line.compare(i, 2, "0x") == 0 && i + 2 < line.size() &&
               std::isxdigit(static_cast<unsigned char>(line[i + 2]))) {
      re += "0x[0-9a-fA-F]+";
      for (i += 2; i < line.size() && std::isxdigit(static_cast<unsigned char>(line[i]));) ++i;
    } else {
      if (std::string("\\^$.|?*+()[]{}").find(line[i]) != std::string::npos) re += '\\';
      re += line[i++];
    }
  }
  return std::regex(re);
}

// A TCP port nobody listens on now, for the examples' gdb sessions.
std::string free_port() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  socklen_t len = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return std::to_string(ntohs(a.sin_port));
}

std::string replace_all(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size()) {
    s.replace(at, from.size(), to);
  }
  return s;
}

constexpr const char* kEnd = "NUV_DOCS_END";

// Runs a page's sessions in one shell, and checks each command against what the page says.
void run_page(const fs::path& page, const fs::path& start, const fs::path& home) {
  std::vector<Block> blocks = blocks_of(slurp(page));
  const std::string port = free_port();
  std::string script = "cd " + quoted(start.string()) + "\nexport HOME=" + quoted(home.string()) +
                       " TMPDIR=" + quoted((home / "tmp").string()) +
                       "\nunset DISPLAY WAYLAND_DISPLAY\n";
  std::vector<Command> commands;
  for (const Block& b : blocks) {
    SCOPED_TRACE(page.filename().string() + ":" + std::to_string(b.line));
    ASSERT_NE(b.info, "indented") << "an example that is not fenced: say how it is run";
    std::smatch file;
    if (std::regex_match(b.info, file, std::regex(R"(\w+ file=(\S+))"))) {
      script += "cat >" + quoted(file[1]) + " <<'" + kEnd + "'\n";
      for (const std::string& l : b.lines) script += l + "\n";
      script += std::string(kEnd) + "\n";
    }
    if (b.info != "console") continue;
    for (Command c : commands_of(b)) {
      // The examples' port may be taken on this machine: another one stands in.
      c.text = replace_all(c.text, "1234", port);
      for (std::string& t : c.typed) t = replace_all(t, "1234", port);
      for (std::string& e : c.expected) e = replace_all(e, "1234", port);
      const std::string k = std::to_string(commands.size());
      script += "printf '\\n@@ " + k + "\\n'\n";
      if (c.background) {
        // Its first words are waited for, as a person waits before going on; its status is
        // not waited for.
        std::string log = quoted((home / ("background-" + k)).string());
        script += "{ " + c.text + "\n} >" + log + " 2>&1 </dev/null &\n" +
                  "for i in $(seq 300); do [ -s " + log + " ] && break; sleep 0.1; done\ncat " +
                  log + "\ntrue\n";
      } else if (!c.typed.empty()) {
        script += c.text + " 2>&1 <<'" + kEnd + "'\n";
        for (const std::string& t : c.typed) script += t + "\n";
        script += std::string(kEnd) + "\n";
      } else {
        script += "{ " + c.text + "\n} 2>&1 </dev/null\n";
      }
      script += "printf '\\n@@ status %d\\n' $?\n";
      commands.push_back(c);
    }
  }
  script += "wait\n";
  spit(home / "session.sh", script);
  std::string out = shell("bash " + quoted((home / "session.sh").string())).out;

  // What each command printed: between its marker and its status. (Searched by hand: the
  // standard library's regex recurses per character and overflows on long output.)
  std::vector<std::pair<std::string, int>> printed(commands.size(), {"", -1});
  for (size_t k = 0; k < commands.size(); ++k) {
    const std::string begin = "\n@@ " + std::to_string(k) + "\n", end = "\n@@ status ";
    size_t from = out.find(begin);
    size_t to = from == std::string::npos ? from : out.find(end, from + begin.size());
    if (to == std::string::npos) continue;
    printed[k] = {out.substr(from + begin.size(), to - from - begin.size()),
                  std::atoi(out.c_str() + to + end.size())};
  }
  for (size_t k = 0; k < commands.size(); ++k) {
    const Command& c = commands[k];
    SCOPED_TRACE(page.filename().string() + ":" + std::to_string(c.line) + ": $ " + c.text);
    const auto& [text, status] = printed[k];
    EXPECT_EQ(status, c.status) << text;
    std::istringstream lines(text);
    std::string l;
    for (const std::string& e : c.expected) {
      std::regex want = pattern_of(e);
      bool found = false;
      while (!found && std::getline(lines, l)) found = std::regex_search(l, want);
      EXPECT_TRUE(found) << "not printed (in this order): " << e << "\n--- printed:\n" << text;
      if (!found) break;
    }
  }
}

TEST(Docs, EveryExampleRunsAsThePagesShowIt) {
  ScratchDir scratch;
  const fs::path home = scratch.path / "home", repo = scratch.path / "repo";
  fs::create_directories(home / "tmp");
  fs::create_directories(repo);
  // The repository as a reader has it after the README's commands: its build/ is this one. A
  // copy, not links: a guest resolves its paths inside its root, where a link to the source
  // tree would lead nowhere.
  const fs::path source = NUV_SOURCE_DIR;
  for (const auto& entry : fs::directory_iterator(source)) {
    std::string name = entry.path().filename().string();
    if (!name.starts_with("build") && !name.starts_with(".")) {
      fs::copy(entry.path(), repo / name, fs::copy_options::recursive);
    }
  }
  fs::create_symlink(NUV_BINARY_DIR, repo / "build");
  std::vector<fs::path> pages = {source / "README.md"};
  for (const auto& entry : fs::directory_iterator(source / "docs")) {
    if (entry.path().extension() == ".md") pages.push_back(entry.path());
  }
  std::sort(pages.begin() + 1, pages.end());
  for (const fs::path& page : pages) {
    SCOPED_TRACE(page.string());
    run_page(page, repo, home);
  }
}

}  // namespace
}  // namespace nuv::test
