#include "tests/harness/outside.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace nuv::test {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void spit(const fs::path& p, const std::string& content) {
  std::ofstream(p, std::ios::binary) << content;
}

std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string runner_path() { return std::string(NUV_BINARY_DIR) + "/host/nuvrelos-run"; }

ScratchDir::ScratchDir() {
  std::string tmpl = (fs::temp_directory_path() / "nuv-test-XXXXXX").string();
  if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("cannot make a scratch dir");
  path = tmpl;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

Outcome shell(const std::string& command, const std::string& input) {
  ScratchDir io;
  spit(io.path / "in", input);
  std::string full = "{ " + command + "\n} <" + quoted((io.path / "in").string()) + " >" +
                     quoted((io.path / "out").string()) + " 2>" +
                     quoted((io.path / "err").string());
  int raw = std::system(full.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(io.path / "out"), slurp(io.path / "err")};
}

std::string capture(const std::string& command) {
  std::string out = shell(command).out;
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

Child::Child(const std::vector<std::string>& argv, const fs::path& log, int keep_fd,
             const fs::path& err_log) {
  if ((pid_ = ::fork()) != 0) return;
  int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ::dup2(out, 1);
  ::dup2(err_log.empty() ? out : ::open(err_log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
  for (int fd = 3; fd < 256; ++fd) {
    if (fd != keep_fd) ::close(fd);
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  ::execvp(args[0], args.data());
  ::_exit(127);
}

Child::~Child() {
  if (pid_ <= 0) return;
  // Asked first, so an X server can remove its lock files; forced if it does not listen.
  ::kill(pid_, SIGTERM);
  if (!wait_exit(std::chrono::seconds(10))) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

std::optional<int> Child::wait_exit(std::chrono::milliseconds patience) {
  // A descriptor that becomes readable when the process ends: no polling.
  int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
  if (fd < 0) return std::nullopt;
  pollfd p = {fd, POLLIN, 0};
  int ready = ::poll(&p, 1, static_cast<int>(patience.count()));
  ::close(fd);
  int status = 0;
  if (ready != 1 || ::waitpid(pid_, &status, 0) != pid_) return std::nullopt;
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool XServer::available() {
  return std::system("command -v Xvfb >/dev/null && command -v xdotool >/dev/null") == 0;
}

XServer::XServer(const fs::path& log_dir, bool keep_screen) {
  int ready[2];
  if (::pipe(ready) != 0) return;
  std::vector<std::string> argv = {"Xvfb",      "-displayfd", std::to_string(ready[1]),
                                   "-screen",   "0",          "1024x768x24",
                                   "-nolisten", "tcp"};
  if (keep_screen) argv.insert(argv.end(), {"-fbdir", log_dir.string()});
  xvfb_.emplace(argv, log_dir / "xvfb.log", ready[1]);
  ::close(ready[1]);
  // Xvfb writes its display number once it accepts clients.
  std::string number;
  pollfd p = {ready[0], POLLIN, 0};
  char c = 0;
  const int patience_ms = static_cast<int>(std::chrono::milliseconds(kPatience).count());
  while (::poll(&p, 1, patience_ms) > 0 && ::read(ready[0], &c, 1) == 1 && c != '\n') number += c;
  ::close(ready[0]);
  if (number.empty()) return;
  ::setenv("DISPLAY", (":" + number).c_str(), 1);
  ::unsetenv("WAYLAND_DISPLAY");
  started_ = true;
}

int marked_line(const fs::path& file, const std::string& marker) {
  std::ifstream in(file);
  std::string text;
  for (int n = 1; std::getline(in, text); ++n) {
    if (text.find(marker) != std::string::npos) return n;
  }
  ADD_FAILURE() << "no line of " << file << " holds " << marker;
  return 0;
}

}  // namespace nuv::test
