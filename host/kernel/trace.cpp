#include "host/kernel/trace.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <vector>

#include "host/abi/errors.h"

namespace nuv {
namespace {

using nlohmann::json;

constexpr size_t kMaxShownString = 4096;
constexpr size_t kMaxShownBytes = 4096;
constexpr size_t kStraceStringLimit = 48;

std::string latin1(const std::vector<uint8_t>& bytes) {
  std::string out;
  for (uint8_t b : bytes) {
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
    } else {
      out.push_back(static_cast<char>(0xC0 | (b >> 6)));
      out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
    }
  }
  return out;
}

std::vector<uint8_t> from_latin1(const std::string& s) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < s.size(); ++i) {
    auto c = static_cast<uint8_t>(s[i]);
    if (c >= 0xC0 && i + 1 < s.size()) {
      out.push_back(
          static_cast<uint8_t>(((c & 0x03) << 6) | (static_cast<uint8_t>(s[++i]) & 0x3F)));
    } else {
      out.push_back(c);
    }
  }
  return out;
}

json bytes_at(const GuestMemory& m, uint32_t addr, size_t size) {
  std::vector<uint8_t> bytes(std::min(size, kMaxShownBytes));
  if (!m.copy_in(addr, bytes.data(), bytes.size())) return nullptr;
  return latin1(bytes);
}

json string_at(const GuestMemory& m, uint32_t addr) {
  auto s = m.read_string(addr, kMaxShownString);
  if (!s) return nullptr;
  return latin1(std::vector<uint8_t>(s->begin(), s->end()));
}

template <size_t N>
bool words_at(const GuestMemory& m, uint32_t addr, int32_t (&w)[N]) {
  return m.copy_in(addr, w, sizeof w);
}

json color_of(uint32_t packed) {
  return json{{"r", packed & 0xFF}, {"g", (packed >> 8) & 0xFF}, {"b", (packed >> 16) & 0xFF}};
}

json record_before(const GuestMemory& m, Shape shape, const ServiceCall& c, size_t i) {
  uint32_t v = c.slots[i];
  switch (shape) {
    case Shape::STR:
      return string_at(m, v);
    case Shape::BUF_IN:
      return bytes_at(m, v, c.slots[2]);
    case Shape::COLOR: {
      int32_t w[1];
      return words_at(m, v, w) ? color_of(static_cast<uint32_t>(w[0])) : json();
    }
    case Shape::RECT: {
      int32_t w[5];
      if (!words_at(m, v, w)) return nullptr;
      return json{{"x", w[0]},
                  {"y", w[1]},
                  {"w", w[2]},
                  {"h", w[3]},
                  {"color", color_of(static_cast<uint32_t>(w[4]))}};
    }
    case Shape::TEXT: {
      int32_t w[4];
      if (!words_at(m, v, w)) return nullptr;
      return json{{"x", w[0]},
                  {"y", w[1]},
                  {"color", color_of(static_cast<uint32_t>(w[2]))},
                  {"text", string_at(m, static_cast<uint32_t>(w[3]))}};
    }
    default:
      return nullptr;
  }
}

json record_after(const GuestMemory& m, Shape shape, const ServiceCall& c, size_t i) {
  uint32_t v = c.slots[i];
  if (c.result < 0) return nullptr;
  switch (shape) {
    case Shape::BUF_OUT:
      // getcwd fills a string; read fills result bytes.
      if (i == 0) return string_at(m, v);
      return c.result > 0 ? bytes_at(m, v, static_cast<size_t>(c.result)) : json("");
    case Shape::EVENT: {
      int32_t w[5];
      if (c.result <= 0 || !words_at(m, v, w)) return nullptr;
      return json{
          {"type", w[0]}, {"word1", w[1]}, {"word2", w[2]}, {"word3", w[3]}, {"word4", w[4]}};
    }
    case Shape::SIZE: {
      int32_t w[2];
      if (!words_at(m, v, w)) return nullptr;
      return json{{"width", w[0]}, {"height", w[1]}};
    }
    case Shape::FDPAIR: {
      int32_t w[2];
      if (!words_at(m, v, w)) return nullptr;
      return json::array({w[0], w[1]});
    }
    default:
      return nullptr;
  }
}

void quote(std::string& out, const std::vector<uint8_t>& bytes, size_t limit) {
  out += '"';
  for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
    uint8_t b = bytes[i];
    switch (b) {
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        if (b >= 0x20 && b < 0x7F) {
          out += static_cast<char>(b);
        } else {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02x", b);
          out += hex;
        }
    }
  }
  out += '"';
  if (bytes.size() > limit) out += "...";
}

