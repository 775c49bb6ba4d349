// For tests that use the platform from the outside, as a user does: files, shell commands,
// child processes, an X server of their own, and marked lines of a test program's source.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace nuv::test {

std::string slurp(const std::filesystem::path& p);
void spit(const std::filesystem::path& p, const std::string& content);
// The text as one word of a shell command line.
std::string quoted(const std::string& s);
// The built nuvrelos-run.
std::string runner_path();

// A fresh directory of the test's own, removed with everything in it at the end.
struct ScratchDir {
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::filesystem::path path;
};

struct Outcome {
  int status = -1;  // the exit status; -1 when killed by a signal
  std::string out, err;
};
// Runs a shell command line with `input` as its standard input.
Outcome shell(const std::string& command, const std::string& input = "");
// What a command writes to standard output, trailing white space off; its errors are dropped.
std::string capture(const std::string& command);

// Each wait on another process ends as soon as its condition holds; the bound only stops a
// run that is broken, since a loaded machine can take many seconds to start a window.
constexpr std::chrono::seconds kPatience{50};

// A child process of the test with its output in `log`, its errors too unless `err_log` names
// a file of their own (keep_fd stays open in it); stopped at the end if it is still running.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::filesystem::path& log, int keep_fd = -1,
        const std::filesystem::path& err_log = {});
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  // The exit status (128 + signal when killed) once it has ended; nullopt when it has not
  // ended within `patience`.
  std::optional<int> wait_exit(std::chrono::milliseconds patience = kPatience);

 private:
  pid_t pid_;
};

// An Xvfb of the test's own, 1024x768; DISPLAY names it while it lives. With a screen_dir it
// keeps an image of its screen there (Xvfb_screen0, XWD format).
class XServer {
 public:
  // Whether Xvfb and xdotool are installed.
  static bool available();
  XServer(const std::filesystem::path& log_dir, bool keep_screen);
  bool started() const { return started_; }

 private:
  std::optional<Child> xvfb_;
  bool started_ = false;
};

// The number of the first line of `file` that contains `marker`; fails the test when none does.
int marked_line(const std::filesystem::path& file, const std::string& marker);

}  // namespace nuv::test
