#include "host/debug/cpu_state.h"

#include <unicorn/unicorn.h>

#include <cstring>

namespace nuv {

namespace {

constexpr RegisterInfo kRegisters[] = {
    {"eax", 4, UC_X86_REG_EAX, "int32", nullptr},
    {"ecx", 4, UC_X86_REG_ECX, "int32", nullptr},
    {"edx", 4, UC_X86_REG_EDX, "int32", nullptr},
    {"ebx", 4, UC_X86_REG_EBX, "int32", nullptr},
    {"esp", 4, UC_X86_REG_ESP, "data_ptr", nullptr},
    {"ebp", 4, UC_X86_REG_EBP, "data_ptr", nullptr},
    {"esi", 4, UC_X86_REG_ESI, "int32", nullptr},
    {"edi", 4, UC_X86_REG_EDI, "int32", nullptr},
    {"eip", 4, UC_X86_REG_EIP, "code_ptr", nullptr},
    {"eflags", 4, UC_X86_REG_EFLAGS, "i386_eflags", nullptr},
    {"cs", 4, UC_X86_REG_CS, "int32", nullptr},
    {"ss", 4, UC_X86_REG_SS, "int32", nullptr},
    {"ds", 4, UC_X86_REG_DS, "int32", nullptr},
    {"es", 4, UC_X86_REG_ES, "int32", nullptr},
    {"fs", 4, UC_X86_REG_FS, "int32", nullptr},
    {"gs", 4, UC_X86_REG_GS, "int32", nullptr},
    {"st0", 10, UC_X86_REG_ST0, "i387_ext", nullptr},
    {"st1", 10, UC_X86_REG_ST1, "i387_ext", nullptr},
    {"st2", 10, UC_X86_REG_ST2, "i387_ext", nullptr},
    {"st3", 10, UC_X86_REG_ST3, "i387_ext", nullptr},
    {"st4", 10, UC_X86_REG_ST4, "i387_ext", nullptr},
    {"st5", 10, UC_X86_REG_ST5, "i387_ext", nullptr},
    {"st6", 10, UC_X86_REG_ST6, "i387_ext", nullptr},
    {"st7", 10, UC_X86_REG_ST7, "i387_ext", nullptr},
    {"fctrl", 4, UC_X86_REG_FPCW, "int", "float"},
    {"fstat", 4, UC_X86_REG_FPSW, "int", "float"},
    {"ftag", 4, UC_X86_REG_FPTAG, "int", "float"},
    {"fiseg", 4, UC_X86_REG_FCS, "int", "float"},
    {"fioff", 4, UC_X86_REG_FIP, "int", "float"},
    {"foseg", 4, UC_X86_REG_FDS, "int", "float"},
    {"fooff", 4, UC_X86_REG_FDP, "int", "float"},
    {"fop", 4, UC_X86_REG_FOP, "int", "float"},
    {"xmm0", 16, UC_X86_REG_XMM0, "vec128", nullptr},
    {"xmm1", 16, UC_X86_REG_XMM1, "vec128", nullptr},
    {"xmm2", 16, UC_X86_REG_XMM2, "vec128", nullptr},
    {"xmm3", 16, UC_X86_REG_XMM3, "vec128", nullptr},
    {"xmm4", 16, UC_X86_REG_XMM4, "vec128", nullptr},
    {"xmm5", 16, UC_X86_REG_XMM5, "vec128", nullptr},
    {"xmm6", 16, UC_X86_REG_XMM6, "vec128", nullptr},
    {"xmm7", 16, UC_X86_REG_XMM7, "vec128", nullptr},
    {"mxcsr", 4, UC_X86_REG_MXCSR, "i386_mxcsr", "vector"},
};

}  // namespace

std::span<const RegisterInfo> i386_registers() { return kRegisters; }

void read_register(uc_struct* uc, size_t index, uint8_t* out) {
  // Unicorn stores only the register's own width (16 bits for a selector or a control word):
  // the rest stays zero.
  uint8_t buf[32] = {};
  const RegisterInfo& r = kRegisters[index];
  uc_reg_read(uc, r.uc_id, buf);
  std::memcpy(out, buf, static_cast<size_t>(r.bytes));
}

bool write_register(uc_struct* uc, size_t index, const uint8_t* in) {
  const RegisterInfo& r = kRegisters[index];
  uint8_t now[32] = {};
  read_register(uc, index, now);
  if (std::memcmp(now, in, static_cast<size_t>(r.bytes)) == 0) return true;
  // Loading a selector checks descriptor tables this flat process does not have.
  if (index >= static_cast<size_t>(kGdbCs) && index <= static_cast<size_t>(kGdbGs)) return false;
  uint8_t buf[32] = {};
  std::memcpy(buf, in, static_cast<size_t>(r.bytes));
  if (index == static_cast<size_t>(kGdbEflags)) {
    // A debugger changes the flags a user program may change, as ptrace lets it: the rest
    // (interrupts, I/O privilege, 8086 mode, nested task) would hand the program powers the
    // processor keeps from it.
    constexpr uint32_t kUserFlags = 0x40DD5;  // CF PF AF ZF SF TF DF OF AC
    uint32_t was = 0, wanted = 0;
    std::memcpy(&was, now, sizeof was);
    std::memcpy(&wanted, buf, sizeof wanted);
    uint32_t flags = (was & ~kUserFlags) | (wanted & kUserFlags);
    std::memcpy(buf, &flags, sizeof flags);
  }
  return uc_reg_write(uc, r.uc_id, buf) == UC_ERR_OK;
}

Registers read_unwind_registers(uc_struct* uc) {
  Registers regs{};
  for (int i = 0; i < kRegCount; ++i)
    read_register(uc, static_cast<size_t>(i), reinterpret_cast<uint8_t*>(&regs[i]));
  return regs;
}

const std::string& i386_target_xml() {
  static const std::string xml = [] {
    std::string s =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE target SYSTEM \"gdb-target.dtd\">\n<target>\n"
        "<architecture>i386</architecture>\n<feature name=\"org.gnu.gdb.i386.core\">\n"
        "<flags id=\"i386_eflags\" size=\"4\">\n"
        "<field name=\"CF\" start=\"0\" end=\"0\"/><field name=\"\" start=\"1\" end=\"1\"/>"
        "<field name=\"PF\" start=\"2\" end=\"2\"/><field name=\"AF\" start=\"4\" end=\"4\"/>"
        "<field name=\"ZF\" start=\"6\" end=\"6\"/><field name=\"SF\" start=\"7\" end=\"7\"/>"
        "<field name=\"TF\" start=\"8\" end=\"8\"/><field name=\"IF\" start=\"9\" end=\"9\"/>"
        "<field name=\"DF\" start=\"10\" end=\"10\"/><field name=\"OF\" start=\"11\" end=\"11\"/>"
        "<field name=\"NT\" start=\"14\" end=\"14\"/><field name=\"RF\" start=\"16\" end=\"16\"/>"
        "<field name=\"VM\" start=\"17\" end=\"17\"/><field name=\"AC\" start=\"18\" end=\"18\"/>"
        "<field name=\"VIF\" start=\"19\" end=\"19\"/><field name=\"VIP\" start=\"20\" end=\"20\"/>"
        "<field name=\"ID\" start=\"21\" end=\"21\"/>\n</flags>\n";
    auto reg = [&](const RegisterInfo& r) {
      s += std::string("<reg name=\"") + r.name + "\" bitsize=\"" + std::to_string(r.bytes * 8) +
           "\" type=\"" + r.type + "\"" +
           (r.group ? std::string(" group=\"") + r.group + "\"" : "") + "/>\n";
    };
    for (size_t i = 0; i < 32; ++i) reg(kRegisters[i]);
    s += "</feature>\n<feature name=\"org.gnu.gdb.i386.sse\">\n"
         "<vector id=\"v4f\" type=\"ieee_single\" count=\"4\"/>\n"
         "<vector id=\"v2d\" type=\"ieee_double\" count=\"2\"/>\n"
         "<vector id=\"v16i8\" type=\"int8\" count=\"16\"/>\n"
         "<vector id=\"v8i16\" type=\"int16\" count=\"8\"/>\n"
         "<vector id=\"v4i32\" type=\"int32\" count=\"4\"/>\n"
         "<vector id=\"v2i64\" type=\"int64\" count=\"2\"/>\n"
         "<union id=\"vec128\"><field name=\"v4_float\" type=\"v4f\"/>"
         "<field name=\"v2_double\" type=\"v2d\"/><field name=\"v16_int8\" type=\"v16i8\"/>"
         "<field name=\"v8_int16\" type=\"v8i16\"/><field name=\"v4_int32\" type=\"v4i32\"/>"
         "<field name=\"v2_int64\" type=\"v2i64\"/><field name=\"uint128\" type=\"uint128\"/>"
         "</union>\n<flags id=\"i386_mxcsr\" size=\"4\">"
         "<field name=\"IE\" start=\"0\" end=\"0\"/><field name=\"DE\" start=\"1\" end=\"1\"/>"
         "<field name=\"ZE\" start=\"2\" end=\"2\"/><field name=\"OE\" start=\"3\" end=\"3\"/>"
         "<field name=\"UE\" start=\"4\" end=\"4\"/><field name=\"PE\" start=\"5\" end=\"5\"/>"
         "<field name=\"DAZ\" start=\"6\" end=\"6\"/><field name=\"IM\" start=\"7\" end=\"7\"/>"
         "<field name=\"DM\" start=\"8\" end=\"8\"/><field name=\"ZM\" start=\"9\" end=\"9\"/>"
         "<field name=\"OM\" start=\"10\" end=\"10\"/><field name=\"UM\" start=\"11\" end=\"11\"/>"
         "<field name=\"PM\" start=\"12\" end=\"12\"/><field name=\"FZ\" start=\"15\" end=\"15\"/>"
         "</flags>\n";
    for (size_t i = 32; i < std::size(kRegisters); ++i) reg(kRegisters[i]);
    s += "</feature>\n</target>\n";
    return s;
  }();
  return xml;
}

}  // namespace nuv
