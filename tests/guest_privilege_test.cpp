// A program runs at user privilege: what the processor refuses a user process ends the run as
// the fault Linux turns it into (crash report, status, the trace's crash record, a stop under
// gdb), never as an emulated privileged operation or a dead runner; what a user process may do
// still works.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "host/debug/cpu_state.h"
#include "tests/harness/guest.h"
#include "tests/harness/outside.h"

namespace nuv::test {
namespace {

struct Case {
  std::string attempt;  // prog_privileged's name for it
  int status;           // 0: allowed, it runs on
  std::string fault;    // the crash report's first line holds this
};

const std::string kSegv = "SIGSEGV", kIll = "SIGILL", kTrap = "SIGTRAP";
const std::string kProtection = "general protection fault";

const std::vector<Case> kCases = {
    {"mov-to-cr0", 139, kProtection},
    {"mov-from-cr0", 139, kProtection},
    {"mov-to-cr3", 139, kProtection},
    {"mov-from-cr3", 139, kProtection},
    {"mov-to-cr4", 139, kProtection},
    {"mov-from-cr4", 139, kProtection},
    {"mov-to-dr7", 139, kProtection},
    {"mov-to-dr0", 139, kProtection},
    {"mov-from-dr6", 139, kProtection},
    {"lgdt", 139, kProtection},
    {"lidt", 139, kProtection},
    {"lldt", 139, kProtection},
    {"ltr", 139, kProtection},
    {"lmsw", 139, kProtection},
    {"clts", 139, kProtection},
    {"invd", 139, kProtection},
    {"wbinvd", 139, kProtection},
    {"invlpg", 139, kProtection},
    {"hlt", 139, "hlt instruction"},
    {"cli", 139, kProtection},
    {"sti", 139, kProtection},
    {"in", 139, "port input instruction"},
    {"out", 139, "port output instruction"},
    {"insb", 139, "port input instruction"},
    {"outsb", 139, "port output instruction"},
    {"rdmsr", 139, kProtection},
    {"wrmsr", 139, kProtection},
    {"rdpmc", 139, "rdpmc instruction"},
    {"sysenter", 139, "sysenter instruction"},
    {"sysexit", 139, kProtection},
    {"syscall", 132, "syscall instruction"},
    {"sysret", 132, "invalid instruction"},
    {"ljmp-kernel-code", 139, kProtection},
    {"ljmp-64-bit-code", 139, kProtection},
    {"ljmp-16-bit", 139, kProtection},
    {"ljmp-task", 139, kProtection},
    {"lcall-gate", 139, kProtection},
    {"lret-kernel", 139, kProtection},
    {"iret-kernel", 139, kProtection},
    // The engine takes the VM flag from a user's iret (the processor ignores it there); the
    // 8086 code it then looks for at 0x100 is not there, and the run ends as SIGSEGV anyway.
    {"iret-vm86", 139, ""},
    {"mov-ss-kernel", 139, kProtection},
    {"mov-ss-null", 139, kProtection},
    {"mov-ds-kernel", 139, kProtection},
    {"lds-unknown", 139, kProtection},
    {"rsm", 132, "invalid instruction"},
    {"xsetbv", 132, "invalid instruction"},
    {"trap-flag", 133, "debug trap"},
    {"int3", 133, "breakpoint"},
    {"int-0x81", 139, "interrupt 0x81"},
    {"rdtsc", 0, ""},
    {"cpuid", 0, ""},
    {"reload-own-segments", 0, ""},
    {"ljmp-own-code", 0, ""},
    {"lret-own-code", 0, ""},
    {"iret-own-code", 0, ""},
    {"popf-vm-iopl-if", 0, ""},
    {"fxsave-fxrstor", 0, ""},
};

std::string signal_of(int status) { return status == 132 ? kIll : status == 133 ? kTrap : kSegv; }

TEST(GuestPrivilege, WhatTheProcessorRefusesAUserProgramEndsItAsOnLinux) {
  ScratchDir dir;
  const std::string trace = (dir.path / "trace.jsonl").string();
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.attempt);
    Outcome o = shell(quoted(runner_path()) + " --trace " + quoted(trace) + " " +
                      quoted(guest_program("prog_privileged")) + " " + c.attempt);
    EXPECT_EQ(o.status, c.status) << o.err;
    if (c.status == 0) {
      EXPECT_EQ(o.out, "before\nafter\n");
      EXPECT_EQ(o.err, "");
      continue;
    }
    EXPECT_EQ(o.out, "before\n");
    EXPECT_TRUE(o.err.starts_with("nuvrelos-run: guest fault: " + c.fault)) << o.err;
    EXPECT_NE(o.err.find("signal " + signal_of(c.status)), std::string::npos) << o.err;
    std::istringstream lines(slurp(trace));
    std::string line, last;
    while (std::getline(lines, line)) last = line;
    nlohmann::json record = nlohmann::json::parse(last, nullptr, false);
    ASSERT_TRUE(record.contains("crash")) << last;
    EXPECT_EQ(record["crash"]["signal"], signal_of(c.status));
  }
}

