// nuvrelos-run --gdb from the outside: stock gdb in batch mode drives a guest program through
// the stub, and a raw connection throws what gdb never would at it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <regex>

#include "host/debug/gdb_packet.h"
#include "tests/harness/guest.h"
#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

using Clock = std::chrono::steady_clock;

const std::string kRunner = runner_path();
const std::string kSource = std::string(NUV_SOURCE_DIR) + "/tests/guest/prog_debuggee.cpp";

int marker_line(const std::string& what) { return marked_line(kSource, "marker: " + what); }

// A runner started with --gdb, waiting for its debugger on the port it names; asked for any
// port (0), it must name one.
class Stub {
 public:
  explicit Stub(const std::vector<std::string>& guest_args, const std::string& port = "0") {
    std::vector<std::string> args = {kRunner, "--gdb", port, guest_program("prog_debuggee")};
    args.insert(args.end(), guest_args.begin(), guest_args.end());
    runner_.emplace(args, dir_.path / "out", -1, dir_.path / "err");
    // The runner names its port once it listens; it may also end at once (a port in use).
    std::regex named("127\\.0\\.0\\.1:([0-9]+)");
    for (auto deadline = Clock::now() + kPatience; Clock::now() < deadline && !status_;) {
      std::smatch m;
      std::string said = err();
      if (said.find("waiting for gdb") != std::string::npos && std::regex_search(said, m, named)) {
        port_ = m[1];
        return;
      }
      status_ = runner_->wait_exit(std::chrono::milliseconds(5));
    }
    if (port == "0") ADD_FAILURE() << "the runner named no port: " << err();
  }

  const std::string& port() const { return port_; }
  // The runner's exit status once it ends; -1 when it does not.
  int status() {
    if (!status_) status_ = runner_->wait_exit();
    return status_.value_or(-1);
  }
  std::string out() const { return slurp(dir_.path / "out"); }
  std::string err() const { return slurp(dir_.path / "err"); }

 private:
  ScratchDir dir_;
  std::optional<Child> runner_;
  std::optional<int> status_;
  std::string port_;
};

// gdb in batch mode: connects, runs the commands, prints what a user would see.
std::string gdb(const Stub& stub, const std::vector<std::string>& commands) {
  std::string cmd =
      "timeout 120 gdb -nx -batch -ex 'set confirm off' -ex 'target remote 127.0.0.1:" +
      stub.port() + "'";
  for (const auto& c : commands) cmd += " -ex '" + c + "'";
  Outcome o = shell(cmd + " " + quoted(guest_program("prog_debuggee")));
  return o.out + o.err;
}

std::string at_line(const std::string& marker) {
  return "prog_debuggee.cpp:" + std::to_string(marker_line(marker));
}

// Each piece appears in what gdb printed.
void expect_seen(const std::string& out, const std::vector<std::string>& pieces) {
  for (const std::string& piece : pieces) {
    EXPECT_NE(out.find(piece), std::string::npos) << piece << "\n" << out;
  }
}

TEST(GdbStub, BreakpointBacktraceRegistersMemoryStepsAndExitStatus) {
  Stub stub({});
  // The backtrace reads the stack through the stub, and the line gdb stops at comes from the
  // eip it read: memory and register reads need no check of their own.
  std::string out = gdb(stub, {"break outer", "continue", "bt", "next", "continue"});
  // `next` goes on to the line of outer after the call.
  const std::string next_line = "\n" + std::to_string(marker_line("call inner") + 1) + "\t";
  expect_seen(
      out, {"Breakpoint 1, outer (", at_line("call inner"), "#1  0x", " in main (",
            at_line("call outer"), next_line, "[Inferior 1 (Remote target) exited with code 03]"});
  EXPECT_EQ(stub.status(), 3);
  EXPECT_EQ(stub.out(), "done\n");
}

