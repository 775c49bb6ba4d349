// Console fonts in the PC Screen Font formats (PSF1 and PSF2), gzipped or plain, as Debian's
// console-setup-linux package ships them in /usr/share/consolefonts.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <vector>

namespace nuv {

class FontError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct PsfFont {
  int32_t width = 0;
  int32_t height = 0;
  uint32_t bytes_per_row = 0;
  uint32_t bytes_per_glyph = 0;
  uint32_t glyph_count = 0;
  std::vector<uint8_t> glyphs;
  // The glyph of each byte of a text, read as Latin-1 through the font's Unicode table.
  std::array<uint32_t, 256> glyph_of_byte{};

  // Row bits of the glyph for one text byte, most significant bit leftmost.
  const uint8_t* glyph(uint8_t byte) const {
    return glyphs.data() + static_cast<size_t>(glyph_of_byte[byte]) * bytes_per_glyph;
  }
};

// Throws FontError with a message fit for the user.
PsfFont parse_psf_font(std::span<const uint8_t> bytes);
PsfFont load_psf_font(const std::filesystem::path& path);

}  // namespace nuv
