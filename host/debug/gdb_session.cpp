#include "host/debug/gdb_session.h"

#include <cstdio>
#include <vector>

#include "host/debug/gdb_packet.h"

namespace nuv {

namespace {

// What one 'm' reply carries at most: the PacketSize we announce holds its hex twice over.
constexpr uint32_t kMaxTransfer = 0x1000;
constexpr char kSupported[] =
    "PacketSize=4000;qXfer:features:read+;QStartNoAckMode+;vContSupported+";

std::string hex2(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02x", v & 0xFF);
  return buf;
}

// "ADDR,LEN" with an optional tail after `stop` (':' for data).
struct Range {
  uint32_t addr = 0;
  uint32_t length = 0;
  std::string_view rest;
};

std::optional<Range> parse_range(std::string_view args, char stop) {
  size_t comma = args.find(',');
  if (comma == std::string_view::npos) return std::nullopt;
  size_t end = stop ? args.find(stop, comma + 1) : args.size();
  if (end == std::string_view::npos) return std::nullopt;
  auto addr = parse_hex32(args.substr(0, comma));
  auto length = parse_hex32(args.substr(comma + 1, end - comma - 1));
  if (!addr || !length) return std::nullopt;
  Range r{*addr, *length, end < args.size() ? args.substr(end + 1) : std::string_view{}};
  return r;
}

}  // namespace

std::string GdbSession::stop_reply(const GdbStop& stop) {
  switch (stop.kind) {
    case GdbStop::Kind::Exited:
      return "W" + hex2(stop.status);
    case GdbStop::Kind::Terminated:
      return "X" + hex2(stop.signal);
    case GdbStop::Kind::Signal:
      break;
  }
  std::string s = "T" + hex2(stop.signal);
  if (stop.watch) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "watch:%x;", *stop.watch);
    s += buf;
  }
  if (stop.replaylog) s += std::string("replaylog:") + stop.replaylog + ";";
  return s;
}

std::string GdbSession::interrupted() {
  if (ended_) return stop_reply(last_);
  last_ = GdbStop{GdbStop::Kind::Signal, SIGINT};
  return stop_reply(last_);
}

std::string GdbSession::resume(bool step, int signal) {
  if (ended_) return stop_reply(last_);
  bool passes = signal != 0 && signal != SIGTRAP && signal != SIGINT;
  last_ = passes ? target_.deliver(signal) : target_.resume(step);
  ended_ = last_.kind != GdbStop::Kind::Signal;
  return stop_reply(last_);
}

std::string GdbSession::reverse(bool step) {
  if (!target_.can_reverse()) return "";
  if (ended_) return stop_reply(last_);
  if (target_.reverse_refused()) return "E01";
  last_ = target_.reverse(step);
  ended_ = last_.kind != GdbStop::Kind::Signal;
  return stop_reply(last_);
}

std::string GdbSession::read_registers() {
  std::string out;
  uint8_t buf[64];
  for (size_t i = 0; i < target_.register_count(); ++i) {
    target_.read_register(i, buf);
    out += to_hex(buf, static_cast<size_t>(target_.register_size(i)));
  }
  return out;
}

std::string GdbSession::write_registers(std::string_view hex) {
  auto bytes = from_hex(hex);
  if (!bytes) return "E01";
  size_t total = 0;
  for (size_t i = 0; i < target_.register_count(); ++i) {
    total += static_cast<size_t>(target_.register_size(i));
  }
  // gdb may send fewer registers than it knows of; never more.
  if (bytes->size() > total) return "E01";
  size_t at = 0;
  bool ok = true;
  for (size_t i = 0; i < target_.register_count(); ++i) {
    auto size = static_cast<size_t>(target_.register_size(i));
    if (at + size > bytes->size()) break;
    ok = target_.write_register(i, bytes->data() + at) && ok;
    at += size;
  }
  return ok ? "OK" : "E01";
}

std::string GdbSession::read_register(std::string_view args) {
  auto index = parse_hex32(args);
  if (!index || *index >= target_.register_count()) return "E01";
  uint8_t buf[64];
  target_.read_register(*index, buf);
  return to_hex(buf, static_cast<size_t>(target_.register_size(*index)));
}

std::string GdbSession::write_register(std::string_view args) {
  size_t eq = args.find('=');
  if (eq == std::string_view::npos) return "E01";
  auto index = parse_hex32(args.substr(0, eq));
  auto bytes = from_hex(args.substr(eq + 1));
  if (!index || !bytes || *index >= target_.register_count() ||
      bytes->size() != static_cast<size_t>(target_.register_size(*index))) {
    return "E01";
  }
  return target_.write_register(*index, bytes->data()) ? "OK" : "E01";
}

std::string GdbSession::read_memory(std::string_view args) {
  auto r = parse_range(args, 0);
  if (!r) return "E01";
  if (r->length == 0) return "";
  std::vector<uint8_t> buf(std::min(r->length, kMaxTransfer));
  size_t n = target_.read_memory(r->addr, buf.data(), buf.size());
  if (n == 0) return "E14";
  return to_hex(buf.data(), n);
}

