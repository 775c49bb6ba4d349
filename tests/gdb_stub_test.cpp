// nuvrelos-run --gdb from the outside: stock gdb in batch mode drives a guest program through
// the stub, and a raw connection throws what gdb never would at it.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <regex>
#include <thread>

#include "host/debug/debug_info.h"
#include "host/debug/gdb_packet.h"
#include "tests/harness/guest.h"

namespace nuv::test {
namespace {

using Clock = std::chrono::steady_clock;

const std::string kRunner = std::string(NUV_BINARY_DIR) + "/host/nuvrelos-run";
const std::string kSource = std::string(NUV_SOURCE_DIR) + "/tests/guest/prog_debuggee.cpp";

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

int marker_line(const std::string& what) {
  std::ifstream in(kSource);
  std::string text;
  for (int n = 1; std::getline(in, text); ++n) {
    if (text.find("marker: " + what) != std::string::npos) return n;
  }
  ADD_FAILURE() << "no marker " << what;
  return 0;
}

// A runner started with --gdb 0, waiting for its debugger on the port it names.
class Stub {
 public:
  explicit Stub(const std::vector<std::string>& guest_args, const std::string& port = "0") {
    static int serial = 0;
    base_ = ::testing::TempDir() + "/gdbstub-" + std::to_string(::getpid()) + "-" +
            std::to_string(serial++);
    std::vector<std::string> args = {kRunner, "--gdb", port, guest_program("prog_debuggee")};
    args.insert(args.end(), guest_args.begin(), guest_args.end());
    pid_ = ::fork();
    if (pid_ == 0) {
      int out = ::open((base_ + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int err = ::open((base_ + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(out, 1);
      ::dup2(err, 2);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    // The runner names its port once it listens; it may also end at once (a port in use).
    auto deadline = Clock::now() + std::chrono::seconds(30);
    std::regex named("127\\.0\\.0\\.1:([0-9]+)");
    while (Clock::now() < deadline && status_ < 0) {
      std::smatch m;
      std::string err = slurp(base_ + ".err");
      if (err.find("waiting for gdb") != std::string::npos && std::regex_search(err, m, named)) {
        port_ = m[1];
        return;
      }
      poll_exit();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  ~Stub() {
    if (status_ < 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    std::remove((base_ + ".out").c_str());
    std::remove((base_ + ".err").c_str());
  }

  const std::string& port() const { return port_; }
  // The runner's exit status, once it ends (-1 if it does not within the time).
  int status() {
    auto deadline = Clock::now() + std::chrono::seconds(60);
    while (status_ < 0 && Clock::now() < deadline) {
      poll_exit();
      if (status_ < 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status_;
  }
  std::string out() const { return slurp(base_ + ".out"); }
  std::string err() const { return slurp(base_ + ".err"); }

 private:
  void poll_exit() {
    int raw = 0;
    if (::waitpid(pid_, &raw, WNOHANG) == pid_) status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 256;
  }
  std::string base_;
  pid_t pid_ = -1;
  int status_ = -1;
  std::string port_;
};

// gdb in batch mode: connects, runs the commands, prints what a user would see.
std::string gdb(const Stub& stub, const std::vector<std::string>& commands) {
  std::string cmd =
      "timeout 120 gdb -nx -batch -ex 'set confirm off' -ex 'target remote :" + stub.port() + "'";
  for (const auto& c : commands) cmd += " -ex '" + c + "'";
  cmd += " '" + guest_program("prog_debuggee") + "' 2>&1";
  std::string out;
  if (FILE* p = ::popen(cmd.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

std::string at_line(const std::string& marker) {
  return "prog_debuggee.cpp:" + std::to_string(marker_line(marker));
}

TEST(GdbStub, BreakpointBacktraceRegistersMemoryStepsAndExitStatus) {
  Stub stub({});
  ASSERT_FALSE(stub.port().empty()) << stub.err();
  std::string out = gdb(stub, {"break outer", "continue", "bt", "info registers eip", "x/4xb $esp",
                               "next", "info registers eip", "continue"});
  auto info = debug::DebugInfo::open(guest_program("prog_debuggee"));
  const debug::Function* outer = info->function_named("outer");
  const debug::Function* main_fn = info->function_named("main");
  ASSERT_NE(outer, nullptr);
  ASSERT_NE(main_fn, nullptr);
  char eip[32];
  std::snprintf(eip, sizeof eip, "eip            0x%x", outer->low);
  struct Case {
    std::string seen;
  };
  for (const Case& c : {Case{"Breakpoint 1, outer ("}, Case{at_line("call inner")}, Case{"#1  0x"},
                        Case{" in main ("}, Case{at_line("call outer")}, Case{eip},
                        Case{"[Inferior 1 (Remote target) exited with code 03]"}}) {
    SCOPED_TRACE(c.seen);
    EXPECT_NE(out.find(c.seen), std::string::npos) << out;
  }
  // The word at the stack pointer on entry is the return address into main.
  std::smatch m;
  ASSERT_TRUE(
      std::regex_search(out, m,
                        std::regex(":\\s+0x([0-9a-f]{2})\\s+0x([0-9a-f]{2})\\s+0x([0-9a-f]{2})"
                                   "\\s+0x([0-9a-f]{2})")))
      << out;
  uint32_t ret = std::stoul(m[4].str() + m[3].str() + m[2].str() + m[1].str(), nullptr, 16);
  EXPECT_EQ(info->function_at(ret), main_fn);
  // `next` went on to the following line of outer, past the call.
  EXPECT_NE(out.find("\n" + std::to_string(marker_line("call inner") + 1) + "\t"),
            std::string::npos)
      << out;
  EXPECT_EQ(stub.status(), 3);
  EXPECT_EQ(stub.out(), "done\n");
}

TEST(GdbStub, FaultStopsAsSigsegvAtItsLineWithTheRegistersAsTheyWere) {
  Stub stub({"fault"});
  ASSERT_FALSE(stub.port().empty()) << stub.err();
  std::string out = gdb(stub, {"continue", "bt", "info registers edx", "continue"});
  for (std::string seen :
       {std::string("Program received signal SIGSEGV"), std::string(" in inner ("),
        at_line("store"), std::string("edx            0x10"), std::string("#1  0x"),
        std::string("Program terminated with signal SIGSEGV")}) {
    SCOPED_TRACE(seen);
    EXPECT_NE(out.find(seen), std::string::npos) << out;
  }
  EXPECT_EQ(stub.status(), 139);
  // The runner still reports the crash it let gdb see.
  EXPECT_NE(stub.err().find("#0 0x"), std::string::npos) << stub.err();
}

TEST(GdbStub, StepsWritesWatchpointsKillAndDetach) {
  struct Case {
    std::string name;
    std::vector<std::string> commands;
    std::vector<std::string> seen;
    int status;
  };
  const Case cases[] = {
      {"single instructions move eip",
       {"stepi", "info registers eip", "stepi", "info registers eip", "kill"},
       {"0x", "eip            0x"},
       137},
      {"register and memory writes",
       {"break outer", "continue", "set var $eax = 0x1234", "info registers eax",
        "set var g_counter = 42", "print g_counter", "print $cs", "detach"},
       {"eax            0x1234", "$1 = 42"},
       // outer returns 11 + 42; main then returns that minus 15.
       38},
      {"a write watchpoint",
       {"watch g_counter", "continue", "continue"},
       {"Hardware watchpoint 1: g_counter", "Old value = 7", "New value = 8"},
       3},
      {"detach lets the program run on", {"detach"}, {"detached"}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Stub stub({});
    ASSERT_FALSE(stub.port().empty()) << stub.err();
    std::string out = gdb(stub, c.commands);
    for (const auto& s : c.seen) EXPECT_NE(out.find(s), std::string::npos) << s << "\n" << out;
    EXPECT_EQ(stub.status(), c.status) << out << stub.err();
  }
}

// A raw connection to the stub, for what gdb itself would not send.
class Connection {
 public:
  explicit Connection(const std::string& port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(std::stoi(port)));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~Connection() { ::close(fd_); }
  bool connected() const { return connected_; }
  bool send(const std::string& bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }
  // Reads until a whole reply packet is in (or the time runs out); returns its body.
  std::optional<std::string> reply(int timeout_ms = 20000) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (Clock::now() < deadline) {
      parser_.feed(pending_);
      pending_.clear();
      while (auto in = parser_.next()) {
        if (in->kind == gdb::Input::Kind::Packet) return in->payload;
      }
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      char buf[8192];
      ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) return std::nullopt;
      pending_.append(buf, static_cast<size_t>(n));
    }
    return std::nullopt;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
  gdb::PacketParser parser_;
  std::string pending_;
};

TEST(GdbStub, CtrlCInterruptsARunningProgram) {
  Stub stub({"spin"});
  ASSERT_FALSE(stub.port().empty()) << stub.err();
  Connection c(stub.port());
  ASSERT_TRUE(c.connected());
  ASSERT_TRUE(c.send(gdb::frame("c")));
  ASSERT_TRUE(c.send("\x03"));
  auto stop = c.reply();
  ASSERT_TRUE(stop.has_value());
  EXPECT_EQ(*stop, "T02");
  ASSERT_TRUE(c.send(gdb::frame("k")));
  EXPECT_EQ(stub.status(), 137);
}

TEST(GdbStub, MalformedAndRandomPacketsLeaveTheStubAnswering) {
  Stub stub({});
  ASSERT_FALSE(stub.port().empty()) << stub.err();
  Connection c(stub.port());
  ASSERT_TRUE(c.connected());
  std::mt19937 rng(1234);
  const std::string alphabet = "$#}*+-0123456789abcdefABCDEFgGmMpPqQxXzZ?:;,=HTvl\x03";
  auto random_text = [&](size_t n, bool any_byte) {
    std::string s;
    for (size_t i = 0; i < n; ++i) {
      s.push_back(any_byte ? static_cast<char>(rng() & 0xFF) : alphabet[rng() % alphabet.size()]);
    }
    return s;
  };
  // Bodies that would run, kill or detach the program are left out: the stub must stay with us.
  auto harmless = [](const std::string& body) {
    return body.empty() || std::string("cCsSkDvR}\x03").find(body[0]) == std::string::npos;
  };
  for (int i = 0; i < 3000; ++i) {
    std::string bytes;
    switch (i % 4) {
      case 0:  // line noise
        bytes = random_text(rng() % 64, true);
        break;
      case 1: {  // a well-framed packet with a random body
        std::string body = random_text(rng() % 48, false);
        if (harmless(body)) bytes = gdb::frame(body);
        break;
      }
      case 2: {  // truncated: cut anywhere, checksum included
        std::string f = gdb::frame(random_text(rng() % 48, false));
        bytes = f.substr(0, rng() % f.size());
        break;
      }
      case 3:  // a wrong checksum
        bytes = "$" + random_text(rng() % 32, false) + "#zz";
        break;
    }
    // Never a resume: drop every '$' that would start one and every interrupt.
    std::string safe;
    for (size_t k = 0; k < bytes.size(); ++k) {
      if (bytes[k] == '$' && (k + 1 == bytes.size() || !harmless(std::string(1, bytes[k + 1])))) {
        continue;
      }
      if (bytes[k] != '\x03') safe.push_back(bytes[k]);
    }
    ASSERT_TRUE(c.send(safe)) << "the stub went away after " << i << " packets";
  }
  // Ends whatever half-packet is pending, then asks a real question.
  ASSERT_TRUE(c.send("#00"));
  ASSERT_TRUE(c.send(gdb::frame("qAttached")));
  std::optional<std::string> last;
  for (auto r = c.reply(); r; r = c.reply(2000)) {
    last = r;
    if (*r == "1") break;
  }
  ASSERT_TRUE(last.has_value());
  EXPECT_EQ(*last, "1");
  ASSERT_TRUE(c.send(gdb::frame("k")));
  EXPECT_EQ(stub.status(), 137);
}

TEST(GdbStub, PortInUseIsAClearError) {
  int held = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(held, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(held, 1), 0);
  socklen_t len = sizeof a;
  ::getsockname(held, reinterpret_cast<sockaddr*>(&a), &len);
  Stub stub({}, std::to_string(ntohs(a.sin_port)));
  EXPECT_EQ(stub.status(), 2);
  std::string err = stub.err();
  EXPECT_NE(err.find("the port is in use"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  ::close(held);
}

}  // namespace
}  // namespace nuv::test
