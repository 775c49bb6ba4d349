#include "host/debug/gdb_packet.h"

namespace nuv {

namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr char kDigits[] = "0123456789abcdef";

bool special(char c) { return c == '$' || c == '#' || c == '}' || c == '*'; }

}  // namespace

void GdbPacketParser::feed(std::string_view bytes) {
  for (char c : bytes) {
    switch (state_) {
      case State::Idle:
        if (c == '$') {
          state_ = State::Body;
          body_.clear();
          overflow_ = false;
          sum_ = 0;
        } else if (c == '\x03') {
          ready_.push_back({GdbInput::Kind::Interrupt, {}});
        } else if (c == '+') {
          ready_.push_back({GdbInput::Kind::Ack, {}});
        } else if (c == '-') {
          ready_.push_back({GdbInput::Kind::Nack, {}});
        }
        // Anything else between packets is line noise.
        break;
      case State::Body:
      case State::Escape:
        if (c == '$') {
          // A new start inside a packet: the debugger gave up on the old one.
          body_.clear();
          overflow_ = false;
          sum_ = 0;
          state_ = State::Body;
          break;
        }
        if (c == '#' && state_ == State::Body) {
          state_ = State::Sum1;
          break;
        }
        sum_ = static_cast<uint8_t>(sum_ + static_cast<uint8_t>(c));
        if (state_ == State::Body && c == '}') {
          state_ = State::Escape;
          break;
        }
        if (body_.size() >= kMaxPayload) {
          overflow_ = true;
        } else {
          body_.push_back(state_ == State::Escape ? static_cast<char>(c ^ 0x20) : c);
        }
        state_ = State::Body;
        break;
      case State::Sum1: {
        int d = hex_digit(c);
        if (d < 0) {
          finish(false);
          break;
        }
        told_ = static_cast<uint8_t>(d << 4);
        state_ = State::Sum2;
        break;
      }
      case State::Sum2: {
        int d = hex_digit(c);
        if (d < 0) {
          finish(false);
          break;
        }
        told_ = static_cast<uint8_t>(told_ | d);
        finish(told_ == sum_ && !overflow_);
        break;
      }
    }
  }
}

void GdbPacketParser::finish(bool ok) {
  if (ok) {
    ready_.push_back({GdbInput::Kind::Packet, std::move(body_)});
  } else {
    ready_.push_back({GdbInput::Kind::Damaged, {}});
  }
  body_.clear();
  state_ = State::Idle;
}

std::optional<GdbInput> GdbPacketParser::next() {
  if (ready_.empty()) return std::nullopt;
  GdbInput in = std::move(ready_.front());
  ready_.pop_front();
  return in;
}

bool GdbPacketParser::take_interrupt() {
  for (auto it = ready_.begin(); it != ready_.end(); ++it) {
    if (it->kind == GdbInput::Kind::Interrupt) {
      ready_.erase(it);
      return true;
    }
  }
  return false;
}

std::string gdb_frame(std::string_view payload) {
  std::string out = "$";
  uint8_t sum = 0;
  for (char c : payload) {
    if (special(c)) {
      out.push_back('}');
      sum = static_cast<uint8_t>(sum + '}');
      c = static_cast<char>(c ^ 0x20);
    }
    out.push_back(c);
    sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
  }
  out.push_back('#');
  out.push_back(kDigits[sum >> 4]);
  out.push_back(kDigits[sum & 15]);
  return out;
}

std::string to_hex(const uint8_t* bytes, size_t n) {
  std::string out;
  out.reserve(n * 2);
  for (size_t i = 0; i < n; ++i) {
    out.push_back(kDigits[bytes[i] >> 4]);
    out.push_back(kDigits[bytes[i] & 15]);
  }
  return out;
}

std::string to_hex(std::string_view bytes) {
  return to_hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::optional<std::vector<uint8_t>> from_hex(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> out;
  out.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    int hi = hex_digit(text[i]), lo = hex_digit(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<uint8_t>(hi << 4 | lo));
  }
  return out;
}

std::optional<uint32_t> parse_hex32(std::string_view text) {
  if (text.empty() || text.size() > 8) return std::nullopt;
  uint32_t v = 0;
  for (char c : text) {
    int d = hex_digit(c);
    if (d < 0) return std::nullopt;
    v = v << 4 | static_cast<uint32_t>(d);
  }
  return v;
}

}  // namespace nuv
