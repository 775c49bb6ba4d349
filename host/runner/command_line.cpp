#include "host/runner/command_line.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>

namespace nuv {
namespace {

class OneUsageLine : public CLI::Formatter {
 public:
  explicit OneUsageLine(std::string usage) : usage_(std::move(usage)) {}
  std::string make_usage(const CLI::App*, std::string) const override { return usage_ + "\n"; }

 private:
  std::string usage_;
};

// What the user typed, as the message quotes it: a value of any length stays one short line.
std::string given(const std::string& value) {
  constexpr size_t kShown = 32;
  return "'" + (value.size() > kShown ? value.substr(0, kShown) + "..." : value) + "'";
}

// A plain decimal number: digits only, with at most a '-' before them.
bool all_digits(std::string_view text) {
  if (text.starts_with('-')) text.remove_prefix(1);
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

CLI::Option* add_whole_number(CLI::App& app, const std::string& name,
                              std::function<void(uint64_t)> store, uint64_t min, uint64_t max,
                              const std::string& help) {
  auto parse = [name, store, min, max](const std::string& text) {
    if (!all_digits(text)) throw CLI::ValidationError(name, given(text) + " is not a whole number");
    uint64_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.starts_with('-') || ec != std::errc() || v < min || v > max) {
      throw CLI::ValidationError(name, given(text) + " is out of range (" + std::to_string(min) +
                                           " to " + std::to_string(max) + ")");
    }
    store(v);
  };
  return app.add_option_function<std::string>(name, parse, help)->type_name("N");
}

CLI::Option* add_seconds(CLI::App& app, const std::string& name, double& into, double max_seconds,
                         const std::string& help) {
  auto parse = [name, &into, max_seconds](const std::string& text) {
    double v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    bool whole = end == text.data() + text.size() && !text.empty();
    if (!whole || (ec != std::errc() && ec != std::errc::result_out_of_range) || std::isnan(v)) {
      throw CLI::ValidationError(name, given(text) + " is not a number of seconds");
    }
    if (ec != std::errc() || !(v > 0) || v > max_seconds) {
      char most[32];
      std::snprintf(most, sizeof most, "%.0f", max_seconds);
      throw CLI::ValidationError(
          name, given(text) + " is out of range (more than 0, at most " + most + " seconds)");
    }
    into = v;
  };
  return app.add_option_function<std::string>(name, parse, help)->type_name("SECONDS");
}

void set_usage(CLI::App& app, std::string usage) {
  app.formatter(std::make_shared<OneUsageLine>(std::move(usage)));
}

int usage_error(const std::string& command, const std::string& problem) {
  std::cerr << command << ": " << problem << "\nTry '" << command << " --help'\n";
  return kUsageStatus;
}

std::optional<int> parse_command_line(CLI::App& app, int argc, char** argv,
                                      const std::string& version_line) {
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

}  // namespace nuv
