#include "host/runner/measures.h"

#include <filesystem>
#include <iostream>

#include "host/emu/printable.h"
#include "host/measure/lcov.h"
#include "host/measure/profile_writers.h"

namespace nuv {

void add_measure_options(CLI::App& app, MeasureOptions& o) {
  app.add_option("--coverage", o.coverage,
                 "Write the program's line and function coverage to this lcov tracefile "
                 "(genhtml renders it, lcov -a merges runs)");
  app.add_option("--profile", o.profile,
                 "Write where the program spends its guest instructions, per function and "
                 "line, with call edges and kernel calls, to this file");
  app.add_option("--profile-format", o.profile_format,
                 "callgrind (callgrind_annotate, KCachegrind; the default) or folded (flame "
                 "graphs)")
      ->check(CLI::IsMember({"callgrind", "folded"}))
      ->default_str("callgrind");
}

namespace {

void open_output(std::ofstream& out, const std::string& path, const char* what) {
  out.open(path, std::ios::out | std::ios::trunc);
  if (!out) throw std::runtime_error(std::string("cannot write the ") + what + " file " + path);
}

}  // namespace

RunMeasures::RunMeasures(Process& process, const MeasureOptions& options,
                         const std::vector<std::string>& args)
    : options_(options), program_(std::filesystem::absolute(args.at(0)).string()) {
  for (const std::string& a : args) command_ += (command_.empty() ? "" : " ") + a;
  if (options_.coverage.empty() && options_.profile.empty()) return;
  if (!options_.coverage.empty()) open_output(coverage_out_, options_.coverage, "coverage");
  if (!options_.profile.empty()) open_output(profile_out_, options_.profile, "profile");
  map_ = SourceMap::read(args.at(0));
  if (map_.ranges().empty()) {
    std::cerr << "nuvrelos-run: warning: " << args[0]
              << " has no line table (build it with -g): coverage and profile name no lines\n";
  }
  if (!options_.coverage.empty()) coverage_ = std::make_unique<BlockCoverage>(process);
  if (!options_.profile.empty()) profiler_ = std::make_unique<Profiler>(process);
}

RunMeasures::~RunMeasures() = default;

bool RunMeasures::finish() {
  bool ok = true;
  if (coverage_) {
    LineCoverage cov = line_coverage(map_, coverage_->blocks());
    // genhtml shows the sources it can open by the names the file gives, so a source whose
    // path would need escaping is left out with those that are not on this machine.
    keep_files(cov, [](const std::string& f) {
      return printable(f) == f && std::filesystem::is_regular_file(f);
    });
    write_lcov(coverage_out_, lcov_test_name(std::filesystem::path(program_).stem().string()), cov);
    coverage_out_.close();
    if (!coverage_out_) {
      std::cerr << "nuvrelos-run: cannot write the coverage file " << options_.coverage << "\n";
      ok = false;
    }
  }
  if (profiler_) {
    RawProfile p = profiler_->finish();
    if (options_.profile_format == "folded") {
      write_folded(profile_out_, map_, p);
    } else {
      write_callgrind(profile_out_, map_, p, program_, command_);
    }
    profile_out_.close();
    if (!profile_out_) {
      std::cerr << "nuvrelos-run: cannot write the profile file " << options_.profile << "\n";
      ok = false;
    }
  }
  return ok;
}

}  // namespace nuv
