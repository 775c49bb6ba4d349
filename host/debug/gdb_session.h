// The commands of the GDB remote serial protocol, answered against an abstract target: one
// packet body in, one reply body out. No sockets and no CPU here, so any packet can be thrown
// at it (tests, fuzzers) with a stand-in target.
#pragma once

#include <csignal>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace nuv {

// A stop as the debugger hears of it. Signal numbers are Linux's (<csignal>), which gdb's
// remote protocol shares for every signal a program of ours meets.
struct GdbStop {
  enum class Kind {
    Signal,      // stopped with `signal` (a breakpoint or a step is SIGTRAP)
    Exited,      // the program ended with `status`
    Terminated,  // a fatal signal ended it
  };
  Kind kind = Kind::Signal;
  int signal = SIGTRAP;
  int status = 0;
  std::optional<uint32_t> watch;  // the address a write watchpoint caught
  // Going back reached the start of the history ("begin"), or going forward its end ("end").
  const char* replaylog = nullptr;
};

class GdbTarget {
 public:
  virtual ~GdbTarget() = default;
  virtual size_t register_count() const = 0;
  virtual int register_size(size_t index) const = 0;
  virtual void read_register(size_t index, uint8_t* out) = 0;
  virtual bool write_register(size_t index, const uint8_t* in) = 0;
  // How many of the n bytes from addr could be read (they stop at the first unreadable one).
  virtual size_t read_memory(uint32_t addr, uint8_t* out, size_t n) = 0;
  virtual bool write_memory(uint32_t addr, const uint8_t* in, size_t n) = 0;
  // type 0 software, 1 hardware breakpoint, 2 write watchpoint; false: not supported here.
  virtual bool insert_point(int type, uint32_t addr, uint32_t length) = 0;
  virtual bool remove_point(int type, uint32_t addr, uint32_t length) = 0;
  // Runs (or steps one instruction) and blocks until the program stops or ends.
  virtual GdbStop resume(bool step) = 0;
  // A fatal signal the debugger let through: the program ends by it.
  virtual GdbStop deliver(int signal) = 0;
  // Going back in time: one instruction (a kernel call is one), or to the last breakpoint or
  // watched write before the current position. Only a target that keeps a history can.
  virtual bool can_reverse() const { return false; }
  // Going back is refused for now (an error packet), though the target keeps a history.
  virtual bool reverse_refused() const { return false; }
  virtual GdbStop reverse(bool step) {
    (void)step;
    return GdbStop{};
  }
  virtual const std::string& target_xml() const = 0;
};

class GdbSession {
 public:
  explicit GdbSession(GdbTarget& target) : target_(target) {}

  // The reply body for one packet body; nullopt when the protocol wants none (kill).
  std::optional<std::string> handle(std::string_view packet);
  // The reply to an interrupt that arrives while the program is stopped.
  std::string interrupted();

  bool no_ack() const { return no_ack_; }
  enum class End { None, Killed, Detached };
  End end() const { return end_; }
  // True once the program has ended (exited or terminated).
  bool program_ended() const { return ended_; }

 private:
  std::string stop_reply(const GdbStop& stop);
  std::string resume(bool step, int signal);
  std::string reverse(bool step);
  std::string read_registers();
  std::string write_registers(std::string_view hex);
  std::string read_register(std::string_view args);
  std::string write_register(std::string_view args);
  std::string read_memory(std::string_view args);
  std::string write_memory(std::string_view args, bool binary);
  std::string point(std::string_view args, bool insert);
  std::string query(std::string_view packet);
  std::string v_packet(std::string_view packet);

  GdbTarget& target_;
  GdbStop last_{};
  bool no_ack_ = false;
  bool ended_ = false;
  End end_ = End::None;
};

}  // namespace nuv
