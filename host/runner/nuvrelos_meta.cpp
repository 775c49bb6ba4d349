// nuvrelos-meta FILE: prints the command and package records of a nuvrelos executable.
#include <CLI/CLI.hpp>
#include <iostream>
#include <string>

#include "host/emu/elf_image.h"
#include "host/runner/command_line.h"
#include "host/runner/meta_record.h"

namespace {
constexpr const char* kCommand = "nuvrelos-meta";
}

int main(int argc, char** argv) {
  CLI::App app{"Prints the command and package records of a nuvrelos executable.", kCommand};
  nuv::set_usage(app, std::string("Usage: ") + kCommand + " [OPTIONS] FILE");
  std::string path;
  app.add_option("FILE", path, "The executable")->required();
  if (auto status =
          nuv::parse_command_line(app, argc, argv, std::string(kCommand) + " " + NUV_VERSION)) {
    return *status;
  }

  try {
    std::cout << nuv::describe_metadata(nuv::ElfImage::load(path));
  } catch (const nuv::LoadError& e) {
    std::cerr << kCommand << ": " << e.what() << "\n";
    return nuv::load_failure_status(e);
  } catch (const nuv::MetaError& e) {
    std::cerr << kCommand << ": " << path << ": " << e.what() << "\n";
    return 1;
  }
  return 0;
}
