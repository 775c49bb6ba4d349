#include "host/emu/elf_image.h"

#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>

namespace nuv {
namespace {

constexpr size_t kMaxProgramHeaders = 64;
constexpr uint32_t kPageSize = 0x1000;

struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) ::close(fd);
  }
};

struct ElfCloser {
  void operator()(Elf* e) const { elf_end(e); }
};

[[noreturn]] void fail(const std::string& path, const std::string& what) {
  throw LoadError(path + ": " + what);
}

// The OS's own words for why the file cannot be read, as a shell says them.
[[noreturn]] void fail_os(const std::string& path, int error) {
  throw LoadError(path + ": " + std::strerror(error), error);
}

}  // namespace

ElfImage ElfImage::load(const std::string& path) {
  if (elf_version(EV_CURRENT) == EV_NONE) fail(path, "libelf is unusable");
  // Never blocks: a FIFO or a terminal given as the program is refused, not waited on.
  FdCloser fd{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)};
  if (fd.fd < 0) fail_os(path, errno);
  struct stat st {};
  if (::fstat(fd.fd, &st) != 0) fail_os(path, errno);
  if (S_ISDIR(st.st_mode)) fail_os(path, EISDIR);
  if (!S_ISREG(st.st_mode)) fail(path, "not a regular file");
  std::unique_ptr<Elf, ElfCloser> elf(elf_begin(fd.fd, ELF_C_READ, nullptr));
  if (!elf || elf_kind(elf.get()) != ELF_K_ELF) {
    // libelf calls a file too short for its header no ELF at all; the magic tells them apart.
    char magic[SELFMAG] = {};
    if (::pread(fd.fd, magic, SELFMAG, 0) == SELFMAG && std::memcmp(magic, ELFMAG, SELFMAG) == 0) {
      fail(path, "truncated ELF header");
    }
    fail(path, "not an ELF file: it does not begin with the ELF magic number");
  }

  size_t file_size = 0;
  const char* raw = elf_rawfile(elf.get(), &file_size);
  if (raw == nullptr || file_size < EI_NIDENT) fail(path, "truncated ELF file");
  if (raw[EI_CLASS] != ELFCLASS32) fail(path, "not a 32-bit ELF file (wrong class)");
  if (raw[EI_DATA] != ELFDATA2LSB) fail(path, "not a little-endian ELF file");

  // Headers are copied out of the file's bytes, never cast in place: the file says where
  // they are, and nothing makes that address aligned.
  Elf32_Ehdr ehdr;
  if (file_size < sizeof ehdr) fail(path, "truncated ELF header");
  std::memcpy(&ehdr, raw, sizeof ehdr);
  if (ehdr.e_machine != EM_386) fail(path, "not an i386 executable (wrong machine)");
  if (ehdr.e_type != ET_EXEC) fail(path, "not a static executable (wrong type)");

  ElfImage image;
  image.path_ = path;
  image.entry_ = ehdr.e_entry;

  size_t phnum = ehdr.e_phnum;
  if (phnum > kMaxProgramHeaders) {
    fail(path, "too many program headers: " + std::to_string(phnum) + " (at most " +
                   std::to_string(kMaxProgramHeaders) + ")");
  }
  if (phnum > 0 && ehdr.e_phentsize != sizeof(Elf32_Phdr)) {
    fail(path, "program header entries of " + std::to_string(ehdr.e_phentsize) +
                   " bytes (ELF32 ones have " + std::to_string(sizeof(Elf32_Phdr)) + ")");
  }
  if (uint64_t{ehdr.e_phoff} + phnum * sizeof(Elf32_Phdr) > file_size) {
    fail(path, "truncated program headers");
  }
  for (size_t i = 0; i < phnum; ++i) {
    Elf32_Phdr ph;
    std::memcpy(&ph, raw + ehdr.e_phoff + i * sizeof ph, sizeof ph);
    if (ph.p_type == PT_DYNAMIC || ph.p_type == PT_INTERP) {
      fail(path, "dynamically linked executables are not supported");
    }
    if (ph.p_type == PT_GNU_STACK) image.stack_size_ = ph.p_memsz;
    if (ph.p_type != PT_LOAD || ph.p_memsz == 0) continue;
    std::string which = "segment " + std::to_string(i) + ": ";
    if (ph.p_filesz > ph.p_memsz) fail(path, which + "its file size exceeds its memory size");
    if (uint64_t{ph.p_offset} + ph.p_filesz > file_size) fail(path, which + "truncated data");
    if (uint64_t{ph.p_vaddr} + ph.p_memsz > 0x100000000ull) {
      fail(path, which + "reaches outside the 32-bit address space");
    }
    if ((ph.p_offset ^ ph.p_vaddr) & (kPageSize - 1)) {
      fail(path, which + "its file offset and its address lie at different places in a page");
    }
    Segment seg;
    seg.vaddr = ph.p_vaddr;
    seg.memsz = ph.p_memsz;
    seg.perms = ((ph.p_flags & PF_R) ? kRead : 0) | ((ph.p_flags & PF_W) ? kWrite : 0) |
                ((ph.p_flags & PF_X) ? kExec : 0);
    seg.bytes.assign(raw + ph.p_offset, raw + ph.p_offset + ph.p_filesz);
    image.segments_.push_back(std::move(seg));
  }
  if (image.segments_.empty()) fail(path, "no loadable segment");

  // Segments share pages only if they agree; overlapping ones are refused outright.
  std::vector<const Segment*> sorted;
  for (const auto& s : image.segments_) sorted.push_back(&s);
  std::sort(sorted.begin(), sorted.end(),
            [](const Segment* a, const Segment* b) { return a->vaddr < b->vaddr; });
  for (size_t i = 1; i < sorted.size(); ++i) {
    uint64_t prev_end_page =
        (uint64_t{sorted[i - 1]->vaddr} + sorted[i - 1]->memsz + 0xFFF) & ~uint64_t{0xFFF};
    if ((sorted[i]->vaddr & ~0xFFFu) < prev_end_page) fail(path, "segments overlap");
  }
  bool entry_runs = std::any_of(image.segments_.begin(), image.segments_.end(), [&](auto& s) {
    return (s.perms & kExec) && ehdr.e_entry >= s.vaddr &&
           uint64_t{ehdr.e_entry} < uint64_t{s.vaddr} + s.memsz;
  });
  if (!entry_runs) {
    char what[80];
    std::snprintf(what, sizeof what,
                  "the entry point 0x%08" PRIx32 " is not in an executable segment", ehdr.e_entry);
    fail(path, what);
  }

  size_t shstrndx = 0;
  if (elf_getshdrstrndx(elf.get(), &shstrndx) != 0) return image;  // no section names
  for (Elf_Scn* scn = elf_nextscn(elf.get(), nullptr); scn; scn = elf_nextscn(elf.get(), scn)) {
    GElf_Shdr sh;
    if (gelf_getshdr(scn, &sh) == nullptr) continue;
    const char* name = elf_strptr(elf.get(), shstrndx, sh.sh_name);
    if (sh.sh_type == SHT_SYMTAB) {
      Elf_Data* data = elf_getdata(scn, nullptr);
      size_t count = sh.sh_entsize ? sh.sh_size / sh.sh_entsize : 0;
      for (size_t k = 0; data && k < count; ++k) {
        GElf_Sym sym;
        if (gelf_getsym(data, static_cast<int>(k), &sym) == nullptr) continue;
        const char* sname = elf_strptr(elf.get(), sh.sh_link, sym.st_name);
        if (sname == nullptr || *sname == '\0') continue;
        int type = GELF_ST_TYPE(sym.st_info);
        if (type != STT_FUNC && type != STT_OBJECT && type != STT_NOTYPE) continue;
        // Globals win over locals of the same name.
        bool global = GELF_ST_BIND(sym.st_info) != STB_LOCAL;
        if (global || !image.symbols_.contains(sname)) {
          image.symbols_[sname] = static_cast<uint32_t>(sym.st_value);
        }
      }
    }
    if (name == nullptr) continue;
    Section section;
    section.name = name;
    section.flags = sh.sh_flags;
    section.addr = static_cast<uint32_t>(sh.sh_addr);
    section.align = static_cast<uint32_t>(sh.sh_addralign);
    if (sh.sh_type != SHT_NOBITS && sh.sh_offset + sh.sh_size <= file_size) {
      section.bytes.assign(raw + sh.sh_offset, raw + sh.sh_offset + sh.sh_size);
    }
    image.sections_.push_back(std::move(section));
  }
  return image;
}

std::optional<uint32_t> ElfImage::symbol(const std::string& name) const {
  auto it = symbols_.find(name);
  if (it == symbols_.end()) return std::nullopt;
  return it->second;
}

std::optional<Section> ElfImage::section(const std::string& name) const {
  for (const auto& s : sections_) {
    if (s.name == name) return s;
  }
  return std::nullopt;
}

}  // namespace nuv
