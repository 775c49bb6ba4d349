// The two printers of a decoded call: JSON Lines and strace's text.
#include <charconv>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "host/base/guest_errors.h"
#include "host/base/latin1.h"
#include "host/kernel/trace.h"

namespace nuv {
namespace {

using namespace decoded;

constexpr size_t kStraceStringLimit = 48;

// Writes into room reserved beforehand (line_bound), so no character needs a check.
class Line {
 public:
  explicit Line(char* at) : at_(at) {}
  Line& operator+=(char c) {
    *at_++ = c;
    return *this;
  }
  Line& operator+=(std::string_view s) {
    std::memcpy(at_, s.data(), s.size());
    at_ += s.size();
    return *this;
  }
  // Decimal. Every line is mostly numbers, so the common 32-bit case has its own writer.
  template <typename T>
  void number(T v) {
    static_assert(std::is_integral_v<T>);
    if constexpr (std::is_signed_v<T>) {
      auto magnitude = static_cast<std::make_unsigned_t<T>>(v);
      if (v < 0) {
        *at_++ = '-';
        magnitude = static_cast<std::make_unsigned_t<T>>(0u - magnitude);
      }
      number(magnitude);
    } else if (v <= UINT32_MAX) {
      decimal(static_cast<uint32_t>(v));
    } else {
      at_ = std::to_chars(at_, at_ + 24, v).ptr;
    }
  }
  void hex(uint32_t v) { at_ = std::to_chars(at_, at_ + 8, v, 16).ptr; }
  char* end() const { return at_; }

 private:
  // Two digits a step, from a table of the hundred pairs, after counting the digits by
  // comparison alone.
  void decimal(uint32_t v) {
    static constexpr char kPairs[] =
        "0001020304050607080910111213141516171819202122232425262728293031323334353637383940414243"
        "4445464748495051525354555657585960616263646566676869707172737475767778798081828384858687"
        "888990919293949596979899";
    unsigned digits = v < 100000       ? (v < 100     ? (v < 10 ? 1 : 2)
                                          : v < 1000  ? 3
                                          : v < 10000 ? 4
                                                      : 5)
                      : v < 10000000   ? (v < 1000000 ? 6 : 7)
                      : v < 100000000  ? 8
                      : v < 1000000000 ? 9
                                       : 10;
    char* p = at_ + digits;
    at_ = p;
    while (v >= 100) {
      unsigned pair = (v % 100) * 2;
      v /= 100;
      *--p = kPairs[pair + 1];
      *--p = kPairs[pair];
    }
    if (v >= 10) {
      *--p = kPairs[v * 2 + 1];
      *--p = kPairs[v * 2];
    } else {
      *--p = static_cast<char>('0' + v);
    }
  }

