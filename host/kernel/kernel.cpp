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

int32_t write_host_stdout(KernelShared& shared, std::string_view bytes);
void end_machine_run(KernelShared& shared, RunStop stop);

KernelShared::KernelShared(KernelConfig c) : config(std::move(c)) {}
KernelShared::~KernelShared() = default;

Kernel::Kernel(GuestMemory& memory, KernelConfig config)
    : memory_(memory),
      shared_(std::make_shared<KernelShared>(std::move(config))),
      fs_(shared_->config.root, shared_->config.resolver) {
  KernelConfig& c = shared_->config;
  if (!c.console_out) {
    c.console_out = [shared = shared_.get()](std::string_view bytes) {
      return write_host_stdout(*shared, bytes);
    };
  }
  if (!c.console_in) c.console_in = host_stdin;
  shared_->console_in = std::make_shared<ConsoleIn>(c.console_in);
  shared_->console_out = std::make_shared<ConsoleOut>(c.console_out);
  files_.install(0, shared_->console_in);
  files_.install(1, shared_->console_out);
  files_.install(2, shared_->console_out);
  shared_->compositor = std::make_unique<Compositor>(
      c.gui, [shared = shared_.get()](RunStop stop) { end_machine_run(*shared, std::move(stop)); });
  shared_->compositor->set_stop_check(
      [shared = shared_.get()] { return shared->stop_request.raised(); });
  script_failures(c.gui.scenario);
}

Kernel::Kernel(GuestMemory& memory, std::shared_ptr<KernelShared> shared, RootFs fs,
               Descriptors files, int32_t pid)
    : memory_(memory),
      shared_(std::move(shared)),
      fs_(std::move(fs)),
      files_(std::move(files)),
      pid_(pid) {
  script_failures(shared_->config.gui.scenario);
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

Compositor& Kernel::compositor() { return *shared_->compositor; }

// The machine's end, for whichever process's call brought it: the calling process stops at
// once, the others when the machine next looks.
void end_machine_run(KernelShared& shared, RunStop stop) {
  if (shared.stopped) return;
  shared.stopped = std::move(stop);
  if (shared.current != nullptr) shared.current->set_exited(0);
}

int32_t write_host_stdout(KernelShared& shared, std::string_view bytes) {
  // Unbuffered, like the guest's own writes: output interleaves correctly with the trace.
  // A write blocked on a full pipe is interrupted by a signal when the run is asked to end;
  // it then gives up (what is lost then is the stop's doing, not a host failure).
  while (!bytes.empty()) {
    if (shared.stop_request.raised()) return err::kEIO;
    ssize_t n = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // The guest learns what the host's write said (a full disk, a reader gone); a standard
      // output that was closed is an I/O error to it, as its own descriptor 1 is open.
      int error = n < 0 ? errno : EIO;
      if (shared.output_error == 0) shared.output_error = error;
      shared.output_lost += bytes.size();
      // A native program dies of SIGPIPE here; a full disk or an I/O error it hears about.
      if (error == EPIPE) end_machine_run(shared, RunStop{RunStop::Cause::Signal, SIGPIPE, ""});
      return error == EBADF ? err::kEIO : err::from_host_errno(error);
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return 0;
}

void Kernel::add_observer(CallObserver observer) {
  shared_->observers.push_back(std::move(observer));
}

void Kernel::script(uint32_t number, Script script) { scripts_[number] = std::move(script); }

void Kernel::set_exited(int32_t status) {
  exited_ = true;
  exit_status_ = status;
  if (stop_cpu) stop_cpu();
}

void Kernel::end_run(RunStop stop) {
  if (shared_->stopped) return;
  shared_->stopped = std::move(stop);
  set_exited(0);
}

int32_t Kernel::dispatch(uint32_t number, const Slots& slots) {
  KernelShared& shared = *shared_;
  ServiceCall call;
  call.number = number;
  call.slots = slots;
  call.pid = pid_;
  bool show = decoding_ || !shared.observers.empty();
  const ServiceInfo* info = find_service(number);
  CallJournal* journal = shared.journal;
  bool ran = true;
  shared.current = this;
  if (journal == nullptr) {
    call.result = answer(info, call, show);
  } else if (auto recorded = journal->answer(*this, call)) {
    // Answered from a record: the arguments are only shown, as they would have been read.
    call.result = *recorded;
    ran = false;
    if (show && info && call.result != kWouldBlock) {
      info->show(*this, call.slots, call, journal->answered_stores());
    }
  } else {
    stores_.clear();
    capturing_ = true;
    call.result = answer(info, call, show);
    capturing_ = false;
  }
  shared.current = nullptr;
  // A parked call is not over: it runs again, and is seen once, when it completes. Without a
  // machine (a kernel of one process) nobody could ever wake it: it answers at once.
  if (call.result == kWouldBlock && shared.host == nullptr) {
    call.result = err::kEAGAIN;
  } else if (call.result == kWouldBlock) {
    if (journal != nullptr) journal->parked(*this, call);
    return call.result;
  }
  if (journal != nullptr) {
    if (ran) {
      journal->completed(*this, call, stores_);
    } else {
      journal->completed(*this, call, {});
    }
  }
  waiting_.clear();
  ++shared.wakes;
  call.seq = ++shared.seq;
  call.several = shared.several;
  if (recording_) calls_.push_back(call);
  for (const auto& observer : shared.observers) observer(call);
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
        if (show && info) info->show(*this, call.slots, call, {});
        return *result;
      }
      slots = scripted.slots;
    }
  }
  if (info != nullptr && info->serve != nullptr) return info->serve(*this, slots, shown);
  // Nothing serves the number: the arguments are only shown, as they would have been read.
  if (show && info) info->show(*this, slots, call, {});
  if (show && !info) {
    for (size_t i = 0; i < slots.size(); ++i) call.args[i] = decoded::Hex{slots[i]};
  }
  return err::kENOSYS;
}

}  // namespace nuv
