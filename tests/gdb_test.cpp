// The remote protocol, first without a socket: framing of any byte stream, and the answers of
// the command layer against a stand-in target. Then nuvrelos-run --gdb from the outside: stock
// gdb in batch mode drives a guest program through the stub, and a raw connection throws what
// gdb never would at it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <regex>

#include "host/debug/gdb_packet.h"
#include "host/debug/gdb_session.h"
#include "host/emu/elf_image.h"
#include "tests/harness/guest.h"
#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

using Input = GdbInput;
using Kind = GdbInput::Kind;

std::vector<Input> parse(const std::string& bytes) {
  GdbPacketParser p;
  p.feed(bytes);
  std::vector<Input> out;
  while (auto in = p.next()) out.push_back(*in);
  return out;
}

TEST(GdbPacket, FramingOfEveryKindOfInput) {
  struct Case {
    std::string name;
    std::string bytes;
    std::vector<Input> expected;
  };
  const Case cases[] = {
      {"a packet", "$g#67", {{Kind::Packet, "g"}}},
      {"an empty packet", "$#00", {{Kind::Packet, ""}}},
      {"upper-case checksum digits", "$qC#B4", {{Kind::Packet, "qC"}}},
      {"escaped bytes come out plain", "$X0,1:}]#f9", {{Kind::Packet, "X0,1:}"}}},
      {"what frame() escapes comes back", gdb_frame("$#}*\xff"), {{Kind::Packet, "$#}*\xff"}}},
      {"acknowledgements and an interrupt",
       "+-\x03",
       {{Kind::Ack}, {Kind::Nack}, {Kind::Interrupt}}},
      {"a wrong checksum", "$g#68", {{Kind::Damaged}}},
      {"a checksum that is not hex", "$g#6x", {{Kind::Damaged}}},
      {"noise between packets is ignored", "abc$g#67xyz", {{Kind::Packet, "g"}}},
      {"a new start abandons a half packet", "$m0,4$g#67", {{Kind::Packet, "g"}}},
      {"a truncated packet gives nothing yet", "$m1000,4#", {}},
      {"a Ctrl-C inside a packet is a body byte", "$a\x03#64", {{Kind::Packet, "a\x03"}}},
      {"two packets in one read", "$g#67$?#3f", {{Kind::Packet, "g"}, {Kind::Packet, "?"}}},
      {"a packet longer than any may be is damaged, not kept",
       gdb_frame(std::string(GdbPacketParser::kMaxPayload + 10, 'a')) + "$g#67",
       {{Kind::Damaged}, {Kind::Packet, "g"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(parse(c.bytes), c.expected);
  }
}

TEST(GdbPacket, HexHelpersRefuseWhatIsNotHex) {
  struct Case {
    std::string text;
    std::optional<uint32_t> value;
  };
  for (const Case& c : {Case{"0", 0u}, Case{"ffffffff", 0xFFFFFFFFu}, Case{"8048000", 0x8048000u},
                        Case{"", std::nullopt}, Case{"123456789", std::nullopt},
                        Case{"-1", std::nullopt}, Case{"0x10", std::nullopt}}) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parse_hex32(c.text), c.value);
  }
  EXPECT_FALSE(from_hex("abc").has_value());
  EXPECT_FALSE(from_hex("zz").has_value());
  EXPECT_EQ(from_hex("00ff7f"), (std::vector<uint8_t>{0, 255, 127}));
}

// Sixteen 4-byte registers and 4 KiB of memory at 0x1000; resumes stop with a breakpoint.
class FakeTarget : public GdbTarget {
 public:
  uint32_t regs[16] = {};
  uint8_t mem[4096] = {};
  std::map<uint32_t, int> points;
  int resumes = 0;
  std::string xml = std::string(3000, 'x') + "END";

  size_t register_count() const override { return 16; }
  int register_size(size_t) const override { return 4; }
  void read_register(size_t i, uint8_t* out) override { std::memcpy(out, &regs[i], 4); }
  bool write_register(size_t i, const uint8_t* in) override {
    if (i == 10) return false;  // a register the CPU refuses
    std::memcpy(&regs[i], in, 4);
    return true;
  }
  size_t read_memory(uint32_t addr, uint8_t* out, size_t n) override {
    if (addr < 0x1000 || addr >= 0x2000) return 0;
    n = std::min<size_t>(n, 0x2000 - addr);
    std::memcpy(out, mem + (addr - 0x1000), n);
    return n;
  }
  bool write_memory(uint32_t addr, const uint8_t* in, size_t n) override {
    if (addr < 0x1000 || uint64_t{addr} + n > 0x2000) return false;
    std::memcpy(mem + (addr - 0x1000), in, n);
    return true;
  }
  bool insert_point(int type, uint32_t addr, uint32_t) override {
    if (type == 2) return false;
    points[addr] = type;
    return true;
  }
  bool remove_point(int, uint32_t addr, uint32_t) override { return points.erase(addr) > 0; }
  GdbStop resume(bool) override {
    ++resumes;
    if (resumes == 3) return GdbStop{GdbStop::Kind::Exited, 0, 7};
    return GdbStop{};
  }
  GdbStop deliver(int signal) override { return GdbStop{GdbStop::Kind::Terminated, signal}; }
  const std::string& target_xml() const override { return xml; }
};

TEST(GdbSession, AnswersEachCommand) {
  FakeTarget t;
  t.regs[0] = 0x11223344;
  t.mem[0] = 0xAB;
  t.mem[1] = 0xCD;
  GdbSession s(t);
  struct Case {
    std::string packet;
    std::string reply;
  };
  const Case cases[] = {
      {"?", "T05"},
      {"p0", "44332211"},
      {"p10", "E01"},
      {"pzz", "E01"},
      {"P1=78563412", "OK"},
      {"p1", "78563412"},
      {"Pa=00000000", "E01"},
      {"P1=12", "E01"},
      {"m1000,2", "abcd"},
      {"m1ffe,10", "0000"},
      {"m0,4", "E14"},
      {"m1000", "E01"},
      {"m1000,0", ""},
      {"M1002,2:beef", "OK"},
      {"m1002,2", "beef"},
      {"M1002,2:be", "E01"},
      {"M3000,1:00", "E14"},
      {"X1004,2:xy", "OK"},
      {"m1004,2", "7879"},
      {"Z0,1000,1", "OK"},
      {"z0,1000,1", "OK"},
      {"Z2,1000,4", "E01"},
      {"Z3,1000,4", ""},
      {"Z9,1000,4", "E01"},
      {"qXfer:features:read:target.xml:0,5", "mxxxxx"},
      {"qXfer:features:read:target.xml:bb8,100", "lEND"},
      {"qXfer:features:read:target.xml:ffff,10", "l"},
      {"qXfer:features:read:other.xml:0,10", "E00"},
      {"vMustReplyEmpty", ""},
      {"Hg0", "OK"},
      {"jUnknownPacket", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.packet);
    EXPECT_EQ(s.handle(c.packet), c.reply);
  }
}

TEST(GdbSession, RunsStopsExitsAndEnds) {
  FakeTarget t;
  GdbSession s(t);
  EXPECT_EQ(s.handle("c"), "T05");
  EXPECT_EQ(s.handle("vCont;s:1"), "T05");
  EXPECT_EQ(s.handle("c"), "W07");
  EXPECT_TRUE(s.program_ended());
  // Once the program is gone, running again only repeats how it ended.
  EXPECT_EQ(s.handle("s"), "W07");
  EXPECT_EQ(t.resumes, 3);
  EXPECT_EQ(s.handle("k"), std::nullopt);
  EXPECT_EQ(s.end(), GdbSession::End::Killed);

  FakeTarget t2;
  GdbSession s2(t2);
  EXPECT_EQ(s2.handle("vCont;C0b:1"), "X0b");
  EXPECT_EQ(s2.handle("c"), "X0b");
  GdbSession s3(t2);
  EXPECT_EQ(s3.handle("C05"), "T05");  // a trap is not passed on
  EXPECT_EQ(s3.handle("D"), "OK");
  EXPECT_EQ(s3.end(), GdbSession::End::Detached);
}

using Clock = std::chrono::steady_clock;

const std::string kRunner = runner_path();
const std::string kSource = std::string(NUV_SOURCE_DIR) + "/tests/guest/prog_debuggee.cpp";

int marker_line(const std::string& what) { return marked_line(kSource, "marker: " + what); }

// A runner started with --gdb, waiting for its debugger on the port it names; asked for any
// port (0), it must name one.
class Stub {
 public:
  // With `replay`, the runner replays that record (the program is the record's).
  explicit Stub(const std::vector<std::string>& guest_args, const std::string& port = "0",
                const std::string& program = "prog_debuggee", const std::string& replay = "")
      : program_(program) {
    std::vector<std::string> args = {kRunner, "--gdb", port};
    if (replay.empty()) {
      args.push_back(guest_program(program));
    } else {
      args.insert(args.end(), {"--replay-run", replay});
    }
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
  const std::string& program() const { return program_; }
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
  std::string program_;
};

// gdb in batch mode: connects, runs the commands, prints what a user would see.
std::string gdb(const Stub& stub, const std::vector<std::string>& commands) {
  std::string cmd =
      "timeout 120 gdb -nx -batch -ex 'set confirm off' -ex 'target remote 127.0.0.1:" +
      stub.port() + "'";
  for (const auto& c : commands) cmd += " -ex '" + c + "'";
  Outcome o = shell(cmd + " " + quoted(guest_program(stub.program())));
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
  const std::string loop = "break " + at_line("loop");
  // The code that writes has run (and is translated) before the watchpoint exists.
  const Case after_the_write_ran[] = {
      {"a watchpoint set on a later turn of the loop that writes",
       {loop, "continue", "continue", "continue", "delete", "watch g_counter", "continue"},
       {"Hardware watchpoint 2: g_counter", "Old value = 9", "New value = 10"},
       7},
      {"a watchpoint set after finish",
       {"break outer", "continue", "finish", "watch g_counter", "continue"},
       {"Value returned", "Hardware watchpoint 2: g_counter", "Old value = 11", "New value = 12"},
       7},
      {"a watchpoint deleted again lets the loop run on",
       {loop, "continue", "continue", "delete", "watch g_counter", "continue", "delete",
        "continue"},
       {"Old value = 8", "New value = 9", "exited with code 07"},
       7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Stub stub({});
    std::string out = gdb(stub, c.commands);
    expect_seen(out, c.seen);
    EXPECT_EQ(stub.status(), c.status) << out << stub.err();
  }
  for (const Case& c : after_the_write_ran) {
    SCOPED_TRACE(c.name);
    Stub stub({"loop"});
    std::string out = gdb(stub, c.commands);
    expect_seen(out, c.seen);
    // gdb in batch mode detaches at the end: the program runs on to its end.
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
  std::optional<std::string> reply(Kind kind = Kind::Packet) {
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
  GdbPacketParser parser_;
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
      gdb_frame("m"),
      gdb_frame("M10,4:zz"),
      gdb_frame("Z0,ffffffffff,1"),
      gdb_frame("P99=1"),
      gdb_frame("vMustReplyEmpty"),
  };
  for (const std::string& bytes : broken) ASSERT_TRUE(c.send(bytes)) << "the stub went away";
  // Ends whatever half-packet is pending, then asks a real question.
  ASSERT_TRUE(c.send("#00"));
  ASSERT_TRUE(c.send(gdb_frame("qAttached")));
  auto reply = c.reply();
  while (reply && *reply != "1") reply = c.reply();
  EXPECT_EQ(reply, std::optional<std::string>("1"));
  ASSERT_TRUE(c.send(gdb_frame("c") + "\x03"));
  EXPECT_EQ(c.reply(), std::optional<std::string>("T02"));
  ASSERT_TRUE(c.send(gdb_frame("c")));
  ASSERT_TRUE(c.reply(Kind::Ack));
  ASSERT_TRUE(c.send("\x03"));
  EXPECT_EQ(c.reply(), std::optional<std::string>("T02"));
  ASSERT_TRUE(c.send(gdb_frame("k")));
  EXPECT_EQ(stub.status(), 137);
}

// Going back in time with stock gdb: the stub keeps the run's history, so reverse-stepi,
// reverse-continue (to a breakpoint, to the last write of a watched location, to the start),
// reverse-finish and reverse-next put the program where it was, registers and memory with it;
// and what the program printed is printed once, however often its calls are run again.
TEST(GdbStub, GoesBackInTime) {
  const std::string rewind = std::string(NUV_SOURCE_DIR) + "/tests/guest/prog_rewind.cpp";
  auto line = [&](const std::string& marker) {
    return "prog_rewind.cpp:" + std::to_string(marked_line(rewind, "marker: " + marker));
  };
  struct Case {
    std::string name;
    std::string script;  // a gdb command file
    std::vector<std::string> seen;
  };
  const Case cases[] = {
      {"reverse-stepi back over a kernel call, which is one step",
       "break write\ncontinue\nwhile *(unsigned short*)$pc != 0x80cd\n  stepi\nend\n"
       "stepi\nx/i $pc\nreverse-stepi\nx/i $pc\nprint $pc == write + 32\n",
       {"<write(int, void const*, size_t)+34>:\tpop",
        "<write(int, void const*, size_t)+32>:\tint    $0x80"}},
      {"reverse-continue to a breakpoint, with the memory of then",
       "break add\ncontinue\ncontinue\ncontinue\nprint g_total\nreverse-continue\nprint value\n"
       "print g_total\n",
       {"add (value=value@entry=3)", "$1 = 3", "Breakpoint 1, add (value=value@entry=2)", "$2 = 2",
        "$3 = 1"}},
      {"reverse-finish to the call, then reverse-next",
       "break add\ncontinue\ncontinue\nreverse-finish\nprint g_total\nreverse-next\nprint i\n",
       {"in main (", line("call add"), "$1 = 1", "$2 = 2"}},
      {"reverse-continue to the last write of a watched location",
       "break " + line("print") +
           "\ncontinue\nprint *balance\nwatch -l *balance\n"
           "reverse-continue\nbt\n",
       {"$1 = 1701736266", "Old value = 1701736266", "New value = 7237450", "in strcpy (",
        "in main (", line("call set_name")}},
      {"the start of history",
       "break " + line("balance") +
           "\ncontinue\nreverse-continue\ninfo registers eip\n"
           "reverse-stepi\n",
       {"No more reverse-execution history.\n_start () at", "<_start>",
        "No more reverse-execution history."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Stub stub({}, "0", "prog_rewind");
    ScratchDir dir;
    spit(dir.path / "commands.gdb", c.script);
    std::string out = gdb(stub, {"source " + (dir.path / "commands.gdb").string()});
    expect_seen(out, c.seen);
    // gdb in batch mode detaches: the program runs on from where it was taken, its calls up to
    // where it had been answered as they were the first time.
    EXPECT_EQ(stub.status(), 1) << out << stub.err();
    EXPECT_EQ(stub.out(), ".....\nbalance 1701736266, total 15\n") << out;
  }
}

// rr's way of debugging a crash: from the fault, back. The faulting instruction never
// completed, so one step back is the instruction before it.
TEST(GdbStub, GoesBackFromAFault) {
  Stub stub({"fault"});
  std::string out = gdb(stub, {"continue", "info registers eip", "reverse-stepi",
                               "info registers eip", "break outer", "reverse-continue", "bt 1"});
  expect_seen(out,
              {"Program received signal SIGSEGV", "<inner(int volatile*, int)+8>",
               "<inner(int volatile*, int)+4>", "Breakpoint 1, outer (", at_line("call inner")});
}

// A recorded run replayed under the debugger goes back as a live one does, its input files
// long gone: the calls it made are answered from the record each time it passes them.
TEST(GdbStub, GoesBackInAReplayedRun) {
  ScratchDir dir;
  spit(dir.path / "in.txt", "hello world\n");
  const std::string record = (dir.path / "run.nuvrun").string();
  Outcome recorded =
      shell("cd " + quoted(dir.path.string()) + " && " + quoted(kRunner) + " --record-run " +
                quoted(record) + " " + quoted(guest_program("prog_recorded")) + " in.txt out.txt",
            "typed\n");
  ASSERT_EQ(recorded.status, 70) << recorded.err;
  std::filesystem::remove(dir.path / "in.txt");
  std::filesystem::remove(dir.path / "out.txt");
  Stub stub({}, "0", "prog_recorded", record);
  std::string out = gdb(stub, {"break write", "continue", "print (char *) buffer", "break open",
                               "reverse-continue", "print path", "continue", "continue"});
  expect_seen(out, {"Breakpoint 1, write (fd=1", "file in.txt: 12 bytes, sum 4077680070",
                    "Breakpoint 2, open (path=", "\"in.txt\"", "Breakpoint 1, write (fd=1"});
  EXPECT_EQ(stub.status(), 70);
  EXPECT_EQ(stub.out(), recorded.out);
  EXPECT_FALSE(std::filesystem::exists(dir.path / "out.txt"));
}

// A record that ends where the recorded run was stopped (a frame limit) is the end of the
// history: forward stops there as gdb expects, back still works, and the run ends as it did.
TEST(GdbStub, AReplayStopsAtTheEndOfItsRecord) {
  ScratchDir dir;
  const std::string record = (dir.path / "demo.nuvrun").string();
  Outcome recorded = shell(quoted(kRunner) + " --display headless --frame-limit 3 --record-run " +
                           quoted(record) + " " + quoted(guest_program("stack_demo")));
  ASSERT_EQ(recorded.status, 124) << recorded.err;
  Stub stub({}, "0", "stack_demo", record);
  std::string out = gdb(
      stub, {"continue", "info registers eip", "reverse-stepi", "continue", "info registers eip"});
  expect_seen(
      out, {"No more reverse-execution history.", "eip  ", "No more reverse-execution history."});
  EXPECT_EQ(stub.status(), 124);
  EXPECT_NE(stub.err().find("frame limit of 3 frames"), std::string::npos) << stub.err();
}

// Several processes: the history is process 1's. While its child lives, going back is refused
// (the child would stay where it is); once the child has ended, gdb goes back over the calls
// that had to wait for it (a read of a pipe the child fills, parked and taken up again) to the
// exact breakpoint, and forward again to where it was.
TEST(GdbStub, GoesBackOnlyWhileTheProgramRunsAlone) {
  ScratchDir dir;
  std::filesystem::copy_file(guest_program("prog_procs"), dir.path / "procs");
  const std::string record = (dir.path / "run.nuvrun").string();
  Outcome recorded =
      shell(quoted(kRunner) + " --root " + quoted(dir.path.string()) + " --record-run " +
            quoted(record) + " " + quoted((dir.path / "procs").string()) + " eof");
  ASSERT_EQ(recorded.status, 0) << recorded.err;
  Stub stub({}, "0", "prog_procs", record);
  std::string out =
      gdb(stub, {"break close", "continue", "reverse-stepi", "delete", "break wait_word",
                 "continue", "break read", "reverse-continue", "up", "print at", "continue"});
  // The last read is the one that found the end, after "ab".
  expect_seen(out, {"Breakpoint 1, close (", "Remote failure reply: E01", "wait_word (pid=2)",
                    "Breakpoint 3, read (fd=3", "$1 = 2", "wait_word (pid=2)"});
  EXPECT_EQ(stub.status(), 0) << out << stub.err();
  EXPECT_EQ(stub.out(), recorded.out) << out;
}

// Going back a long way runs long; Ctrl-C stops it, as it stops a run forwards.
TEST(GdbStub, CtrlCInterruptsAReverseContinue) {
  Stub stub({"spin", "100"}, "0", "prog_long_run");
  ElfImage image = ElfImage::load(guest_program("prog_long_run"));
  char point[64];
  Connection c(stub.port());
  ASSERT_TRUE(c.send(gdb_frame("qSupported")));
  auto supported = c.reply();
  ASSERT_TRUE(supported);
  EXPECT_NE(supported->find("ReverseStep+;ReverseContinue+"), std::string::npos);
  std::snprintf(point, sizeof point, "Z0,%x,1", *image.symbol("write"));
  ASSERT_TRUE(c.send(gdb_frame(point)));
  EXPECT_EQ(c.reply(), std::optional<std::string>("OK"));
  ASSERT_TRUE(c.send(gdb_frame("c")));
  EXPECT_EQ(c.reply(), std::optional<std::string>("T05"));
  std::snprintf(point, sizeof point, "Z2,%x,4", *image.symbol("g_mark"));
  ASSERT_TRUE(c.send(gdb_frame(point)));
  EXPECT_EQ(c.reply(), std::optional<std::string>("OK"));
  // 100 million instructions back to the watched write: long enough to be interrupted.
  ASSERT_TRUE(c.send(gdb_frame("bc")));
  ASSERT_TRUE(c.reply(Kind::Ack));
  ::usleep(30000);
  ASSERT_TRUE(c.send("\x03"));
  EXPECT_EQ(c.reply(), std::optional<std::string>("T02"));
  ASSERT_TRUE(c.send(gdb_frame("k")));
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