  char* at_;
};

template <typename T>
void number(Line& out, T v) {
  out.number(v);
}

void hex(Line& out, uint32_t v) {
  out += "0x";
  out.hex(v);
}

constexpr char kHexDigits[] = "0123456789abcdef";

// The members of each record, named and in the order of the guest's record, for both printers.
template <typename F>
void each_member(const GuiRect& v, F&& member) {
  member("x", v.x);
  member("y", v.y);
  member("w", v.w);
  member("h", v.h);
  member("color", v.color);
}
template <typename F>
void each_member(const Text& v, F&& member) {
  member("x", v.record.x);
  member("y", v.record.y);
  member("color", v.record.color);
  member("text", v.text);
}
template <typename F>
void each_member(const GuiEvent& v, F&& member) {
  member("type", v.type);
  member("word1", v.word1);
  member("word2", v.word2);
  member("word3", v.word3);
  member("word4", v.word4);
}
template <typename F>
void each_member(const GuiSize& v, F&& member) {
  member("width", v.width);
  member("height", v.height);
}

// --- JSON ---

// The escapes JSON and strace's strings share; false for a byte that needs none of them.
bool common_escape(Line& out, uint8_t b) {
  const char* e = nullptr;
  switch (b) {
    case '"':
      e = "\\\"";
      break;
    case '\\':
      e = "\\\\";
      break;
    case '\n':
      e = "\\n";
      break;
    case '\r':
      e = "\\r";
      break;
    case '\t':
      e = "\\t";
      break;
    default:
      return false;
  }
  out += std::string_view(e, 2);
  return true;
}

// Each byte is the code point of the same value (Latin-1 read as Unicode), in UTF-8. Control
// characters, C1 (U+0080-U+009F) and DEL among them, are escaped: a trace read on a terminal
// must not drive it.
void json_string(Line& out, std::string_view bytes) {
  out += '"';
  for (char ch : bytes) {
    auto b = static_cast<uint8_t>(ch);
    if (common_escape(out, b)) continue;
    if (b < 0x20 || (b >= 0x7F && b < 0xA0)) {
      out += "\\u00";
      out += kHexDigits[b >> 4];
      out += kHexDigits[b & 15];
    } else if (b < 0x80) {
      out += ch;
    } else {
      char utf8[2];
      out += std::string_view(utf8, static_cast<size_t>(utf8_of_latin1(b, utf8) - utf8));
    }
  }
  out += '"';
}

// {key value, ...} in the order the members are given, with each printer's punctuation:
// JSON's "k":v,"k":v and strace's k=v, k=v. The punctuation is fixed at compile time, so each
// piece is a copy of known size.
struct JsonStyle {
  static constexpr std::string_view before_key = "\"", after_key = "\":", between = ",";
};
struct TextStyle {
  static constexpr std::string_view before_key = "", after_key = "=", between = ", ";
};

template <typename Style>
class Members {
 public:
  explicit Members(Line& out) : out_(out) { out_ += '{'; }
  ~Members() { out_ += '}'; }
  Line& key(std::string_view name) {
    if (!first_) out_ += Style::between;
    first_ = false;
    out_ += Style::before_key;
    out_ += name;
    out_ += Style::after_key;
    return out_;
  }
  template <typename T>
  void number(std::string_view name, T v) {
    nuv::number(key(name), v);
  }

 private:
  Line& out_;
  bool first_ = true;
};

void json_color(Line& out, const GuiColor& c) {
  out += "{\"r\":";
  out.number(c.r);
  out += ",\"g\":";
  out.number(c.g);
  out += ",\"b\":";
  out.number(c.b);
  out += '}';
}

// A string member that could not be read is null.
void json_member(Line& out, int32_t v) { number(out, v); }
void json_member(Line& out, const GuiColor& v) { json_color(out, v); }
void json_member(Line& out, const std::optional<std::string>& v) {
  if (v) {
    json_string(out, *v);
  } else {
    out += "null";
  }
}

void json_value(Line& out, const Value& value) {
  std::visit(
      [&](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, Signed> || std::is_same_v<T, Unsigned> ||
                      std::is_same_v<T, Hex>) {
          out += "null";  // a plain number is the slot itself, already in "slots"
        } else if constexpr (std::is_same_v<T, Bytes>) {
          json_string(out, v.bytes);
        } else if constexpr (std::is_same_v<T, GuiColor>) {
          json_color(out, v);
        } else if constexpr (std::is_same_v<T, NuvrelosFdPair>) {
          out += '[';
          number(out, v.read_end);
          out += ',';
          number(out, v.write_end);
          out += ']';
        } else {
          Members<JsonStyle> o(out);
          each_member(v,
                      [&](std::string_view name, const auto& m) { json_member(o.key(name), m); });
        }
      },
      value);
}

// --- strace ---

void quote(Line& out, std::string_view bytes) {
  out += '"';
  for (size_t i = 0; i < bytes.size() && i < kStraceStringLimit; ++i) {
    auto b = static_cast<uint8_t>(bytes[i]);
    if (common_escape(out, b)) continue;
    if (b >= 0x20 && b < 0x7F) {
      out += static_cast<char>(b);
    } else {
      out += "\\x";
      out += kHexDigits[b >> 4];
      out += kHexDigits[b & 15];
    }
  }
  out += '"';
  if (bytes.size() > kStraceStringLimit) out += "...";
}

void text_color(Line& out, const GuiColor& c) {
  out += '#';
  for (uint8_t part : {c.r, c.g, c.b}) {
    out += kHexDigits[part >> 4];
    out += kHexDigits[part & 15];
  }
}

// A string member that could not be read shows as "?".
void text_member(Line& out, int32_t v) { number(out, v); }
void text_member(Line& out, const GuiColor& v) { text_color(out, v); }
void text_member(Line& out, const std::optional<std::string>& v) {
  if (v) {
    quote(out, *v);
  } else {
    out += '?';
  }
}

void text_value(Line& out, const Value& value) {
  std::visit(
      [&](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, Signed> || std::is_same_v<T, Unsigned>) {
          number(out, v.value);
        } else if constexpr (std::is_same_v<T, Hex>) {
          hex(out, v.value);
        } else if constexpr (std::is_same_v<T, Bytes>) {
          quote(out, v.bytes);
        } else if constexpr (std::is_same_v<T, GuiColor>) {
          text_color(out, v);
        } else if constexpr (std::is_same_v<T, NuvrelosFdPair>) {
          out += '[';
          number(out, v.read_end);
          out += ", ";
          number(out, v.write_end);
          out += ']';
        } else {
          Members<TextStyle> r(out);
          each_member(v,
                      [&](std::string_view name, const auto& m) { text_member(r.key(name), m); });
        }
      },
      value);
}

}  // namespace

