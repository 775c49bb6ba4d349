#include "host/runner/command_line.h"

#include <cerrno>
#include <iostream>

namespace nuv::cli {
namespace {

class OneUsageLine : public CLI::Formatter {
 public:
  explicit OneUsageLine(std::string usage) : usage_(std::move(usage)) {}
  std::string make_usage(const CLI::App*, std::string) const override { return usage_ + "\n"; }

 private:
  std::string usage_;
};

}  // namespace

void set_usage(CLI::App& app, std::string usage) {
  app.formatter(std::make_shared<OneUsageLine>(std::move(usage)));
}

int usage_error(const std::string& command, const std::string& problem) {
  std::cerr << command << ": " << problem << "\nTry '" << command << " --help'\n";
  return kUsageStatus;
}

std::optional<int> parse(CLI::App& app, int argc, char** argv, const std::string& version_line) {
  app.set_version_flag("--version", version_line, "Print the version and exit");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::CallForVersion&) {
    std::cout << version_line << "\n";
    return 0;
  } catch (const CLI::ParseError& e) {
    return usage_error(app.get_name(), e.what());
  }
  return std::nullopt;
}

int load_failure_status(const LoadError& e) {
  return e.os_error() == ENOENT || e.os_error() == ENOTDIR ? kNotFoundStatus : kCannotRunStatus;
}

}  // namespace nuv::cli
