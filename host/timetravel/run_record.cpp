#include "host/timetravel/run_record.h"

#include <cstring>

namespace nuv {
namespace {

enum Kind : uint8_t { kHeader = 1, kCall = 2, kRdtsc = 3, kEnd = 4, kProgram = 5 };

// More than any program the runner would load (its memory limit is 4 GiB, far beyond a
// record's use): a length beyond it is damage, not a reason to allocate.
constexpr uint32_t kMaxString = 1u << 30;
// The causes a recorded stop may have (host/base/run_stop.h: Limit to Diverged).
constexpr uint8_t kLastStopCause = 5;

class Writer {
 public:
  explicit Writer(std::string& out) : out_(out) {}
  void u8(uint8_t v) { out_.push_back(static_cast<char>(v)); }
  void u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) u8(static_cast<uint8_t>(v >> (8 * i)));
  }
  void u64(uint64_t v) {
    for (int i = 0; i < 8; ++i) u8(static_cast<uint8_t>(v >> (8 * i)));
  }
  void bytes(const void* p, size_t n) {
    u32(static_cast<uint32_t>(n));
    out_.append(static_cast<const char*>(p), n);
  }
  void str(std::string_view s) { bytes(s.data(), s.size()); }

 private:
  std::string& out_;
};

// Frames one record: its length is known once the body is written.
template <typename Body>
void record(std::string& out, Kind kind, Body&& body) {
  size_t at = out.size();
  out.append(4, '\0');
  Writer w(out);
  w.u8(kind);
  body(w);
  uint32_t length = static_cast<uint32_t>(out.size() - at - 4 - 1);
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>(length >> (8 * i));
}

class Reader {
 public:
  Reader(std::string_view bytes, size_t base) : bytes_(bytes), base_(base) {}
  bool done() const { return at_ == bytes_.size(); }
  uint8_t u8() {
    need(1, "a byte");
    return static_cast<uint8_t>(bytes_[at_++]);
  }
  uint32_t u32() {
    need(4, "a 32-bit number");
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t{static_cast<uint8_t>(bytes_[at_++])} << (8 * i);
    return v;
  }
  uint64_t u64() {
    uint64_t low = u32();
    return low | uint64_t{u32()} << 32;
  }
  std::string_view span(const char* what) {
    uint32_t n = u32();
    if (n > kMaxString) fail(std::string("an impossible length for ") + what);
    need(n, what);
    std::string_view s = bytes_.substr(at_, n);
    at_ += n;
    return s;
  }
  std::string str(const char* what) { return std::string(span(what)); }
  std::vector<uint8_t> blob(const char* what) {
    std::string_view s = span(what);
    return std::vector<uint8_t>(s.begin(), s.end());
  }
  [[noreturn]] void fail(const std::string& what) const {
    throw RunRecordError(what + " at byte " + std::to_string(base_ + at_));
  }

 private:
  void need(size_t n, const char* what) const {
    if (bytes_.size() - at_ < n) fail(std::string("truncated: ") + what + " is cut short");
  }
  std::string_view bytes_;
  size_t base_;
  size_t at_ = 0;
};

}  // namespace

std::string encode_preamble() {
  std::string out(kRunRecordMagic, sizeof kRunRecordMagic);
  Writer(out).u32(kRunRecordVersion);
  return out;
}

void encode_header(const RunHeader& h, std::string& out) {
  record(out, kHeader, [&](Writer& w) {
    w.str(h.executable);
    w.bytes(h.program.data(), h.program.size());
    w.u32(static_cast<uint32_t>(h.args.size()));
    for (const std::string& a : h.args) w.str(a);
    w.u64(h.memory_limit);
    w.u32(static_cast<uint32_t>(h.width));
    w.u32(static_cast<uint32_t>(h.height));
    w.u32(h.frame_limit);
    w.u8(h.window ? 1 : 0);
  });
}

void encode_call(const RecordedCall& c, const std::vector<StoreView>& stores, std::string& out) {
  record(out, kCall, [&](Writer& w) {
    w.u32(c.pid);
    w.u32(c.number);
    for (uint32_t s : c.slots) w.u32(s);
    w.u64(c.digest);
    w.u32(static_cast<uint32_t>(c.result));
    w.u8(c.flags);
    w.u32(static_cast<uint32_t>(stores.size()));
    for (const StoreView& s : stores) {
      w.u32(s.address);
      w.bytes(s.data, s.size);
    }
  });
}

