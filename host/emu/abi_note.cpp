#include "host/emu/abi_note.h"

#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "abi/program_records.h"

namespace nuv {
namespace {

constexpr uint32_t kAbiTagType = 1;  // NT_GNU_ABI_TAG, and the ABI-tag type of every BSD
static_assert(NUVRELOS_NOTE_TYPE == kAbiTagType);

struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

struct ElfEnd {
  void operator()(Elf* e) const { elf_end(e); }
};

std::string osabi_name(unsigned char osabi) {
  switch (osabi) {
    case ELFOSABI_HPUX:
      return "HP-UX";
    case ELFOSABI_NETBSD:
      return "NetBSD";
    case ELFOSABI_GNU:
      return "GNU/Linux";
    case ELFOSABI_SOLARIS:
      return "Solaris";
    case ELFOSABI_FREEBSD:
      return "FreeBSD";
    case ELFOSABI_OPENBSD:
      return "OpenBSD";
    default:
      return "OS/ABI " + std::to_string(osabi);
  }
}

// The systems whose programs carry an ABI note of their own name (type 1).
bool is_other_system(std::string_view name) {
  for (std::string_view system : {"FreeBSD", "NetBSD", "OpenBSD", "DragonFly", "Android"}) {
    if (name == system) return true;
  }
  return false;
}

struct Scan {
  bool ours = false;
  std::string foreign;  // first foreign mark found
  void mark(std::string why) {
    if (foreign.empty()) foreign = std::move(why);
  }
};

// One note area (a SHT_NOTE section or a PT_NOTE segment).
void scan_notes(Elf_Data* data, Scan& scan) {
  if (data == nullptr || data->d_buf == nullptr) return;
  const auto* bytes = static_cast<const uint8_t*>(data->d_buf);
  GElf_Nhdr note;
  size_t name_at = 0, desc_at = 0;
  for (size_t offset = 0, next; offset < data->d_size; offset = next) {
    next = gelf_getnote(data, offset, &note, &name_at, &desc_at);
    if (next == 0) return;  // malformed: the rest cannot be walked
    std::string_view name;
    if (note.n_namesz > 0) {
      name = {reinterpret_cast<const char*>(bytes + name_at), note.n_namesz};
      name = name.substr(0, name.find('\0'));
    }
    auto desc_word = [&](uint32_t i) {
      uint32_t v = 0;
      if (note.n_descsz >= 4 * (i + 1)) std::memcpy(&v, bytes + desc_at + 4 * i, 4);
      return v;
    };
    if (note.n_type != kAbiTagType) continue;
    if (name == NUVRELOS_NOTE_NAME) {
      uint32_t version = note.n_descsz >= 4 ? desc_word(0) : 0;
      if (version == NUVRELOS_ABI_VERSION) {
        scan.ours = true;
      } else {
        scan.mark("built for nuvrelos ABI version " + std::to_string(version) +
                  "; this runner runs version " + std::to_string(NUVRELOS_ABI_VERSION));
      }
    } else if (name == "GNU") {
      static const char* const kGnuOs[] = {"Linux", "the Hurd", "Solaris", "FreeBSD"};
      uint32_t os = desc_word(0);
      std::string system = os < 4 ? kGnuOs[os] : "OS " + std::to_string(os);
      std::string version = std::to_string(desc_word(1)) + "." + std::to_string(desc_word(2)) +
                            "." + std::to_string(desc_word(3));
      scan.mark("a " + system + " program (its GNU ABI note asks for " + system + " " + version +
                ")");
    } else if (is_other_system(name)) {
      scan.mark("a " + std::string(name) + " program (it carries " + std::string(name) +
                "'s ABI note)");
    }
  }
}

// C-library start-up that only a program for another system has.
constexpr const char* kForeignStartSymbols[] = {
    "__libc_start_main", "__libc_start_call_main", "_dl_relocate_static_pie",
    "__libc_setup_tls",  "__libc_csu_init",        "_start_c",
};

void scan_symbols(Elf* elf, Elf_Scn* scn, const GElf_Shdr& sh, Scan& scan) {
  Elf_Data* data = elf_getdata(scn, nullptr);
  if (data == nullptr || sh.sh_entsize == 0) return;
  size_t count = sh.sh_size / sh.sh_entsize;
  for (size_t k = 0; k < count; ++k) {
    GElf_Sym sym;
    if (gelf_getsym(data, static_cast<int>(k), &sym) == nullptr) continue;
    const char* name = elf_strptr(elf, sh.sh_link, sym.st_name);
    if (name == nullptr) continue;
    for (const char* start : kForeignStartSymbols) {
      if (std::strcmp(name, start) == 0) {
        scan.mark(std::string("a Linux program (it has ") + start +
                  ", a Linux C library's start-up)");
        return;
      }
    }
  }
}

// The first bytes of _start in the i386 C libraries of Linux: "xor %ebp,%ebp", then glibc
// pops the argument count, musl takes the stack pointer. Ours begins otherwise.
void scan_entry(Elf* elf, const GElf_Ehdr& ehdr, size_t phnum, Scan& scan) {
  static const uint8_t kGlibc[] = {0x31, 0xed, 0x5e, 0x89, 0xe1, 0x83, 0xe4, 0xf0};
  static const uint8_t kMusl[] = {0x31, 0xed, 0x89, 0xe0, 0x83, 0xe4, 0xf0};
  size_t file_size = 0;
  const char* raw = elf_rawfile(elf, &file_size);
  if (raw == nullptr) return;
  for (size_t i = 0; i < phnum; ++i) {
    GElf_Phdr ph;
    if (gelf_getphdr(elf, static_cast<int>(i), &ph) == nullptr || ph.p_type != PT_LOAD) continue;
    if (ehdr.e_entry < ph.p_vaddr || ehdr.e_entry - ph.p_vaddr >= ph.p_filesz) continue;
    uint64_t at = ph.p_offset + (ehdr.e_entry - ph.p_vaddr);
    auto starts_with = [&](const uint8_t* code, size_t n) {
      return at + n <= file_size && at + n <= ph.p_offset + ph.p_filesz &&
             std::memcmp(raw + at, code, n) == 0;
    };
    if (starts_with(kGlibc, sizeof kGlibc) || starts_with(kMusl, sizeof kMusl)) {
      scan.mark("a Linux program (its entry code is a Linux C library's _start)");
    }
    return;
  }
}

}  // namespace

AbiVerdict inspect_abi(const std::string& path) {
  AbiVerdict verdict;
  if (elf_version(EV_CURRENT) == EV_NONE) return verdict;
  Fd fd{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (fd.fd < 0) return verdict;
  std::unique_ptr<Elf, ElfEnd> elf(elf_begin(fd.fd, ELF_C_READ, nullptr));
  GElf_Ehdr ehdr;
  if (!elf || elf_kind(elf.get()) != ELF_K_ELF || gelf_getehdr(elf.get(), &ehdr) == nullptr) {
    return verdict;
  }

  // The whole file is read first: section data libelf read piecemeal before a whole-file read
  // (scan_entry makes one) is never freed by elf_end.
  size_t file_size = 0;
  if (elf_rawfile(elf.get(), &file_size) == nullptr) return verdict;

  Scan scan;
  unsigned char osabi = ehdr.e_ident[EI_OSABI];
  if (osabi != ELFOSABI_NONE) {
    scan.mark("made for " + osabi_name(osabi) + " (its ELF header says so)");
  }
  size_t phnum = 0;
  if (elf_getphdrnum(elf.get(), &phnum) != 0) phnum = 0;
  bool note_sections = false;
  for (Elf_Scn* scn = elf_nextscn(elf.get(), nullptr); scn; scn = elf_nextscn(elf.get(), scn)) {
    GElf_Shdr sh;
    if (gelf_getshdr(scn, &sh) == nullptr) continue;
    if (sh.sh_type == SHT_NOTE) {
      note_sections = true;
      scan_notes(elf_getdata(scn, nullptr), scan);
    } else if (sh.sh_type == SHT_SYMTAB) {
      scan_symbols(elf.get(), scn, sh, scan);
    }
  }
  for (size_t i = 0; i < phnum; ++i) {
    GElf_Phdr ph;
    if (gelf_getphdr(elf.get(), static_cast<int>(i), &ph) == nullptr) continue;
    if (ph.p_type == PT_INTERP) scan.mark("a dynamically linked program for another system");
    // Without section headers, the notes are found through the program headers.
    if (ph.p_type == PT_NOTE && !note_sections) {
      scan_notes(elf_getdata_rawchunk(elf.get(), static_cast<int64_t>(ph.p_offset), ph.p_filesz,
                                      ELF_T_NHDR),
                 scan);
    }
  }
  scan_entry(elf.get(), ehdr, phnum, scan);

  if (!scan.foreign.empty()) {
    verdict.kind = AbiVerdict::Kind::Foreign;
    verdict.reason = scan.foreign;
  } else {
    verdict.kind = scan.ours ? AbiVerdict::Kind::Ours : AbiVerdict::Kind::Unmarked;
  }
  return verdict;
}

}  // namespace nuv
