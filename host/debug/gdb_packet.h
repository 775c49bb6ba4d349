// The framing of the GDB remote serial protocol, with no socket in sight: bytes from the
// debugger go in, whole packets (or an interrupt, an acknowledgement, a damaged packet) come
// out, and replies are framed with their checksum. Any byte sequence is safe to feed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nuv {

// The body of every packet comes out with its '}' escapes undone, so binary data ('X',
// qXfer replies through frame()) needs no further step.
struct GdbInput {
  enum class Kind {
    Packet,     // payload holds the unescaped packet body
    Interrupt,  // Ctrl-C (0x03) outside a packet
    Ack,        // '+'
    Nack,       // '-': the last reply must be sent again
    Damaged,    // bad checksum or oversized: answer '-' so the debugger resends
  };
  Kind kind = Kind::Packet;
  std::string payload;
  bool operator==(const GdbInput&) const = default;
};

class GdbPacketParser {
 public:
  // Larger packets are refused as damaged: we announce PacketSize well below this.
  static constexpr size_t kMaxPayload = 64 * 1024;

  void feed(std::string_view bytes);
  std::optional<GdbInput> next();
  // Takes a queued interrupt out of turn (one that came right behind a resume); false if none.
  bool take_interrupt();

 private:
  enum class State { Idle, Body, Escape, Sum1, Sum2 };
  void finish(bool ok);

  State state_ = State::Idle;
  std::string body_;
  bool overflow_ = false;
  uint8_t sum_ = 0;   // running checksum of the raw body bytes
  uint8_t told_ = 0;  // the checksum the packet carries
  std::deque<GdbInput> ready_;
};

// "$payload#xx", with '$', '#', '}' and '*' escaped.
std::string gdb_frame(std::string_view payload);

std::string to_hex(const uint8_t* bytes, size_t n);
std::string to_hex(std::string_view bytes);
// Hex text to bytes; nullopt for an odd length or a non-hex digit.
std::optional<std::vector<uint8_t>> from_hex(std::string_view text);
// A hexadecimal number of at most 8 digits (no sign, no prefix); nullopt otherwise.
std::optional<uint32_t> parse_hex32(std::string_view text);

}  // namespace nuv
