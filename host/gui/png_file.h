// Screenshots: a surface as an 8-bit RGB PNG file, and back.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "host/gui/surface.h"

namespace nuv {

// False, with the reason in *error, when the file cannot be written.
bool write_png(const std::filesystem::path& path, const Surface& surface, std::string* error);
// Any 8-bit PNG (grey, RGB, with or without alpha, palette); alpha is dropped. nullopt, with
// the reason in *error, for a file that is missing or not such a PNG.
std::optional<Surface> read_png(const std::filesystem::path& path, std::string* error);

}  // namespace nuv
