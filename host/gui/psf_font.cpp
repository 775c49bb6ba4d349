#include "host/gui/psf_font.h"

#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "host/base/regular_file.h"

namespace nuv {
namespace {

constexpr uint8_t kPsf1Magic[2] = {0x36, 0x04};
constexpr uint8_t kPsf1Mode512 = 0x01;
constexpr uint8_t kPsf1ModeHasTable = 0x02;
constexpr uint8_t kPsf1ModeSeqs = 0x04;
constexpr uint16_t kPsf1Separator = 0xFFFF;
constexpr uint16_t kPsf1StartSeq = 0xFFFE;

constexpr uint8_t kPsf2Magic[4] = {0x72, 0xB5, 0x4A, 0x86};
constexpr uint32_t kPsf2HasTable = 0x01;
constexpr uint8_t kPsf2Separator = 0xFF;
constexpr uint8_t kPsf2StartSeq = 0xFE;

constexpr uint32_t kNoGlyph = UINT32_MAX;
constexpr size_t kMaxFontFile = 4u << 20;

uint32_t le32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// Code points of the Latin-1 range that the font's table gives a glyph; the first mapping
// of a code point wins. Sequences (combining forms) name no single code point and are skipped.
using ByteMap = std::array<uint32_t, 256>;

void map_code_point(ByteMap& map, uint32_t code_point, uint32_t glyph) {
  if (code_point < map.size() && map[code_point] == kNoGlyph) map[code_point] = glyph;
}

void read_psf1_table(std::span<const uint8_t> table, uint32_t glyphs, ByteMap& map) {
  size_t at = 0;
  for (uint32_t g = 0; g < glyphs && at + 1 < table.size(); ++g) {
    bool in_sequence = false;
    while (at + 1 < table.size()) {
      uint16_t v = static_cast<uint16_t>(table[at] | (table[at + 1] << 8));
      at += 2;
      if (v == kPsf1Separator) break;
      if (v == kPsf1StartSeq) in_sequence = true;
      if (!in_sequence) map_code_point(map, v, g);
    }
  }
}

// One UTF-8 sequence from table[at]; nullopt for a malformed one (then one byte is skipped).
std::optional<uint32_t> utf8_at(std::span<const uint8_t> table, size_t& at) {
  uint8_t lead = table[at++];
  if (lead < 0x80) return lead;
  int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
  if (extra < 0) return std::nullopt;
  uint32_t cp = lead & (0x3F >> extra);
  for (int i = 0; i < extra; ++i) {
    if (at >= table.size() || (table[at] & 0xC0) != 0x80) return std::nullopt;
    cp = (cp << 6) | (table[at++] & 0x3F);
  }
  return cp;
}

void read_psf2_table(std::span<const uint8_t> table, uint32_t glyphs, ByteMap& map) {
  size_t at = 0;
  for (uint32_t g = 0; g < glyphs && at < table.size(); ++g) {
    bool in_sequence = false;
    while (at < table.size()) {
      uint8_t b = table[at];
      if (b == kPsf2Separator) {
        ++at;
        break;
      }
      if (b == kPsf2StartSeq) {
        in_sequence = true;
        ++at;
        continue;
      }
      auto cp = utf8_at(table, at);
      if (cp && !in_sequence) map_code_point(map, *cp, g);
    }
  }
}

// Bytes without a glyph of their own show as "?" (glyph 0 is not a blank in these fonts),
// or, in a font without a table, as the glyph of the same number.
void finish_map(PsfFont& font, ByteMap& map, bool had_table) {
  uint32_t fallback = 0;
  if (had_table && map['?'] != kNoGlyph) fallback = map['?'];
  for (size_t b = 0; b < map.size(); ++b) {
    if (map[b] != kNoGlyph) continue;
    map[b] = had_table ? fallback : (b < font.glyph_count ? static_cast<uint32_t>(b) : 0);
  }
  font.glyph_of_byte = map;
}

}  // namespace

PsfFont parse_psf_font(std::span<const uint8_t> bytes) {
  PsfFont font;
  ByteMap map;
  map.fill(kNoGlyph);
  size_t header = 0;
  bool has_table = false;
  bool psf1 = false;
  if (bytes.size() >= 4 && std::memcmp(bytes.data(), kPsf1Magic, 2) == 0) {
    psf1 = true;
    uint8_t mode = bytes[2];
    header = 4;
    font.glyph_count = (mode & kPsf1Mode512) ? 512 : 256;
    font.width = 8;
    font.height = bytes[3];
    has_table = (mode & (kPsf1ModeHasTable | kPsf1ModeSeqs)) != 0;
  } else if (bytes.size() >= 32 && std::memcmp(bytes.data(), kPsf2Magic, 4) == 0) {
    header = le32(&bytes[8]);
    uint32_t flags = le32(&bytes[12]);
    font.glyph_count = le32(&bytes[16]);
    uint32_t charsize = le32(&bytes[20]);
    font.height = static_cast<int32_t>(std::min<uint32_t>(le32(&bytes[24]), 1024));
    font.width = static_cast<int32_t>(std::min<uint32_t>(le32(&bytes[28]), 1024));
    has_table = (flags & kPsf2HasTable) != 0;
    if (header < 32 || header > bytes.size() || font.width == 0 ||
        charsize != ((static_cast<uint32_t>(font.width) + 7) / 8) * font.height) {
      throw FontError("not a usable PSF2 font (bad header)");
    }
  } else {
    throw FontError("not a PC Screen Font (PSF1 or PSF2)");
  }
  if (font.height <= 0 || font.glyph_count == 0 || font.glyph_count > 65536) {
    throw FontError("not a usable PC Screen Font (bad glyph size or count)");
  }
  font.bytes_per_row = (static_cast<uint32_t>(font.width) + 7) / 8;
  font.bytes_per_glyph = font.bytes_per_row * static_cast<uint32_t>(font.height);
  size_t glyph_bytes = size_t{font.bytes_per_glyph} * font.glyph_count;
  if (bytes.size() - header < glyph_bytes) throw FontError("the font file is cut short");
  font.glyphs.assign(bytes.begin() + static_cast<ptrdiff_t>(header),
                     bytes.begin() + static_cast<ptrdiff_t>(header + glyph_bytes));
  auto table = bytes.subspan(header + glyph_bytes);
  if (has_table) {
    if (psf1) {
      read_psf1_table(table, font.glyph_count, map);
    } else {
      read_psf2_table(table, font.glyph_count, map);
    }
  }
  finish_map(font, map, has_table);
  return font;
}

PsfFont load_psf_font(const std::filesystem::path& path) {
  // gzread reads plain files as they are, so an unpacked font works too. A FIFO or device
  // named by mistake is refused, never waited on.
  std::string why;
  UniqueFd fd = open_regular_file(path.string(), why);
  if (!fd) throw FontError("cannot read the console font " + path.string() + ": " + why);
  gzFile file = gzdopen(fd.get(), "rb");
  if (file == nullptr) {
    throw FontError("cannot read the console font " + path.string() + ": " +
                    std::strerror(errno != 0 ? errno : ENOMEM));
  }
  fd.release();  // gzclose closes it
  std::vector<uint8_t> bytes;
  uint8_t chunk[16384];
  int n = 0;
  while ((n = gzread(file, chunk, sizeof chunk)) > 0 && bytes.size() < kMaxFontFile) {
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  bool failed = n < 0;
  gzclose(file);
  if (failed) throw FontError("cannot read the console font " + path.string() + ": bad gzip data");
  try {
    return parse_psf_font(bytes);
  } catch (const FontError& e) {
    throw FontError(path.string() + ": " + e.what());
  }
}

}  // namespace nuv