size_t line_bound(const ServiceCall& call) {
  // Numbers, names and the punctuation of the largest records, then six bytes for every byte
  // of a string (the longest JSON escape).
  size_t n = 1024;
  for (const Value& v : call.args) {
    if (const auto* b = std::get_if<Bytes>(&v)) n += 6 * b->bytes.size();
    if (const auto* t = std::get_if<Text>(&v); t && t->text) n += 6 * t->text->size();
  }
  return n;
}

char* print_json_line(char* at, const ServiceCall& call) {
  Line out(at);
  {
    Members<JsonStyle> o(out);
    o.number("seq", call.seq);
    o.number("pid", call.pid);
    o.number("number", call.number);
    if (const char* name = service_name(call.number)) {
      // Service names are plain ASCII: nothing to escape.
      Line& out_name = o.key("name");
      out_name += '"';
      out_name += name;
      out_name += '"';
    } else {
      o.key("name") += "null";
    }
    Line& slots = o.key("slots");
    slots += '[';
    for (size_t i = 0; i < 3; ++i) {
      if (i) slots += ',';
      number(slots, call.slots[i]);
    }
    slots += ']';
    Line& args = o.key("decoded");
    args += '[';
    for (size_t i = 0; i < 3; ++i) {
      if (i) args += ',';
      json_value(args, call.args[i]);
    }
    args += ']';
    o.number("result", call.result);
  }
  out += '\n';
  return out.end();
}

char* print_strace_line(char* at, const ServiceCall& call) {
  Line out(at);
  // As strace -f: once there is more than one process, each line says whose call it was.
  if (call.several) {
    out += "[pid ";
    number(out, call.pid);
    out += "] ";
  }
  const ServiceInfo* info = find_service(call.number);
  if (info) {
    out += info->name;
  } else {
    out += "unknown_";
    number(out, call.number);
  }
  out += '(';
  size_t used = info ? info->arity : 3;
  for (size_t i = 0; i < used; ++i) {
    if (i) out += ", ";
    text_value(out, call.args[i]);
  }
  // exit does not come back: strace's "?" says so.
  if (call.number == SVC_exit) {
    out += ") = ?\n";
    return out.end();
  }
  out += ") = ";
  number(out, call.result);
  if (const char* e = call.result < 0 ? err::name(call.result) : nullptr) {
    out += ' ';
    out += e;
  }
  out += '\n';
  return out.end();
}

void append_json_line(std::string& out, const ServiceCall& call) {
  size_t at = out.size();
  out.resize(at + line_bound(call));
  out.resize(static_cast<size_t>(print_json_line(out.data() + at, call) - out.data()));
}

void append_strace_line(std::string& out, const ServiceCall& call) {
  size_t at = out.size();
  out.resize(at + line_bound(call));
  out.resize(static_cast<size_t>(print_strace_line(out.data() + at, call) - out.data()));
}

}  // namespace nuv
