// The command and package records that a nuvrelos executable carries in named sections, read
// as the system's tools read them (the format is abi/program_records.h's).
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "abi/program_records.h"
#include "host/emu/elf_image.h"

namespace nuv {

class MetaError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct MetaRecord {
  uint32_t version = 0;
  std::vector<std::string> strings;
};

// Throws MetaError naming what is wrong; `what` names the record in the message.
inline MetaRecord parse_meta_record(std::span<const uint8_t> bytes, std::string_view magic,
                                    std::string_view what) {
  auto fail = [&](const std::string& why) -> MetaError {
    return MetaError(std::string(what) + ": " + why);
  };
  if (bytes.size() < 9) throw fail("too short (" + std::to_string(bytes.size()) + " bytes)");
  if (std::string_view(reinterpret_cast<const char*>(bytes.data()), 4) != magic) {
    throw fail("bad magic, expected \"" + std::string(magic) + "\"");
  }
  MetaRecord record;
  record.version = uint32_t{bytes[4]} | uint32_t{bytes[5]} << 8 | uint32_t{bytes[6]} << 16 |
                   uint32_t{bytes[7]} << 24;
  if (record.version != NUVRELOS_RECORD_VERSION) {
    throw fail("unsupported version " + std::to_string(record.version));
  }
  size_t pos = 8;
  for (;;) {
    size_t end = pos;
    while (end < bytes.size() && bytes[end] != 0) ++end;
    if (end == bytes.size()) throw fail("string list not closed by an empty string");
    if (end == pos) break;
    record.strings.emplace_back(reinterpret_cast<const char*>(bytes.data() + pos), end - pos);
    pos = end + 1;
  }
  size_t size = pos + 1;
  if (size != bytes.size()) {
    throw fail(std::to_string(bytes.size() - size) + " stray bytes after the record");
  }
  return record;
}

inline MetaRecord read_meta_section(const ElfImage& image, const std::string& section,
                                    std::string_view magic, size_t string_count) {
  auto found = image.section(section);
  if (!found) throw MetaError("no " + section + " section");
  MetaRecord record = parse_meta_record(found->bytes, magic, section);
  if (record.strings.size() != string_count) {
    throw MetaError(section + ": " + std::to_string(record.strings.size()) + " strings, expected " +
                    std::to_string(string_count));
  }
  return record;
}

// "command: NAME\ndescription: TEXT\npackage: NAME SECOND\n"; a record the program does not
// declare is "command: none declared" or "package: none declared".
inline std::string describe_metadata(const ElfImage& image) {
  std::string out;
  if (image.section(NUVRELOS_COMMAND_SECTION)) {
    MetaRecord command = read_meta_section(image, NUVRELOS_COMMAND_SECTION, NUVRELOS_COMMAND_MAGIC,
                                           NUVRELOS_COMMAND_STRINGS);
    out += "command: " + command.strings[1] + "\ndescription: " + command.strings[0] + "\n";
  } else {
    out += "command: none declared\n";
  }
  if (image.section(NUVRELOS_PACKAGE_SECTION)) {
    MetaRecord package = read_meta_section(image, NUVRELOS_PACKAGE_SECTION, NUVRELOS_PACKAGE_MAGIC,
                                           NUVRELOS_PACKAGE_STRINGS);
    out += "package: " + package.strings[0] + " " + package.strings[1] + "\n";
  } else {
    out += "package: none declared\n";
  }
  return out;
}

}  // namespace nuv
