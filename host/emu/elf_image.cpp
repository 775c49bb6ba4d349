#include "host/emu/elf_image.h"

#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace nuv {
namespace {

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
  FdCloser fd{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (fd.fd < 0) fail_os(path, errno);
  struct stat st {};
  if (::fstat(fd.fd, &st) != 0) fail_os(path, errno);
  if (S_ISDIR(st.st_mode)) fail_os(path, EISDIR);
  std::unique_ptr<Elf, ElfCloser> elf(elf_begin(fd.fd, ELF_C_READ, nullptr));
  if (!elf || elf_kind(elf.get()) != ELF_K_ELF) {
    fail(path, "not an ELF file: it does not begin with the ELF magic number");
  }

  size_t file_size = 0;
  char* raw = elf_rawfile(elf.get(), &file_size);
  if (raw == nullptr || file_size < EI_NIDENT) fail(path, "truncated ELF file");
  if (raw[EI_CLASS] != ELFCLASS32) fail(path, "not a 32-bit ELF file (wrong class)");
  if (raw[EI_DATA] != ELFDATA2LSB) fail(path, "not a little-endian ELF file");

  Elf32_Ehdr* ehdr = elf32_getehdr(elf.get());
  if (ehdr == nullptr) fail(path, "truncated ELF header");
  if (ehdr->e_machine != EM_386) fail(path, "not an i386 executable (wrong machine)");
  if (ehdr->e_type != ET_EXEC) fail(path, "not a static executable (wrong type)");

  ElfImage image;
  image.path_ = path;
  image.entry_ = ehdr->e_entry;

  size_t phnum = 0;
  if (elf_getphdrnum(elf.get(), &phnum) != 0) fail(path, "unreadable program headers");
  Elf32_Phdr* phdrs = elf32_getphdr(elf.get());
  if (phnum > 0 && phdrs == nullptr) fail(path, "truncated program headers");
  for (size_t i = 0; i < phnum; ++i) {
    const Elf32_Phdr& ph = phdrs[i];
    if (ph.p_type == PT_DYNAMIC || ph.p_type == PT_INTERP) {
      fail(path, "dynamically linked executables are not supported");
    }
    if (ph.p_type != PT_LOAD || ph.p_memsz == 0) continue;
    if (ph.p_filesz > ph.p_memsz) fail(path, "segment file size exceeds its memory size");
    if (uint64_t{ph.p_offset} + ph.p_filesz > file_size) fail(path, "truncated segment data");
    if (uint64_t{ph.p_vaddr} + ph.p_memsz > 0x100000000ull) {
      fail(path, "segment reaches outside the 32-bit address space");
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