std::string hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%" PRIx32, v);
  return buf;
}

std::string color_text(const json& c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c["r"].get<unsigned>(), c["g"].get<unsigned>(),
                c["b"].get<unsigned>());
  return buf;
}

std::string record_text(const json& d) {
  if (d.is_null()) return "?";
  if (d.is_string()) {
    std::string out;
    quote(out, from_latin1(d.get<std::string>()), kStraceStringLimit);
    return out;
  }
  if (d.is_array()) return "[" + d[0].dump() + ", " + d[1].dump() + "]";
  if (!d.is_object()) return d.dump();
  if (d.size() == 3 && d.contains("r") && d.contains("g") && d.contains("b")) return color_text(d);
  // Members in the order of the guest's record, not the JSON object's alphabetical one.
  static const char* const kRecordOrder[] = {"type",   "word1", "word2", "word3", "word4",
                                             "x",      "y",     "w",     "h",     "width",
                                             "height", "color", "text"};
  std::string out = "{";
  bool first = true;
  auto member = [&](const std::string& key, const json& value) {
    if (!first) out += ", ";
    first = false;
    out += key + "=";
    out += key == "color" ? color_text(value) : record_text(value);
  };
  for (const char* key : kRecordOrder) {
    if (d.contains(key)) member(key, d[key]);
  }
  for (const auto& [key, value] : d.items()) {
    if (std::find(std::begin(kRecordOrder), std::end(kRecordOrder), key) ==
        std::end(kRecordOrder)) {
      member(key, value);
    }
  }
  return out + "}";
}

}  // namespace

void decode_arguments(const GuestMemory& memory, const ServiceInfo* info, ServiceCall& call) {
  call.detail = json::array({nullptr, nullptr, nullptr});
  if (info == nullptr) return;
  for (size_t i = 0; i < 3; ++i) call.detail[i] = record_before(memory, info->shapes[i], call, i);
}

void decode_results(const GuestMemory& memory, const ServiceInfo* info, ServiceCall& call) {
  if (info == nullptr) return;
  for (size_t i = 0; i < 3; ++i) {
    json after = record_after(memory, info->shapes[i], call, i);
    if (!after.is_null()) call.detail[i] = std::move(after);
  }
}

const char* service_name(uint32_t number) {
  const ServiceInfo* info = find_service(number);
  return info ? info->name : nullptr;
}

json trace_json(const ServiceCall& call) {
  const char* name = service_name(call.number);
  return json{
      {"seq", call.seq},
      {"number", call.number},
      {"name", name ? json(name) : json(nullptr)},
      {"slots", json::array({call.slots[0], call.slots[1], call.slots[2]})},
      {"decoded", call.detail.is_array() ? call.detail : json::array({nullptr, nullptr, nullptr})},
      {"result", call.result}};
}

std::string trace_text(const ServiceCall& call) {
  const ServiceInfo* info = find_service(call.number);
  std::string out = info ? info->name : "unknown_" + std::to_string(call.number);
  out += '(';
  size_t used = 3;
  if (info) {
    while (used > 0 && info->shapes[used - 1] == Shape::NONE) --used;
  }
  for (size_t i = 0; i < used; ++i) {
    if (i) out += ", ";
    Shape shape = info ? info->shapes[i] : Shape::HEX;
    const json* d = call.detail.is_array() ? &call.detail[i] : nullptr;
    uint32_t v = call.slots[i];
    if (d && !d->is_null()) {
      out += record_text(*d);
      continue;
    }
    switch (shape) {
      case Shape::INT:
      case Shape::FD:
      case Shape::FLAG:
        out += std::to_string(static_cast<int32_t>(v));
        break;
      case Shape::COUNT:
      case Shape::USEC:
        out += std::to_string(v);
        break;
      default:
        out += hex(v);
    }
  }
  // exit does not come back: strace's "?" says so.
  out += call.number == SVC_exit ? ") = ?" : ") = " + std::to_string(call.result);
  if (const char* e = call.result < 0 ? err::name(call.result) : nullptr) {
    out += ' ';
    out += e;
  }
  return out;
}

CallObserver json_lines_writer(std::ostream& out) {
  return [&out](const ServiceCall& call) { out << trace_json(call).dump() << '\n'; };
}

CallObserver strace_writer(std::FILE* out) {
  return [out](const ServiceCall& call) {
    std::string line = trace_text(call) + "\n";
    std::fwrite(line.data(), 1, line.size(), out);
  };
}

}  // namespace nuv
