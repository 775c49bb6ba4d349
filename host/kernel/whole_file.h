// writefile's host side: a whole file replaced so that a failure or a kill at any moment
// leaves either the old content or the new, never a mixture, and nothing outside the
// directory it names.
//
// The new content goes into a temporary file beside the target, named after the target
// (".nuvrelos-" and eight hex digits: short, so any name that fits the directory fits its
// temporary too), and is renamed over it. A temporary file left by a killed run is removed
// by the next write of the same name; one that a live writer holds (it keeps a lock on it)
// is left alone and the write answers err::kEAGAIN. The replacement keeps the old file's
// permission bits and, when the runner may set it, its owner.
//
// Hard links: an atomic replace gives the name a new file, so the target's other links keep
// the old content. That is the default, because atomicity is what a kill in the middle needs.
// With through_links a file with several links is written in place instead, so every link
// sees the new content, at the price of a mixture if the write is cut short.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace nuv {

// The temporary name writefile uses for `name` in its directory.
std::string whole_file_temp_name(std::string_view name);

// Replaces `name` in the directory `dir` (a host descriptor) by `bytes`; the byte count or a
// negative error. A directory is refused with err::kEISDIR before anything is created.
int32_t replace_whole_file(int dir, const std::string& name, std::span<const uint8_t> bytes,
                           bool through_links);

}  // namespace nuv
