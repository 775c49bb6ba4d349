// nuvrelos-meta FILE: prints the command and package records of a nuvrelos executable.
#include <CLI/CLI.hpp>
#include <iostream>
#include <string>

#include "host/emu/elf_image.h"
#include "host/runner/meta_record.h"

int main(int argc, char** argv) {
  CLI::App app{"Print the command and package records of a nuvrelos executable"};
  std::string path;
  app.add_option("FILE", path, "the executable")->required();
  CLI11_PARSE(app, argc, argv);

  try {
    std::cout << nuv::describe_metadata(nuv::ElfImage::load(path));
  } catch (const nuv::LoadError& e) {
    std::cerr << "nuvrelos-meta: " << e.what() << "\n";
    return 1;
  } catch (const nuv::MetaError& e) {
    std::cerr << "nuvrelos-meta: " << path << ": " << e.what() << "\n";
    return 1;
  }
  return 0;
}
