// The debugger's side of the stub on arbitrary bytes: the packet parser takes them in pieces
// of varying size, and every packet it finds goes to a session over a stand-in target (no CPU:
// the session is what reads the packets' contents). Each reply, framed, must parse back to
// itself, and the session must ask the target only for registers and sizes it has.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "host/debug/gdb_packet.h"
#include "host/debug/gdb_session.h"

namespace {

using nuv::GdbInput;
using nuv::GdbStop;

// The shape of i386's register file as gdb knows it: 16 general and segment registers, the
// eight 80-bit x87 registers, eight control words.
constexpr size_t kRegisters = 32;
constexpr int size_of(size_t index) { return index >= 16 && index < 24 ? 10 : 4; }

constexpr uint32_t kMemoryBase = 0x08048000;
constexpr size_t kMemorySize = 0x4000;

class StandIn : public nuv::GdbTarget {
 public:
  size_t register_count() const override { return kRegisters; }
  int register_size(size_t index) const override { return size_of(check(index)); }
  void read_register(size_t index, uint8_t* out) override {
    std::memcpy(out, registers_[check(index)].data(), static_cast<size_t>(size_of(index)));
  }
  bool write_register(size_t index, const uint8_t* in) override {
    std::memcpy(registers_[check(index)].data(), in, static_cast<size_t>(size_of(index)));
    return true;
  }
  size_t read_memory(uint32_t addr, uint8_t* out, size_t n) override {
    size_t k = readable(addr, n);
    if (k > 0) std::memcpy(out, memory_.data() + (addr - kMemoryBase), k);
    return k;
  }
  bool write_memory(uint32_t addr, const uint8_t* in, size_t n) override {
    if (readable(addr, n) != n) return false;
    if (n > 0) std::memcpy(memory_.data() + (addr - kMemoryBase), in, n);
    return true;
  }
  bool insert_point(int type, uint32_t, uint32_t) override { return type >= 0 && type <= 2; }
  bool remove_point(int type, uint32_t, uint32_t) override { return type >= 0 && type <= 2; }
  // Every fifth run ends the program, so the session's handling of an ended one is reached.
  GdbStop resume(bool step) override {
    if (++runs_ % 5 == 0) return GdbStop{GdbStop::Kind::Exited, 0, static_cast<int>(runs_ & 0xFF)};
    GdbStop stop;
    if (!step && runs_ % 3 == 0) stop.watch = kMemoryBase + runs_;
    return stop;
  }
  GdbStop deliver(int signal) override { return GdbStop{GdbStop::Kind::Terminated, signal, 0}; }
  const std::string& target_xml() const override { return xml_; }

 private:
  static size_t check(size_t index) {
    if (index >= kRegisters) std::abort();
    return index;
  }
  static size_t readable(uint32_t addr, size_t n) {
    if (addr < kMemoryBase || addr - kMemoryBase >= kMemorySize) return 0;
    return std::min(n, kMemorySize - (addr - kMemoryBase));
  }

  std::array<std::array<uint8_t, 10>, kRegisters> registers_{};
  std::array<uint8_t, kMemorySize> memory_{};
  uint32_t runs_ = 0;
  std::string xml_ = "<?xml version=\"1.0\"?><target><architecture>i386</architecture>" +
                     std::string(900, ' ') + "</target>";
};

// A framed reply read back by a parser of its own is the same reply.
void check_frame(const std::string& reply) {
  nuv::GdbPacketParser parser;
  parser.feed(nuv::gdb_frame(reply));
  auto input = parser.next();
  if (!input || input->kind != GdbInput::Kind::Packet || input->payload != reply || parser.next()) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte sets the size of the pieces the bytes arrive in, as a socket splits them.
  size_t piece = 1 + data[0] % 64;
  std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  StandIn target;
  nuv::GdbSession session(target);
  nuv::GdbPacketParser parser;
  for (size_t at = 0; at < bytes.size() && session.end() == nuv::GdbSession::End::None;
       at += piece) {
    parser.feed(bytes.substr(at, piece));
    if (data[0] & 0x80) parser.take_interrupt();
    while (auto input = parser.next()) {
      if (input->kind == GdbInput::Kind::Interrupt) {
        check_frame(session.interrupted());
      } else if (input->kind == GdbInput::Kind::Packet) {
        if (input->payload.size() > nuv::GdbPacketParser::kMaxPayload) std::abort();
        if (auto reply = session.handle(input->payload)) check_frame(*reply);
      }
    }
  }
  return 0;
}