void encode_event(const RunEvent& event, std::string& out) {
  if (const auto* c = std::get_if<RecordedCall>(&event)) {
    std::vector<StoreView> stores;
    for (const RecordedStore& s : c->stores)
      stores.push_back({s.address, s.bytes.data(), s.bytes.size()});
    encode_call(*c, stores, out);
  } else if (const auto* r = std::get_if<RecordedRdtsc>(&event)) {
    record(out, kRdtsc, [&](Writer& w) {
      w.u64(r->value);
      w.u32(r->pid);
    });
  } else if (const auto* p = std::get_if<RecordedProgram>(&event)) {
    record(out, kProgram, [&](Writer& w) {
      w.str(p->path);
      w.bytes(p->bytes.data(), p->bytes.size());
    });
  } else {
    const auto& e = std::get<RecordedEnd>(event);
    record(out, kEnd, [&](Writer& w) {
      w.u8(e.cause);
      w.u32(static_cast<uint32_t>(e.signal));
      w.str(e.message);
    });
  }
}

RunRecord decode_run_record(std::string_view bytes) {
  constexpr size_t kPreamble = sizeof kRunRecordMagic + 4;
  if (bytes.size() < sizeof kRunRecordMagic ||
      std::memcmp(bytes.data(), kRunRecordMagic, sizeof kRunRecordMagic) != 0) {
    throw RunRecordError("not a run record (it does not start with NUVRUN)");
  }
  Reader top(bytes.substr(0, kPreamble), 0);
  if (bytes.size() < kPreamble) top.fail("truncated: the version is cut short");
  for (size_t i = 0; i < sizeof kRunRecordMagic; ++i) top.u8();
  uint32_t version = top.u32();
  if (version != kRunRecordVersion) {
    throw RunRecordError("a run record of version " + std::to_string(version) +
                         ", which this runner does not read (it reads version " +
                         std::to_string(kRunRecordVersion) + ")");
  }
  RunRecord out;
  bool have_header = false, ended = false;
  size_t at = kPreamble;
  while (at < bytes.size()) {
    Reader frame(bytes.substr(at), at);
    uint32_t length = frame.u32();
    uint8_t kind = frame.u8();
    if (bytes.size() - at - 5 < length) frame.fail("truncated: a record is cut short");
    Reader r(bytes.substr(at + 5, length), at + 5);
    if (kind < kHeader || kind > kProgram)
      frame.fail("a record of unknown kind " + std::to_string(kind));
    if ((kind == kHeader) == have_header) {
      r.fail(have_header ? "a second header" : "a record before the header");
    }
    if (ended) r.fail("a record after the end record");
    switch (kind) {
      case kHeader: {
        RunHeader& h = out.header;
        h.executable = r.str("the executable's path");
        h.program = r.blob("the executable");
        uint32_t n = r.u32();
        if (n > length / 4) r.fail("an impossible argument count");
        for (uint32_t i = 0; i < n; ++i) h.args.push_back(r.str("an argument"));
        h.memory_limit = r.u64();
        h.width = static_cast<int32_t>(r.u32());
        h.height = static_cast<int32_t>(r.u32());
        h.frame_limit = r.u32();
        uint8_t window = r.u8();
        if (window > 1) r.fail("a header whose window flag is neither 0 nor 1");
        h.window = window == 1;
        if (h.args.empty()) r.fail("a header without arguments");
        have_header = true;
        break;
      }
      case kCall: {
        RecordedCall c;
        c.pid = r.u32();
        c.number = r.u32();
        for (uint32_t& s : c.slots) s = r.u32();
        c.digest = r.u64();
        c.result = static_cast<int32_t>(r.u32());
        c.flags = r.u8();
        uint32_t n = r.u32();
        if (n > length / 8) r.fail("an impossible count of stores");
        for (uint32_t i = 0; i < n; ++i) {
          RecordedStore s;
          s.address = r.u32();
          s.bytes = r.blob("stored bytes");
          c.stores.push_back(std::move(s));
        }
        out.events.emplace_back(std::move(c));
        break;
      }
      case kRdtsc: {
        RecordedRdtsc t;
        t.value = r.u64();
        t.pid = r.u32();
        out.events.emplace_back(t);
        break;
      }
      case kProgram: {
        const auto* spawn =
            out.events.empty() ? nullptr : std::get_if<RecordedCall>(&out.events.back());
        if (spawn == nullptr || spawn->result <= 0) r.fail("a program not after a spawn");
        RecordedProgram p;
        p.path = r.str("the program's path");
        p.bytes = r.blob("the program");
        out.events.emplace_back(std::move(p));
        break;
      }
      case kEnd: {
        RecordedEnd e;
        e.cause = r.u8();
        if (e.cause > kLastStopCause) r.fail("an end of unknown cause");
        e.signal = static_cast<int32_t>(r.u32());
        e.message = r.str("the end's message");
        out.events.emplace_back(std::move(e));
        ended = true;
        break;
      }
      default:
        frame.fail("a record of unknown kind " + std::to_string(kind));
    }
    if (!r.done()) r.fail("a record longer than its contents");
    at += 5 + size_t{length};
  }
  if (!have_header) throw RunRecordError("truncated: the record has no header");
  return out;
}

}  // namespace nuv
