#include "host/kernel/trace.h"

#include <algorithm>
#include <stdexcept>

namespace nuv {
namespace {

using namespace decoded;

constexpr size_t kMaxShownString = 4096;
constexpr size_t kMaxShownBytes = 4096;

// Stored in place: assigning a whole Value would visit both sides on every call.
void set_number(Shape shape, uint32_t v, Value& out) {
  switch (shape) {
    case Shape::INT:
    case Shape::FD:
    case Shape::FLAG:
      out.emplace<Signed>(Signed{static_cast<int32_t>(v)});
      break;
    case Shape::COUNT:
    case Shape::USEC:
      out.emplace<Unsigned>(Unsigned{v});
      break;
    default:
      out.emplace<Hex>(Hex{v});
  }
}

// The decoders store into the call's own value: no temporary to move.
bool string_at(const GuestMemory& m, uint32_t addr, Value& out) {
  auto s = m.read_string(addr, kMaxShownString);
  if (!s) return false;
  out.emplace<Bytes>(Bytes{std::move(*s)});
  return true;
}

bool bytes_at(const GuestMemory& m, uint32_t addr, size_t size, Value& out) {
  std::string bytes(std::min(size, kMaxShownBytes), '\0');
  if (!m.copy_in(addr, bytes.data(), bytes.size())) return false;
  out.emplace<Bytes>(Bytes{std::move(bytes)});
  return true;
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

bool before(const GuestMemory& m, Shape shape, const ServiceCall& c, size_t i, Value& out) {
  uint32_t v = c.slots[i];
  switch (shape) {
    case Shape::STR:
      return string_at(m, v, out);
    case Shape::BUF_IN:
      return bytes_at(m, v, c.slots[2], out);
    case Shape::COLOR: {
      int32_t w[1];
      if (!words_at(m, v, w)) return false;
      out.emplace<Color>(color_of(w[0]));
      return true;
    }
    case Shape::RECT: {
      int32_t w[5];
      if (!words_at(m, v, w)) return false;
      out.emplace<Rect>(Rect{w[0], w[1], w[2], w[3], color_of(w[4])});
      return true;
    }
    case Shape::TEXT: {
      int32_t w[4];
      if (!words_at(m, v, w)) return false;
      out.emplace<Text>(Text{w[0], w[1], color_of(w[2]),
                             m.read_string(static_cast<uint32_t>(w[3]), kMaxShownString)});
      return true;
    }
    default:
      return false;
  }
}

bool after(const GuestMemory& m, Shape shape, const ServiceCall& c, size_t i, Value& out) {
  uint32_t v = c.slots[i];
  if (c.result < 0) return false;
  switch (shape) {
    case Shape::BUF_OUT:
      // getcwd fills a string; read fills result bytes.
      if (i == 0) return string_at(m, v, out);
      if (c.result == 0) {
        out.emplace<Bytes>();
        return true;
      }
      return bytes_at(m, v, static_cast<size_t>(c.result), out);
    case Shape::EVENT: {
      int32_t w[5];
      if (c.result <= 0 || !words_at(m, v, w)) return false;
      out.emplace<Event>(Event{w[0], w[1], w[2], w[3], w[4]});
      return true;
    }
    case Shape::SIZE: {
      int32_t w[2];
      if (!words_at(m, v, w)) return false;
      out.emplace<Size>(Size{w[0], w[1]});
      return true;
    }
    case Shape::FDPAIR: {
      int32_t w[2];
      if (!words_at(m, v, w)) return false;
      out.emplace<FdPair>(FdPair{w[0], w[1]});
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

void decode_arguments(const GuestMemory& memory, const ServiceInfo* info, ServiceCall& call) {
  for (size_t i = 0; i < 3; ++i) {
    Shape shape = info ? info->shapes[i] : Shape::HEX;
    if (!info || !before(memory, shape, call, i, call.args[i])) {
      set_number(shape, call.slots[i], call.args[i]);
    }
  }
}

void decode_results(const GuestMemory& memory, const ServiceInfo* info, ServiceCall& call) {
  if (info == nullptr) return;
  for (size_t i = 0; i < 3; ++i) after(memory, info->shapes[i], call, i, call.args[i]);
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
  auto print = format == TraceFormat::JsonLines ? print_json_line : print_strace_line;
  return [out, print, filter = std::move(filter), flush_lines,
          line = std::vector<char>()](const ServiceCall& call) mutable {
    if (!filter.shows(call.number)) return;
    size_t room = line_bound(call);
    if (line.size() < room) line.resize(room);
    char* end = print(line.data(), call);
    // One thread writes the trace: the stream's lock would only cost.
    fwrite_unlocked(line.data(), 1, static_cast<size_t>(end - line.data()), out);
    if (flush_lines) std::fflush(out);
  };
}

}  // namespace nuv