std::string GdbSession::write_memory(std::string_view args, bool binary) {
  auto r = parse_range(args, ':');
  if (!r) return "E01";
  std::vector<uint8_t> data;
  if (binary) {
    data.assign(r->rest.begin(), r->rest.end());
  } else {
    auto bytes = from_hex(r->rest);
    if (!bytes) return "E01";
    data = std::move(*bytes);
  }
  if (data.size() != r->length) return "E01";
  if (data.empty()) return "OK";
  return target_.write_memory(r->addr, data.data(), data.size()) ? "OK" : "E14";
}

std::string GdbSession::point(std::string_view args, bool insert) {
  if (args.size() < 2 || args[1] != ',' || args[0] < '0' || args[0] > '4') return "E01";
  auto r = parse_range(args.substr(2), ';');
  if (!r) r = parse_range(args.substr(2), 0);
  if (!r) return "E01";
  int type = args[0] - '0';
  if (type > 2) return "";  // read and access watchpoints: not offered
  bool ok = insert ? target_.insert_point(type, r->addr, r->length)
                   : target_.remove_point(type, r->addr, r->length);
  return ok ? "OK" : (insert ? "E01" : "OK");
}

std::string GdbSession::query(std::string_view p) {
  if (p.starts_with("qSupported")) {
    return target_.can_reverse() ? std::string(kSupported) + ";ReverseStep+;ReverseContinue+"
                                 : kSupported;
  }
  if (p == "qAttached" || p.starts_with("qAttached:")) return "1";
  if (p == "qC") return "QC1";
  if (p == "qfThreadInfo") return "m1";
  if (p == "qsThreadInfo") return "l";
  if (p == "qSymbol::") return "OK";
  constexpr std::string_view xfer = "qXfer:features:read:target.xml:";
  if (p.starts_with(xfer)) {
    auto r = parse_range(p.substr(xfer.size()), 0);
    if (!r) return "E01";
    const std::string& xml = target_.target_xml();
    if (r->addr >= xml.size()) return "l";
    std::string chunk = xml.substr(r->addr, std::min<size_t>(r->length, kMaxTransfer));
    return (r->addr + chunk.size() >= xml.size() ? "l" : "m") + chunk;
  }
  if (p.starts_with("qXfer:")) return "E00";
  return "";
}

std::string GdbSession::v_packet(std::string_view p) {
  if (p == "vCont?") return "vCont;c;C;s;S";
  if (p.starts_with("vCont;")) {
    // One thread: the first action is the one that applies to it.
    std::string_view action = p.substr(6);
    action = action.substr(0, action.find(';'));
    action = action.substr(0, action.find(':'));
    if (action == "c") return resume(false, 0);
    if (action == "s") return resume(true, 0);
    if ((action.size() == 3) && (action[0] == 'C' || action[0] == 'S')) {
      auto signal = parse_hex32(action.substr(1));
      if (!signal) return "E01";
      return resume(action[0] == 'S', static_cast<int>(*signal));
    }
    return "E01";
  }
  if (p.starts_with("vKill")) {
    end_ = End::Killed;
    return "OK";
  }
  return "";
}

std::optional<std::string> GdbSession::handle(std::string_view p) {
  if (p.empty()) return "";
  std::string_view args = p.substr(1);
  switch (p[0]) {
    case '?':
      return stop_reply(last_);
    case 'g':
      return read_registers();
    case 'G':
      return write_registers(args);
    case 'p':
      return read_register(args);
    case 'P':
      return write_register(args);
    case 'm':
      return read_memory(args);
    case 'M':
      return write_memory(args, false);
    case 'X':
      return write_memory(args, true);
    case 'c':
    case 's':
      if (!args.empty()) {
        auto at = parse_hex32(args);
        if (!at) return "E01";
        uint32_t eip = *at;
        target_.write_register(8, reinterpret_cast<const uint8_t*>(&eip));
      }
      return resume(p[0] == 's', 0);
    case 'C':
    case 'S': {
      auto signal = parse_hex32(args.substr(0, args.find(';')));
      if (!signal) return "E01";
      return resume(p[0] == 'S', static_cast<int>(*signal));
    }
    case 'b':
      if (args == "s" || args == "c") return reverse(args == "s");
      return "";
    case 'Z':
      return point(args, true);
    case 'z':
      return point(args, false);
    case 'k':
      end_ = End::Killed;
      return std::nullopt;
    case 'D':
      end_ = End::Detached;
      return "OK";
    case 'H':
    case 'T':
      return "OK";
    case 'q':
      return query(p);
    case 'Q':
      if (p == "QStartNoAckMode") {
        no_ack_ = true;
        return "OK";
      }
      return "";
    case 'v':
      return v_packet(p);
    default:
      return "";
  }
}

}  // namespace nuv