TEST(GdbStub, FaultStopsAsSigsegvAtItsLineWithTheRegistersAsTheyWere) {
  Stub stub({"fault"});
  std::string out = gdb(stub, {"continue", "bt", "info registers edx", "continue"});
  expect_seen(out, {"Program received signal SIGSEGV", " in inner (", at_line("store"),
                    "edx            0x10", "#1  0x", "Program terminated with signal SIGSEGV"});
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
      {"single instructions, then a kill",
       {"stepi", "stepi", "kill"},
       {"_start () at ", "[Inferior 1 (Remote target) killed]"},
       137},
      {"register and memory writes, then a detach that lets the program run on",
       {"break outer", "continue", "set var $eax = 0x1234", "info registers eax",
        "set var g_counter = 42", "print g_counter", "print $cs", "detach"},
       {"eax            0x1234", "$1 = 42", "detached"},
       // outer returns 11 + 42; main then returns that minus 15.
       38},
      {"a write watchpoint",
       {"watch g_counter", "continue", "continue"},
       {"Hardware watchpoint 1: g_counter", "Old value = 7", "New value = 8"},
       3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Stub stub({});
    std::string out = gdb(stub, c.commands);
    expect_seen(out, c.seen);
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
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
      ADD_FAILURE() << "no stub on " << port;
  }
  ~Connection() { ::close(fd_); }
  bool send(const std::string& bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }
  // Reads until a whole reply packet (or else input of the kind asked for) is in; returns its
  // body, or nothing when the stub stays silent or goes away.
  std::optional<std::string> reply(gdb::Input::Kind kind = gdb::Input::Kind::Packet) {
    for (;;) {
      while (auto in = parser_.next()) {
        if (in->kind == kind) return in->payload;
      }
      pollfd p{fd_, POLLIN, 0};
      char buf[8192];
      if (::poll(&p, 1, 20000) != 1) return std::nullopt;
      ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) return std::nullopt;
      parser_.feed(std::string_view(buf, static_cast<size_t>(n)));
    }
  }

 private:
  int fd_ = -1;
  gdb::PacketParser parser_;
};

// Random packets are the fuzzers' work; these are the shapes a broken peer sends. The stub
// answers the next real question, and Ctrl-C still interrupts the program it then runs: sent
// with the resume, or once the stub has taken the resume and runs the program.
TEST(GdbStub, MalformedPacketsLeaveTheStubAnsweringAndCtrlCInterrupting) {
  Stub stub({"spin"});
  Connection c(stub.port());
  const std::string broken[] = {
      std::string("\xff\x00\x7f+-*}#", 9),     // line noise
      "$m0,4#zz",                              // a checksum that is not hex
      "$m0,4#00",                              // a wrong checksum
      "$g",                                    // cut before its checksum
      "$" + std::string(100000, 'x') + "#00",  // longer than any packet may be
      gdb::frame("m"),
      gdb::frame("M10,4:zz"),
      gdb::frame("Z0,ffffffffff,1"),
      gdb::frame("P99=1"),
      gdb::frame("vMustReplyEmpty"),
  };
  for (const std::string& bytes : broken) ASSERT_TRUE(c.send(bytes)) << "the stub went away";
  // Ends whatever half-packet is pending, then asks a real question.
  ASSERT_TRUE(c.send("#00"));
  ASSERT_TRUE(c.send(gdb::frame("qAttached")));
  auto reply = c.reply();
  while (reply && *reply != "1") reply = c.reply();
  EXPECT_EQ(reply, std::optional<std::string>("1"));
  ASSERT_TRUE(c.send(gdb::frame("c") + "\x03"));
  EXPECT_EQ(c.reply(), std::optional<std::string>("T02"));
  ASSERT_TRUE(c.send(gdb::frame("c")));
  ASSERT_TRUE(c.reply(gdb::Input::Kind::Ack));
  ASSERT_TRUE(c.send("\x03"));
  EXPECT_EQ(c.reply(), std::optional<std::string>("T02"));
  ASSERT_TRUE(c.send(gdb::frame("k")));
  EXPECT_EQ(stub.status(), 137);
}

TEST(GdbStub, PortInUseIsAClearError) {
  Stub first({});
  Stub stub({}, first.port());
  EXPECT_EQ(stub.status(), 2);
  std::string err = stub.err();
  EXPECT_NE(err.find("the port is in use"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

}  // namespace
}  // namespace nuv::test
