#include "host/gui/png_file.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "host/base/replaced_file.h"

namespace nuv {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// libpng reports through longjmp; its message is kept for the caller.
void on_png_error(png_structp png, png_const_charp message) {
  auto* text = static_cast<std::string*>(png_get_error_ptr(png));
  if (text) *text = message;
  png_longjmp(png, 1);
}
void on_png_warning(png_structp, png_const_charp) {}

void set(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

}  // namespace

bool write_png(const std::filesystem::path& path, const Surface& surface, std::string* error) {
  if (surface.width <= 0 || surface.height <= 0) {
    set(error, "an empty picture cannot be a PNG");
    return false;
  }
  // Written beside the final name and put in place when whole: a failure or a kill leaves
  // the previous picture, never half a new one.
  ReplacedFile file;
  std::string why;
  if (!file.open(path, why)) {
    set(error, why);
    return false;
  }
  std::string message;
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, &message, on_png_error, on_png_warning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    set(error, "out of memory");
    return false;
  }
  // Allocated before setjmp: nothing that needs a destructor may be created after it.
  std::vector<uint8_t> line(static_cast<size_t>(surface.width) * 3);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    set(error, "cannot write " + path.string() + ": " + message);
    return false;
  }
  png_init_io(png, file.stream());
  png_set_IHDR(png, info, static_cast<png_uint_32>(surface.width),
               static_cast<png_uint_32>(surface.height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int32_t y = 0; y < surface.height; ++y) {
    const uint32_t* row = surface.row(y);
    for (int32_t x = 0; x < surface.width; ++x) {
      line[3 * static_cast<size_t>(x)] = static_cast<uint8_t>(red_of(row[x]));
      line[3 * static_cast<size_t>(x) + 1] = static_cast<uint8_t>(green_of(row[x]));
      line[3 * static_cast<size_t>(x) + 2] = static_cast<uint8_t>(blue_of(row[x]));
    }
    png_write_row(png, line.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (!file.commit(why)) {
    set(error, why);
    return false;
  }
  return true;
}

std::optional<Surface> read_png(const std::filesystem::path& path, std::string* error) {
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    set(error, "cannot read " + path.string() + ": " + std::strerror(errno));
    return std::nullopt;
  }
  uint8_t signature[8] = {};
  if (std::fread(signature, 1, sizeof signature, file.get()) != sizeof signature ||
      png_sig_cmp(signature, 0, sizeof signature) != 0) {
    set(error, path.string() + " is not a PNG file");
    return std::nullopt;
  }
  std::string message;
  png_structp png =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, &message, on_png_error, on_png_warning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    set(error, "out of memory");
    return std::nullopt;
  }
  Surface out;
  std::vector<uint8_t> line;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    set(error, path.string() + ": " + message);
    return std::nullopt;
  }
  png_init_io(png, file.get());
  png_set_sig_bytes(png, sizeof signature);
  png_read_info(png, info);
  png_uint_32 width = png_get_image_width(png, info);
  png_uint_32 height = png_get_image_height(png, info);
  if (png_get_bit_depth(png, info) != 8 ||
      png_get_interlace_type(png, info) != PNG_INTERLACE_NONE || width > 65536 || height > 65536) {
    png_destroy_read_struct(&png, &info, nullptr);
    set(error, path.string() + ": only plain 8-bit PNGs are read");
    return std::nullopt;
  }
  // Everything becomes RGB: palettes expanded, grey widened, alpha stripped.
  png_set_palette_to_rgb(png);
  png_set_gray_to_rgb(png);
  png_set_strip_alpha(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != size_t{width} * 3) {
    png_destroy_read_struct(&png, &info, nullptr);
    set(error, path.string() + ": unexpected row layout");
    return std::nullopt;
  }
  out.width = static_cast<int32_t>(width);
  out.height = static_cast<int32_t>(height);
  out.pixels.assign(size_t{width} * height, 0);
  line.resize(size_t{width} * 3);
  for (png_uint_32 y = 0; y < height; ++y) {
    png_read_row(png, line.data(), nullptr);
    uint32_t* row = out.row(static_cast<int32_t>(y));
    for (png_uint_32 x = 0; x < width; ++x)
      row[x] = rgb(line[3 * x], line[3 * x + 1], line[3 * x + 2]);
  }
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return out;
}

}  // namespace nuv
