#include "host/kernel/trace.h"

#include <algorithm>
#include <stdexcept>

namespace nuv {
namespace {

using namespace decoded;

constexpr size_t kMaxShownString = 4096;
constexpr size_t kMaxShownBytes = 4096;

Value number_of(Shape shape, uint32_t v) {
  switch (shape) {
    case Shape::INT:
    case Shape::FD:
    case Shape::FLAG:
      return Signed{static_cast<int32_t>(v)};
    case Shape::COUNT:
    case Shape::USEC:
      return Unsigned{v};
    default:
      return Hex{v};
  }
}

std::optional<std::string> string_at(const GuestMemory& m, uint32_t addr) {
  return m.read_string(addr, kMaxShownString);
}

std::optional<Value> bytes_at(const GuestMemory& m, uint32_t addr, size_t size) {
  std::string bytes(std::min(size, kMaxShownBytes), '\0');
  if (!m.copy_in(addr, bytes.data(), bytes.size())) return std::nullopt;
  return Bytes{std::move(bytes)};
}

template <size_t N>
bool words_at(const GuestMemory& m, uint32_t addr, int32_t (&w)[N]) {
  return m.copy_in(addr, w, sizeof w);
}

Color color_of(int32_t word) {
  auto packed = static_cast<uint32_t>(word);
  return Color{static_cast<uint8_t>(packed), static_cast<uint8_t>(packed >> 8),
               static_cast<uint8_t>(packed >> 16)};
}

std::optional<Value> before(const GuestMemory& m, Shape shape, const ServiceCall& c, size_t i) {
  uint32_t v = c.slots[i];
  switch (shape) {
    case Shape::STR:
      if (auto s = string_at(m, v)) return Bytes{std::move(*s)};
      return std::nullopt;
    case Shape::BUF_IN:
      return bytes_at(m, v, c.slots[2]);
    case Shape::COLOR: {
      int32_t w[1];
      if (!words_at(m, v, w)) return std::nullopt;
      return color_of(w[0]);
    }
    case Shape::RECT: {
      int32_t w[5];
      if (!words_at(m, v, w)) return std::nullopt;
      return Rect{w[0], w[1], w[2], w[3], color_of(w[4])};
    }
    case Shape::TEXT: {
      int32_t w[4];
      if (!words_at(m, v, w)) return std::nullopt;
      return Text{w[0], w[1], color_of(w[2]), string_at(m, static_cast<uint32_t>(w[3]))};
    }
    default:
      return std::nullopt;
  }
}

std::optional<Value> after(const GuestMemory& m, Shape shape, const ServiceCall& c, size_t i) {
  uint32_t v = c.slots[i];
  if (c.result < 0) return std::nullopt;
  switch (shape) {
    case Shape::BUF_OUT:
      // getcwd fills a string; read fills result bytes.
      if (i == 0) {
        if (auto s = string_at(m, v)) return Bytes{std::move(*s)};
        return std::nullopt;
      }
      if (c.result == 0) return Bytes{};
      return bytes_at(m, v, static_cast<size_t>(c.result));
    case Shape::EVENT: {
      int32_t w[5];
      if (c.result <= 0 || !words_at(m, v, w)) return std::nullopt;
      return Event{w[0], w[1], w[2], w[3], w[4]};
    }
    case Shape::SIZE: {
      int32_t w[2];
      if (!words_at(m, v, w)) return std::nullopt;
      return Size{w[0], w[1]};
    }
    case Shape::FDPAIR: {
      int32_t w[2];
      if (!words_at(m, v, w)) return std::nullopt;
      return FdPair{w[0], w[1]};
    }
    default:
      return std::nullopt;
  }
}

}  // namespace

void decode_arguments(const GuestMemory& memory, const ServiceInfo* info, ServiceCall& call) {
  for (size_t i = 0; i < 3; ++i) {
    Shape shape = info ? info->shapes[i] : Shape::HEX;
    std::optional<Value> v = info ? before(memory, shape, call, i) : std::nullopt;
    call.args[i] = v ? std::move(*v) : number_of(shape, call.slots[i]);
  }
}

void decode_results(const GuestMemory& memory, const ServiceInfo* info, ServiceCall& call) {
  if (info == nullptr) return;
  for (size_t i = 0; i < 3; ++i) {
    if (auto v = after(memory, info->shapes[i], call, i)) call.args[i] = std::move(*v);
  }
}

const char* service_name(uint32_t number) {
  const ServiceInfo* info = find_service(number);
  return info ? info->name : nullptr;
}

TraceFilter TraceFilter::parse(std::string_view list) {
  TraceFilter f;
  if (list.empty()) return f;
  bool only = false;
  std::vector<uint32_t> kept, dropped;
  for (;;) {
    size_t comma = list.find(',');
    std::string_view item = list.substr(0, comma);
    bool drop = item.starts_with('!');
    if (drop) item.remove_prefix(1);
    auto services = all_services();
    auto it = std::find_if(services.begin(), services.end(),
                           [&](const ServiceInfo& s) { return item == s.name; });
    if (it == services.end()) {
      throw std::invalid_argument("no service is called '" + std::string(item) + "'");
    }
    (drop ? dropped : kept).push_back(it->number);
    only = only || !drop;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  if (only) {
    f.shown_.assign(kTableSize, false);
    f.others_ = false;
    for (uint32_t n : kept) f.shown_[n] = true;
  }
  for (uint32_t n : dropped) f.shown_[n] = false;
  return f;
}

CallObserver trace_writer(std::FILE* out, TraceFormat format, TraceFilter filter,
                          bool flush_lines) {
  auto print = format == TraceFormat::JsonLines ? append_json_line : append_strace_line;
  return [out, print, filter = std::move(filter), flush_lines,
          line = std::string()](const ServiceCall& call) mutable {
    if (!filter.shows(call.number)) return;
    line.clear();
    print(line, call);
    std::fwrite(line.data(), 1, line.size(), out);
    if (flush_lines) std::fflush(out);
  };
}

}  // namespace nuv
