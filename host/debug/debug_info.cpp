#include "host/debug/debug_info.h"

#include <cxxabi.h>
#include <dwarf.h>
#include <elfutils/libdw.h>
#include <fcntl.h>
#include <gelf.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "host/debug/code_unwind.h"
#include "host/debug/sdk_sources.h"

namespace nuv {

struct DebugInfo::Handles {
  int fd = -1;
  Elf* elf = nullptr;
  Dwarf* dwarf = nullptr;
  Dwarf_CFI* debug_frame = nullptr;  // owned by `dwarf`
  Dwarf_CFI* eh_frame = nullptr;     // owned by us
  ~Handles() {
    if (eh_frame) dwarf_cfi_end(eh_frame);
    if (dwarf) dwarf_end(dwarf);
    if (elf) elf_end(elf);
    if (fd >= 0) close(fd);
  }
};

namespace {

// A linker that drops unused code leaves its line rows behind at address 0 (or the all-ones
// tombstone of newer linkers); no i386 program of ours is loaded there.
bool discarded(uint32_t address) { return address < 0x1000 || address >= 0xFFFFF000u; }

// The small stack machine of CFI expressions: register plus offset, the CFA, constants,
// arithmetic and one dereference cover what compilers emit for i386.
std::optional<uint32_t> evaluate(const Dwarf_Op* ops, size_t n, const Registers& regs,
                                 std::optional<uint32_t> cfa, const ReadWord& read,
                                 bool* is_value) {
  std::vector<uint32_t> stack;
  *is_value = false;
  auto pop = [&]() -> std::optional<uint32_t> {
    if (stack.empty()) return std::nullopt;
    uint32_t v = stack.back();
    stack.pop_back();
    return v;
  };
  for (size_t i = 0; i < n; ++i) {
    const Dwarf_Op& op = ops[i];
    uint8_t atom = op.atom;
    if (atom >= DW_OP_breg0 && atom <= DW_OP_breg31) {
      int reg = atom - DW_OP_breg0;
      if (reg >= kRegCount) return std::nullopt;
      stack.push_back(regs[reg] + static_cast<uint32_t>(op.number));
    } else if (atom >= DW_OP_lit0 && atom <= DW_OP_lit31) {
      stack.push_back(atom - DW_OP_lit0);
    } else {
      switch (atom) {
        case DW_OP_bregx:
          if (op.number >= kRegCount) return std::nullopt;
          stack.push_back(regs[op.number] + static_cast<uint32_t>(op.number2));
          break;
        case DW_OP_call_frame_cfa:
          if (!cfa) return std::nullopt;
          stack.push_back(*cfa);
          break;
        case DW_OP_consts:
        case DW_OP_constu:
        case DW_OP_const1u:
        case DW_OP_const1s:
        case DW_OP_const2u:
        case DW_OP_const2s:
        case DW_OP_const4u:
        case DW_OP_const4s:
          stack.push_back(static_cast<uint32_t>(op.number));
          break;
        case DW_OP_plus_uconst: {
          auto a = pop();
          if (!a) return std::nullopt;
          stack.push_back(*a + static_cast<uint32_t>(op.number));
          break;
        }
        case DW_OP_plus:
        case DW_OP_minus:
        case DW_OP_and: {
          auto b = pop(), a = pop();
          if (!a || !b) return std::nullopt;
          stack.push_back(atom == DW_OP_plus ? *a + *b : atom == DW_OP_minus ? *a - *b : *a & *b);
          break;
        }
        case DW_OP_deref: {
          auto a = pop();
          uint32_t v = 0;
          if (!a || !read(*a, v)) return std::nullopt;
          stack.push_back(v);
          break;
        }
        case DW_OP_stack_value:
          *is_value = true;
          break;
        default:
          return std::nullopt;
      }
    }
  }
  return pop();
}

std::string demangled(const char* name) {
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> out(
      abi::__cxa_demangle(name, nullptr, nullptr, &status), &std::free);
  return status == 0 && out ? std::string(out.get()) : std::string(name);
}

}  // namespace

std::unique_ptr<DebugInfo> DebugInfo::open(const std::string& path) {
  std::unique_ptr<DebugInfo> info(new DebugInfo);
  info->h_ = std::make_unique<Handles>();
  Handles& h = *info->h_;
  elf_version(EV_CURRENT);
  h.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (h.fd < 0) throw DebugInfoError(path + ": cannot open");
  h.elf = elf_begin(h.fd, ELF_C_READ_MMAP, nullptr);
  if (h.elf == nullptr || elf_kind(h.elf) != ELF_K_ELF) {
    throw DebugInfoError(path + ": not an ELF file");
  }
  h.dwarf = dwarf_begin_elf(h.elf, DWARF_C_READ, nullptr);  // null: no DWARF, symbols only
  if (h.dwarf) h.debug_frame = dwarf_getcfi(h.dwarf);
  h.eh_frame = dwarf_getcfi_elf(h.elf);
  info->read_symbols();
  info->read_lines();
  return info;
}

DebugInfo::~DebugInfo() = default;

void DebugInfo::read_symbols() {
  std::map<uint32_t, Function> by_address;
  Elf_Scn* scn = nullptr;
  while ((scn = elf_nextscn(h_->elf, scn)) != nullptr) {
    GElf_Shdr shdr;
    if (gelf_getshdr(scn, &shdr) == nullptr || shdr.sh_type != SHT_SYMTAB) continue;
    Elf_Data* data = elf_getdata(scn, nullptr);
    if (data == nullptr || shdr.sh_entsize == 0) continue;
    size_t count = shdr.sh_size / shdr.sh_entsize;
    for (size_t i = 0; i < count; ++i) {
      GElf_Sym sym;
      if (gelf_getsym(data, static_cast<int>(i), &sym) == nullptr) continue;
      if (GELF_ST_TYPE(sym.st_info) != STT_FUNC || sym.st_shndx == SHN_UNDEF) continue;
      const char* name = elf_strptr(h_->elf, shdr.sh_link, sym.st_name);
      if (name == nullptr || *name == '\0') continue;
      std::string shown = demangled(name);
      auto low = static_cast<uint32_t>(sym.st_value);
      auto high = static_cast<uint32_t>(sym.st_value + sym.st_size);
      // Aliases share an address: keep the global name and the larger extent.
      auto [it, fresh] = by_address.try_emplace(low, Function{shown, name, low, high});
      if (!fresh) {
        if (GELF_ST_BIND(sym.st_info) == STB_GLOBAL) {
          it->second.name = shown;
          it->second.linkage_name = name;
        }
        it->second.high = std::max(it->second.high, high);
      }
    }
  }
  for (auto& [low, fn] : by_address) functions_.push_back(fn);
  // Hand-written code often declares no size: it reaches to the next function.
  for (size_t i = 0; i < functions_.size(); ++i) {
    if (functions_[i].high == functions_[i].low && i + 1 < functions_.size()) {
      functions_[i].high = functions_[i + 1].low;
    }
  }
}

void DebugInfo::read_lines() {
  if (h_->dwarf == nullptr) return;
  std::map<std::string, size_t> file_index;
  auto index_of = [&](const char* name, const std::string& comp_dir) {
    // Builds that rewrite paths (ccache's base directory) leave them relative to the
    // compiler's working directory: anchor them there so every name is absolute.
    std::filesystem::path p = name ? name : "??";
    if (p.is_relative() && !comp_dir.empty()) p = std::filesystem::path(comp_dir) / p;
    p = installed_source(p.lexically_normal());
    auto [it, fresh] = file_index.try_emplace(p.lexically_normal().string(), files_.size());
    if (fresh) files_.push_back(it->first);
    return it->second;
  };
  Dwarf_Off offset = 0, next = 0;
  size_t header_size = 0;
  while (dwarf_nextcu(h_->dwarf, offset, &next, &header_size, nullptr, nullptr, nullptr) == 0) {
    Dwarf_Die cu;
    Dwarf_Off die_offset = offset + header_size;
    offset = next;
    if (dwarf_offdie(h_->dwarf, die_offset, &cu) == nullptr) continue;
    Dwarf_Attribute attr;
    const char* dir = dwarf_formstring(dwarf_attr_integrate(&cu, DW_AT_comp_dir, &attr));
    std::string comp_dir = dir ? dir : "";
    Dwarf_Lines* lines = nullptr;
    size_t n = 0;
    if (dwarf_getsrclines(&cu, &lines, &n) != 0) continue;
    bool skip_sequence = false;
    bool sequence_start = true;
    for (size_t i = 0; i < n; ++i) {
      Dwarf_Line* line = dwarf_onesrcline(lines, i);
      Dwarf_Addr addr = 0;
      int lineno = 0;
      bool end = false;
      if (line == nullptr || dwarf_lineaddr(line, &addr) != 0 || dwarf_lineno(line, &lineno) != 0 ||
          dwarf_lineendsequence(line, &end) != 0) {
        continue;
      }
      if (sequence_start) skip_sequence = discarded(static_cast<uint32_t>(addr));
      sequence_start = end;
      if (skip_sequence) continue;
      if (!spans_.empty() && spans_.back().end == 0) {
        spans_.back().end = static_cast<uint32_t>(addr);
        if (spans_.back().end <= spans_.back().begin) spans_.pop_back();
      }
      if (end || lineno <= 0) continue;
      size_t file = index_of(dwarf_linesrc(line, nullptr, nullptr), comp_dir);
      rows_.push_back(LineRow{files_[file], lineno, static_cast<uint32_t>(addr)});
      spans_.push_back(Span{static_cast<uint32_t>(addr), 0, file, lineno});
    }
    if (!spans_.empty() && spans_.back().end == 0) spans_.pop_back();
  }
  std::stable_sort(rows_.begin(), rows_.end(),
                   [](const LineRow& a, const LineRow& b) { return a.address < b.address; });
  std::stable_sort(spans_.begin(), spans_.end(),
                   [](const Span& a, const Span& b) { return a.begin < b.begin; });
}

const Function* DebugInfo::function_at(uint32_t address) const {
  auto it = std::upper_bound(functions_.begin(), functions_.end(), address,
                             [](uint32_t a, const Function& f) { return a < f.low; });
  if (it == functions_.begin()) return nullptr;
  --it;
  return address < it->high ? &*it : nullptr;
}

const Function* DebugInfo::function_named(const std::string& name) const {
  for (const Function& f : functions_) {
    if (f.name == name || f.linkage_name == name) return &f;
  }
  for (const Function& f : functions_) {
    if (f.name.starts_with(name) && f.name.size() > name.size() && f.name[name.size()] == '(') {
      return &f;
    }
  }
  return nullptr;
}

std::optional<SourceLine> DebugInfo::line_at(uint32_t address) const {
  auto it = std::upper_bound(spans_.begin(), spans_.end(), address,
                             [](uint32_t a, const Span& s) { return a < s.begin; });
  if (it == spans_.begin()) return std::nullopt;
  --it;
  if (address >= it->end) return std::nullopt;
  return SourceLine{files_[it->file], it->line};
}

std::optional<Registers> DebugInfo::step_cfi(const Registers& regs, uint32_t pc,
                                             const ReadWord& read) const {
  Dwarf_Frame* frame = nullptr;
  for (Dwarf_CFI* cfi : {h_->debug_frame, h_->eh_frame}) {
    if (cfi != nullptr && dwarf_cfi_addrframe(cfi, pc, &frame) == 0) break;
    frame = nullptr;
  }
  if (frame == nullptr) return std::nullopt;
  std::unique_ptr<Dwarf_Frame, decltype(&std::free)> owned(frame, &std::free);
  int ra = dwarf_frame_info(frame, nullptr, nullptr, nullptr);
  Dwarf_Op* ops = nullptr;
  size_t nops = 0;
  bool is_value = false;
  if (ra < 0 || ra >= kRegCount || dwarf_frame_cfa(frame, &ops, &nops) != 0 || nops == 0) {
    return std::nullopt;
  }
  std::optional<uint32_t> cfa = evaluate(ops, nops, regs, std::nullopt, read, &is_value);
  if (!cfa) return std::nullopt;
  Registers caller = regs;
  for (int reg = 0; reg < kRegCount; ++reg) {
    Dwarf_Op mem[3];
    if (dwarf_frame_register(frame, reg, mem, &ops, &nops) != 0) return std::nullopt;
    if (nops == 0) {
      if (ops != nullptr) caller[reg] = 0;  // undefined: the caller's value is lost
      continue;                             // same value
    }
    std::optional<uint32_t> v = evaluate(ops, nops, regs, cfa, read, &is_value);
    uint32_t word = 0;
    if (!v || (!is_value && !read(*v, word))) return std::nullopt;
    caller[reg] = is_value ? *v : word;
  }
  caller[kEsp] = *cfa;
  caller[kEip] = caller[ra];
  return caller;
}

std::vector<Frame> DebugInfo::unwind(const Registers& regs, const ReadWord& read,
                                     size_t max_frames) const {
  std::vector<Frame> frames;
  Registers r = regs;
  for (size_t depth = 0; depth < max_frames; ++depth) {
    uint32_t pc = r[kEip];
    // A return address points past its call: look up the call itself.
    uint32_t lookup = depth == 0 ? pc : pc - 1;
    Frame f{pc, function_at(lookup), line_at(lookup)};
    if (depth > 0 && f.function == nullptr) break;
    frames.push_back(f);
    std::optional<Registers> caller = step_cfi(r, lookup, read);
    if (!caller && f.function) {
      caller = step_by_code(r, *f.function, read,
                            [this](uint32_t at) { return function_at(at) != nullptr; });
    }
    if (!caller) {
      // No CFI here: follow the saved frame pointer, as code built with one leaves it.
      uint32_t saved_ebp = 0, ret = 0;
      if (r[kEbp] == 0 || !read(r[kEbp], saved_ebp) || !read(r[kEbp] + 4, ret)) break;
      Registers next = r;
      next[kEsp] = r[kEbp] + 8;
      next[kEbp] = saved_ebp;
      next[kEip] = ret;
      caller = next;
    }
    if ((*caller)[kEsp] <= r[kEsp] || (*caller)[kEip] == 0) break;
    r = *caller;
  }
  return frames;
}

std::string describe(const Frame& frame) {
  char pc[16];
  std::snprintf(pc, sizeof pc, "0x%08" PRIx32, frame.pc);
  std::string s = std::string(pc) + " in " + (frame.function ? frame.function->name : "??");
  if (frame.line) s += " at " + frame.line->file + ":" + std::to_string(frame.line->line);
  return s;
}

}  // namespace nuv