TEST(GuestPrivilege, NoPrivilegedInstructionChangesTheCpuForTheNextCall) {
  // In-process, each attempt ends its call as a fault, and the same process then still calls
  // a function at user level: nothing the refused instruction tried took effect.
  Guest g("prog_privileged");
  for (const Case& c : kCases) {
    if (c.status == 0) continue;
    SCOPED_TRACE(c.attempt);
    RunResult r = g.run({"prog_privileged", c.attempt});
    EXPECT_EQ(r.end, RunResult::End::Fault) << r.message;
    EXPECT_EQ(r.signal, c.status - 128) << r.message;
    EXPECT_EQ(g.calli("strlen", {g.str("user")}), 4) << "the process is still usable";
  }
}

TEST(GuestPrivilege, ADebuggerChangesOnlyTheFlagsAUserProgramMay) {
  struct FlagCase {
    std::string name;
    uint32_t asked;
    uint32_t expect;  // starting from 0x202 (IF)
  };
  const FlagCase cases[] = {
      {"carry and trap", 0x303, 0x303},   {"8086 mode", 0x20202, 0x202},
      {"I/O privilege 3", 0x3202, 0x202}, {"interrupts off", 0x002, 0x202},
      {"nested task", 0x4202, 0x202},     {"alignment check and direction", 0x40602, 0x40602},
  };
  for (const FlagCase& c : cases) {
    SCOPED_TRACE(c.name);
    Guest g("prog_privileged");
    ASSERT_TRUE(g.process().prepare({"prog_privileged", "rdtsc"}));
    ASSERT_TRUE(write_register(g.process().engine(), kGdbEflags,
                               reinterpret_cast<const uint8_t*>(&c.asked)));
    uint32_t now = 0;
    read_register(g.process().engine(), kGdbEflags, reinterpret_cast<uint8_t*>(&now));
    EXPECT_EQ(now, c.expect);
  }
}

TEST(GuestPrivilege, UnderGdbARefusedInstructionStopsAsItsSignal) {
  struct GdbCase {
    std::string attempt;
    std::string seen;
    int status;
  };
  const GdbCase cases[] = {
      {"mov-to-dr7", "Program received signal SIGSEGV", 139},
      {"syscall", "Program received signal SIGILL", 132},
  };
  for (const GdbCase& c : cases) {
    SCOPED_TRACE(c.attempt);
    ScratchDir dir;
    Child runner({runner_path(), "--gdb", "0", guest_program("prog_privileged"), c.attempt},
                 dir.path / "out", -1, dir.path / "err");
    std::string port;
    for (int i = 0; i < 5000 && port.empty(); ++i) {
      std::string err = slurp(dir.path / "err");
      size_t at = err.find("127.0.0.1:");
      size_t end = at == std::string::npos ? at : err.find_first_not_of("0123456789", at + 10);
      if (end != std::string::npos && end > at + 10) port = err.substr(at + 10, end - at - 10);
      if (port.empty()) usleep(10000);
    }
    ASSERT_FALSE(port.empty()) << slurp(dir.path / "err");
    Outcome gdb = shell(
        "timeout 120 gdb -nx -batch -ex 'set confirm off' -ex 'target remote "
        "127.0.0.1:" +
        port + "' -ex continue -ex continue " + quoted(guest_program("prog_privileged")));
    EXPECT_NE((gdb.out + gdb.err).find(c.seen), std::string::npos) << gdb.out << gdb.err;
    EXPECT_EQ(runner.wait_exit(), c.status);
  }
}

}  // namespace
}  // namespace nuv::test
