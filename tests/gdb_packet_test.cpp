// The remote protocol without a socket: framing of any byte stream, and the answers of the
// command layer against a stand-in target.
#include "host/debug/gdb_packet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "host/debug/gdb_session.h"

namespace nuv::test {
namespace {

using gdb::Input;
using Kind = gdb::Input::Kind;

std::vector<Input> parse(const std::string& bytes) {
  gdb::PacketParser p;
  p.feed(bytes);
  std::vector<Input> out;
  while (auto in = p.next()) out.push_back(*in);
  return out;
}

TEST(GdbPacket, FramingOfEveryKindOfInput) {
  struct Case {
    std::string name;
    std::string bytes;
    std::vector<Input> expected;
  };
  const Case cases[] = {
      {"a packet", "$g#67", {{Kind::Packet, "g"}}},
      {"an empty packet", "$#00", {{Kind::Packet, ""}}},
      {"upper-case checksum digits", "$qC#B4", {{Kind::Packet, "qC"}}},
      {"escaped bytes come out plain", "$X0,1:}]#f9", {{Kind::Packet, "X0,1:}"}}},
      {"what frame() escapes comes back", gdb::frame("$#}*\xff"), {{Kind::Packet, "$#}*\xff"}}},
      {"acknowledgements and an interrupt",
       "+-\x03",
       {{Kind::Ack}, {Kind::Nack}, {Kind::Interrupt}}},
      {"a wrong checksum", "$g#68", {{Kind::Damaged}}},
      {"a checksum that is not hex", "$g#6x", {{Kind::Damaged}}},
      {"noise between packets is ignored", "abc$g#67xyz", {{Kind::Packet, "g"}}},
      {"a new start abandons a half packet", "$m0,4$g#67", {{Kind::Packet, "g"}}},
      {"a truncated packet gives nothing yet", "$m1000,4#", {}},
      {"a Ctrl-C inside a packet is a body byte", "$a\x03#64", {{Kind::Packet, "a\x03"}}},
      {"two packets in one read", "$g#67$?#3f", {{Kind::Packet, "g"}, {Kind::Packet, "?"}}},
      {"a packet longer than any may be is damaged, not kept",
       gdb::frame(std::string(gdb::PacketParser::kMaxPayload + 10, 'a')) + "$g#67",
       {{Kind::Damaged}, {Kind::Packet, "g"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(parse(c.bytes), c.expected);
  }
}

TEST(GdbPacket, HexHelpersRefuseWhatIsNotHex) {
  struct Case {
    std::string text;
    std::optional<uint32_t> value;
  };
  for (const Case& c : {Case{"0", 0u}, Case{"ffffffff", 0xFFFFFFFFu}, Case{"8048000", 0x8048000u},
                        Case{"", std::nullopt}, Case{"123456789", std::nullopt},
                        Case{"-1", std::nullopt}, Case{"0x10", std::nullopt}}) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(gdb::parse_hex32(c.text), c.value);
  }
  EXPECT_FALSE(gdb::from_hex("abc").has_value());
  EXPECT_FALSE(gdb::from_hex("zz").has_value());
  EXPECT_EQ(gdb::from_hex("00ff7f"), (std::vector<uint8_t>{0, 255, 127}));
}

// Sixteen 4-byte registers and 4 KiB of memory at 0x1000; resumes stop with a breakpoint.
class FakeTarget : public gdb::Target {
 public:
  uint32_t regs[16] = {};
  uint8_t mem[4096] = {};
  std::map<uint32_t, int> points;
  int resumes = 0;
  std::string xml = std::string(3000, 'x') + "END";

  size_t register_count() const override { return 16; }
  int register_size(size_t) const override { return 4; }
  void read_register(size_t i, uint8_t* out) override { std::memcpy(out, &regs[i], 4); }
  bool write_register(size_t i, const uint8_t* in) override {
    if (i == 10) return false;  // a register the CPU refuses
    std::memcpy(&regs[i], in, 4);
    return true;
  }
  size_t read_memory(uint32_t addr, uint8_t* out, size_t n) override {
    if (addr < 0x1000 || addr >= 0x2000) return 0;
    n = std::min<size_t>(n, 0x2000 - addr);
    std::memcpy(out, mem + (addr - 0x1000), n);
    return n;
  }
  bool write_memory(uint32_t addr, const uint8_t* in, size_t n) override {
    if (addr < 0x1000 || uint64_t{addr} + n > 0x2000) return false;
    std::memcpy(mem + (addr - 0x1000), in, n);
    return true;
  }
  bool insert_point(int type, uint32_t addr, uint32_t) override {
    if (type == 2) return false;
    points[addr] = type;
    return true;
  }
  bool remove_point(int, uint32_t addr, uint32_t) override { return points.erase(addr) > 0; }
  gdb::Stop resume(bool) override {
    ++resumes;
    if (resumes == 3) return gdb::Stop{gdb::Stop::Kind::Exited, 0, 7};
    return gdb::Stop{};
  }
  gdb::Stop deliver(int signal) override { return gdb::Stop{gdb::Stop::Kind::Terminated, signal}; }
  const std::string& target_xml() const override { return xml; }
};

TEST(GdbSession, AnswersEachCommand) {
  FakeTarget t;
  t.regs[0] = 0x11223344;
  t.mem[0] = 0xAB;
  t.mem[1] = 0xCD;
  gdb::Session s(t);
  struct Case {
    std::string packet;
    std::string reply;
  };
  const Case cases[] = {
      {"?", "T05"},
      {"p0", "44332211"},
      {"p10", "E01"},
      {"pzz", "E01"},
      {"P1=78563412", "OK"},
      {"p1", "78563412"},
      {"Pa=00000000", "E01"},
      {"P1=12", "E01"},
      {"m1000,2", "abcd"},
      {"m1ffe,10", "0000"},
      {"m0,4", "E14"},
      {"m1000", "E01"},
      {"m1000,0", ""},
      {"M1002,2:beef", "OK"},
      {"m1002,2", "beef"},
      {"M1002,2:be", "E01"},
      {"M3000,1:00", "E14"},
      {"X1004,2:xy", "OK"},
      {"m1004,2", "7879"},
      {"Z0,1000,1", "OK"},
      {"z0,1000,1", "OK"},
      {"Z2,1000,4", "E01"},
      {"Z3,1000,4", ""},
      {"Z9,1000,4", "E01"},
      {"qXfer:features:read:target.xml:0,5", "mxxxxx"},
      {"qXfer:features:read:target.xml:bb8,100", "lEND"},
      {"qXfer:features:read:target.xml:ffff,10", "l"},
      {"qXfer:features:read:other.xml:0,10", "E00"},
      {"vMustReplyEmpty", ""},
      {"Hg0", "OK"},
      {"jUnknownPacket", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.packet);
    EXPECT_EQ(s.handle(c.packet), c.reply);
  }
}

TEST(GdbSession, RunsStopsExitsAndEnds) {
  FakeTarget t;
  gdb::Session s(t);
  EXPECT_EQ(s.handle("c"), "T05");
  EXPECT_EQ(s.handle("vCont;s:1"), "T05");
  EXPECT_EQ(s.handle("c"), "W07");
  EXPECT_TRUE(s.program_ended());
  // Once the program is gone, running again only repeats how it ended.
  EXPECT_EQ(s.handle("s"), "W07");
  EXPECT_EQ(t.resumes, 3);
  EXPECT_EQ(s.handle("k"), std::nullopt);
  EXPECT_EQ(s.end(), gdb::Session::End::Killed);

  FakeTarget t2;
  gdb::Session s2(t2);
  EXPECT_EQ(s2.handle("vCont;C0b:1"), "X0b");
  EXPECT_EQ(s2.handle("c"), "X0b");
  gdb::Session s3(t2);
  EXPECT_EQ(s3.handle("C05"), "T05");  // a trap is not passed on
  EXPECT_EQ(s3.handle("D"), "OK");
  EXPECT_EQ(s3.end(), gdb::Session::End::Detached);
}

}  // namespace
}  // namespace nuv::test
