#include "host/kernel/kernel.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "host/base/guest_errors.h"
#include "host/gui/compositor.h"
#include "host/kernel/service_table.h"

namespace nuv {
namespace {

long host_stdin(void* buffer, size_t size) { return ::read(STDIN_FILENO, buffer, size); }

}  // namespace

Kernel::Kernel(GuestMemory& memory, KernelConfig config)
    : memory_(memory), config_(std::move(config)), fs_(config_.root, config_.resolver) {
  if (!config_.console_out) {
    config_.console_out = [this](std::string_view bytes) { return write_host_stdout(bytes); };
  }
  if (!config_.console_in) config_.console_in = host_stdin;
  auto in = std::make_shared<ConsoleIn>(config_.console_in);
  auto out = std::make_shared<ConsoleOut>(config_.console_out);
  files_.install(0, in);
  files_.install(1, out);
  files_.install(2, out);
  compositor_ =
      std::make_unique<Compositor>(config_.gui, [this](RunStop stop) { end_run(std::move(stop)); });
  compositor_->set_stop_check([this] { return stop_request_.raised(); });
  script_failures(config_.gui.scenario);
}

// A scenario's failures are scripted answers, like a test's: the compositor never sees them.
void Kernel::script_failures(const Scenario& scenario) {
  for (const std::string& name : scenario.fail) {
    const InjectedFailure* kind = find_injected_failure(name);
    if (kind == nullptr) continue;
    bool only_off = kind->only_switching_off;
    script(kind->service, [only_off](ServiceCall& call) -> std::optional<int32_t> {
      if (only_off && call.slots[1] != 0) return std::nullopt;
      return err::kEIO;
    });
  }
}

Kernel::~Kernel() = default;

Compositor& Kernel::compositor() { return *compositor_; }

int32_t Kernel::write_host_stdout(std::string_view bytes) {
  // Unbuffered, like the guest's own writes: output interleaves correctly with the trace.
  // A write blocked on a full pipe is interrupted by a signal when the run is asked to end;
  // it then gives up (what is lost then is the stop's doing, not a host failure).
  while (!bytes.empty()) {
    if (stop_request_.raised()) return err::kEIO;
    ssize_t n = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // The guest learns what the host's write said (a full disk, a reader gone); a standard
      // output that was closed is an I/O error to it, as its own descriptor 1 is open.
      int error = n < 0 ? errno : EIO;
      if (output_error_ == 0) output_error_ = error;
      output_lost_ += bytes.size();
      // A native program dies of SIGPIPE here; a full disk or an I/O error it hears about.
      if (error == EPIPE) end_by_signal(SIGPIPE);
      return error == EBADF ? err::kEIO : err::from_host_errno(error);
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return 0;
}

void Kernel::add_observer(CallObserver observer) { observers_.push_back(std::move(observer)); }

void Kernel::script(uint32_t number, Script script) { scripts_[number] = std::move(script); }

void Kernel::set_exited(int32_t status) {
  exited_ = true;
  exit_status_ = status;
  if (stop_cpu) stop_cpu();
}

void Kernel::end_run(RunStop stop) {
  if (stopped_) return;
  stopped_ = std::move(stop);
  set_exited(0);
}

int32_t Kernel::dispatch(uint32_t number, const Slots& slots) {
  ServiceCall call;
  call.seq = ++seq_;
  call.number = number;
  call.slots = slots;
  bool show = decoding_ || !observers_.empty();
  const ServiceInfo* info = find_service(number);
  if (journal_ == nullptr) {
    call.result = answer(info, call, show);
  } else if (auto recorded = journal_->answer(*this, call)) {
    // Answered from a record: the arguments are only shown, as they would have been read.
    call.result = *recorded;
    if (show && info) info->show(*this, call.slots, call);
    journal_->completed(*this, call, {});
  } else {
    stores_.clear();
    capturing_ = true;
    call.result = answer(info, call, show);
    capturing_ = false;
    journal_->completed(*this, call, stores_);
  }
  if (recording_) calls_.push_back(call);
  for (const auto& observer : observers_) observer(call);
  return call.result;
}

int32_t Kernel::answer(const ServiceInfo* info, ServiceCall& call, bool show) {
  ServiceCall* shown = show ? &call : nullptr;
  Slots slots = call.slots;
  if (!scripts_.empty()) {
    auto it = scripts_.find(call.number);
    if (it != scripts_.end()) {
      // The script may change the slots the handler sees; the record keeps the guest's.
      ServiceCall scripted = call;
      if (auto result = it->second(scripted)) {
        if (show && info) info->show(*this, call.slots, call);
        return *result;
      }
      slots = scripted.slots;
    }
  }
  if (info != nullptr && info->serve != nullptr) return info->serve(*this, slots, shown);
  // Nothing serves the number: the arguments are only shown, as they would have been read.
  if (show && info) info->show(*this, slots, call);
  if (show && !info) {
    for (size_t i = 0; i < slots.size(); ++i) call.args[i] = decoded::Hex{slots[i]};
  }
  return err::kENOSYS;
}

}  // namespace nuv
