// The console font reader on arbitrary files, gzipped or plain, read the way --font and
// gui_load_font read them: a font whose every glyph lies inside its glyph bytes, or a
// FontError.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/input_file.h"
#include "host/gui/psf_font.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = nuv::fuzz::as_file(data, size);
  try {
    nuv::PsfFont font = nuv::load_psf_font(path);
    if (static_cast<size_t>(font.height) * font.bytes_per_row > font.bytes_per_glyph) {
      std::abort();
    }
    const uint8_t* end = font.glyphs.data() + font.glyphs.size();
    for (int byte = 0; byte < 256; ++byte) {
      const uint8_t* glyph = font.glyph(static_cast<uint8_t>(byte));
      if (glyph < font.glyphs.data() || font.bytes_per_glyph > static_cast<size_t>(end - glyph)) {
        std::abort();
      }
    }
  } catch (const nuv::FontError&) {
  }
  return 0;
}
