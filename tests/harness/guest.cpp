#include "tests/harness/guest.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>

#include "host/measure/lcov.h"

#ifndef NUV_BINARY_DIR
#error "NUV_BINARY_DIR must name the build directory"
#endif

namespace nuv::test {

std::string guest_program(std::string_view name) {
  std::filesystem::path bin = NUV_BINARY_DIR;
  std::filesystem::path in_tests = bin / "tests" / "guest" / name;
  if (std::filesystem::exists(in_tests)) return in_tests.string();
  return (bin / "programs" / name / name).string();
}

namespace {

// Every guest of this test process adds what it ran; the tracefiles, one per program, are
// written when the process ends (scripts/coverage merges them across processes).
class CoverageCollector {
 public:
  // Null unless NUV_COVERAGE_DIR names a directory to write to.
  static CoverageCollector* get() {
    static CoverageCollector collector;
    return collector.dir_.empty() ? nullptr : &collector;
  }

  void add(const std::string& program, const std::vector<CodeBlock>& ran) {
    auto it = maps_.find(program);
    if (it == maps_.end()) it = maps_.emplace(program, SourceMap::read(program)).first;
    merge(runs_[program], line_coverage(it->second, ran));
  }

  ~CoverageCollector() {
    for (auto& [program, coverage] : runs_) {
      keep_files(coverage,
                 [](const std::string& f) { return std::filesystem::is_regular_file(f); });
      std::string name = std::filesystem::path(program).stem().string();
      std::ofstream out(dir_ / (name + "-" + std::to_string(::getpid()) + ".info"));
      write_lcov(out, lcov_test_name(name), coverage);
    }
  }

 private:
  CoverageCollector() {
    const char* dir = std::getenv("NUV_COVERAGE_DIR");
    if (dir != nullptr && *dir != '\0') {
      dir_ = dir;
      std::filesystem::create_directories(dir_);
    }
  }

  std::filesystem::path dir_;
  std::map<std::string, SourceMap> maps_;
  std::map<std::string, LineCoverage> runs_;
};

}  // namespace

Guest::Guest(std::string_view program, GuestOptions options)
    : program_name_(program), root_(options.root), input_(std::move(options.input)) {
  if (root_.empty()) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "nuv-root-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("cannot make a temp dir");
    root_ = tmpl;
    own_root_ = true;
  }
  KernelConfig config;
  config.root = root_;
  if (!options.host_console) {
    config.console_out = [this](std::string_view bytes) {
      console_.append(bytes);
      return 0;
    };
  }
  config.console_in = [this](void* buffer, size_t size) -> long {
    size_t n = std::min(size, input_.size() - input_pos_);
    std::memcpy(buffer, input_.data() + input_pos_, n);
    input_pos_ += n;
    return static_cast<long>(n);
  };
  config.gui = options.gui;
  config.resolver = options.resolver;
  config.write_through_links = options.write_through_links;
  process_ = std::make_unique<Process>(guest_program(program), std::move(config));
  process_->memory().map(layout::kScratchBase, layout::kScratchSize, kRead | kWrite, "scratch");
  process_->kernel().set_recording(true);
  if (CoverageCollector::get() != nullptr) coverage_ = std::make_unique<BlockCoverage>(*process_);
}

Guest::~Guest() {
  if (coverage_) {
    try {
      CoverageCollector::get()->add(guest_program(program_name_), coverage_->blocks());
    } catch (const std::exception& e) {
      std::fprintf(stderr, "coverage of %s lost: %s\n", program_name_.c_str(), e.what());
    }
    coverage_.reset();
  }
  process_.reset();
  if (own_root_) {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
}

uint32_t Guest::sym(std::string_view name) const {
  auto addr = process_->image().symbol(std::string(name));
  if (!addr) throw std::runtime_error("no symbol " + std::string(name) + " in the guest");
  return *addr;
}

RunResult Guest::call_result(std::string_view function, std::initializer_list<uint32_t> slots) {
  return process_->call(sym(function), std::span<const uint32_t>(slots.begin(), slots.size()));
}

namespace {

bool check(const RunResult& r, std::string_view function) {
  if (r.end == RunResult::End::Fault) {
    ADD_FAILURE() << "guest fault in " << function << ": " << r.message;
    return false;
  }
  return true;
}

}  // namespace

uint32_t Guest::call(std::string_view function, std::initializer_list<uint32_t> slots) {
  return check(call_result(function, slots), function) ? process_->eax() : 0;
}

long double Guest::call_ld(std::string_view function, std::initializer_list<uint32_t> slots) {
  return check(call_result(function, slots), function) ? process_->st0() : 0;
}

bool Guest::exited() const { return process_->kernel().exited(); }
int32_t Guest::exit_status() const { return process_->kernel().exit_status(); }

RunResult Guest::run(const std::vector<std::string>& args, uint32_t stack_offset) {
  return process_->run(args, stack_offset);
}

uint32_t Guest::alloc(uint32_t size, uint32_t align) {
  uint32_t at = (scratch_used_ + align - 1) & ~(align - 1);
  if (at + size > layout::kScratchSize) throw std::runtime_error("guest scratch is full");
  scratch_used_ = at + size;
  std::vector<uint8_t> zero(size);
  process_->memory().poke(layout::kScratchBase + at, zero.data(), size);
  return layout::kScratchBase + at;
}

uint32_t Guest::put(const void* data, uint32_t size) {
  uint32_t addr = alloc(size);
  write(addr, data, size);
  return addr;
}

uint32_t Guest::str(std::string_view text) {
  uint32_t addr = alloc(static_cast<uint32_t>(text.size() + 1));
  write(addr, text.data(), static_cast<uint32_t>(text.size()));
  return addr;
}

std::vector<uint8_t> Guest::read(uint32_t addr, uint32_t size) {
  std::vector<uint8_t> out(size);
  if (!process_->memory().copy_in(addr, out.data(), size)) {
    throw std::runtime_error("guest memory not readable");
  }
  return out;
}

std::string Guest::read_bytes(uint32_t addr, uint32_t size) {
  std::vector<uint8_t> v = read(addr, size);
  return std::string(v.begin(), v.end());
}

std::string Guest::read_str(uint32_t addr, uint32_t max) {
  auto s = process_->memory().read_string(addr, max);
  if (!s) throw std::runtime_error("no readable guest string there");
  return *s;
}

uint32_t Guest::u32(uint32_t addr) {
  uint32_t v = 0;
  if (!process_->memory().copy_in(addr, &v, 4)) throw std::runtime_error("guest u32 unreadable");
  return v;
}

void Guest::write(uint32_t addr, const void* data, uint32_t size) {
  if (!process_->memory().poke(addr, data, size)) {
    throw std::runtime_error("guest memory not mapped");
  }
}

void Guest::set_u32(uint32_t addr, uint32_t value) { write(addr, &value, 4); }

}  // namespace nuv::test
