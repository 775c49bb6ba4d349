#include "host/runner/measures.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "host/base/printable.h"
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

void open_output(ReplacedFile& out, const std::string& path) {
  std::string why;
  if (!out.open(path, why)) throw std::runtime_error(why);
}

// The text of a file, written and put in place; false after saying why not.
bool publish(ReplacedFile& out, const std::string& text) {
  out.write(text);
  std::string why;
  if (out.commit(why)) return true;
  std::cerr << "nuvrelos-run: " << why << "\n";
  return false;
}

}  // namespace

RunMeasures::RunMeasures(Process& process, const MeasureOptions& options,
                         const std::vector<std::string>& args)
    : options_(options), program_(std::filesystem::absolute(args.at(0)).string()) {
  for (const std::string& a : args) command_ += (command_.empty() ? "" : " ") + a;
  if (options_.coverage.empty() && options_.profile.empty()) return;
  if (!options_.coverage.empty()) open_output(coverage_out_, options_.coverage);
  if (!options_.profile.empty()) open_output(profile_out_, options_.profile);
  map_ = SourceMap::read(args.at(0));
  if (map_.ranges().empty()) {
    std::cerr << "nuvrelos-run: warning: " << args[0]
              << " has no line table (build it with -g): coverage and profile name no lines\n";
  }
  if (!options_.coverage.empty()) coverage_ = std::make_unique<BlockCoverage>(process);
  if (!options_.profile.empty()) profiler_ = std::make_unique<Profiler>(process);
}

RunMeasures::~RunMeasures() = default;

void RunMeasures::attach(Process& child, int32_t pid) {
  if (!coverage_ && !profiler_) return;
  Child c{&child, nullptr, nullptr};
  if (coverage_) c.coverage = std::make_unique<BlockCoverage>(child);
  if (profiler_) c.profiler = std::make_unique<Profiler>(child);
  children_[pid] = std::move(c);
}

void RunMeasures::detach(Process& child, int32_t pid, const std::string& program) {
  auto it = children_.find(pid);
  if (it == children_.end() || it->second.process != &child) return;
  try {
    // The program's file stays open while its process lives: its lines are read from there.
    std::string path = child.image().path();
    SourceMap map = SourceMap::read(path);
    if (it->second.coverage) {
      merge(children_lines_, line_coverage(map, it->second.coverage->blocks()));
    }
    if (it->second.profiler) {
      RawProfile p = it->second.profiler->finish();
      // Process 1's program is known by its file; another by the name it was started with.
      std::error_code ec;
      std::string name = std::filesystem::equivalent(path, program_, ec) ? program_ : program;
      if (name.empty()) name = "[process " + std::to_string(pid) + "]";
      auto same =
          std::ranges::find(children_profiles_, name, [](const auto& e) { return e.first; });
      if (same == children_profiles_.end()) {
        children_profiles_.emplace_back(name, ProgramMeasure{std::move(map), std::move(p)});
      } else {
        merge(same->second.profile, p);
      }
    }
  } catch (const std::exception& e) {
    std::cerr << "nuvrelos-run: warning: --coverage/--profile: process " << pid << ": " << e.what()
              << "\n";
  }
  children_.erase(it);
}

bool RunMeasures::finish() {
  bool ok = true;
  // Processes still there (a run that was stopped) count as they are.
  while (!children_.empty()) {
    auto& [pid, child] = *children_.begin();
    detach(*child.process, pid, "");
  }
  if (coverage_) {
    LineCoverage cov = line_coverage(map_, coverage_->blocks());
    merge(cov, children_lines_);
    // genhtml shows the sources it can open by the names the file gives, so a source whose
    // path would need escaping is left out with those that are not on this machine.
    keep_files(cov, [](const std::string& f) {
      return printable(f) == f && std::filesystem::is_regular_file(f);
    });
    std::ostringstream text;
    write_lcov(text, lcov_test_name(std::filesystem::path(program_).stem().string()), cov);
    ok = publish(coverage_out_, text.str()) && ok;
  }
  if (profiler_) {
    RawProfile p = profiler_->finish();
    // Children running process 1's program add to its profile; other programs are objects of
    // their own.
    std::vector<ProgramProfile> programs{{program_, &map_, &p}};
    for (const auto& [name, measure] : children_profiles_) {
      if (name == program_) {
        merge(p, measure.profile);
      } else {
        programs.push_back({name, &measure.map, &measure.profile});
      }
    }
    std::ostringstream text;
    if (options_.profile_format == "folded") {
      write_folded(text, programs);
    } else {
      write_callgrind(text, programs, command_);
    }
    ok = publish(profile_out_, text.str()) && ok;
  }
  return ok;
}

}  // namespace nuv
