#include "host/timetravel/run_replayer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>

#include "host/base/guest_errors.h"
#include "host/kernel/service_table.h"
#include "host/timetravel/call_classes.h"

namespace nuv {
namespace {

std::string service_name(uint32_t number) {
  const ServiceInfo* info = find_service(number);
  return info ? info->name : "service " + std::to_string(number);
}

std::string event_name(const RunEvent& e) {
  if (const auto* c = std::get_if<RecordedCall>(&e)) return service_name(c->number);
  if (std::holds_alternative<RecordedRdtsc>(e)) return "rdtsc";
  if (std::holds_alternative<RecordedProgram>(e)) return "a spawned program";
  return "the end of the run";
}

// The process an event belongs to; 0 for the end, which is everyone's.
uint32_t owner(const RunEvent& e) {
  if (const auto* c = std::get_if<RecordedCall>(&e)) return c->pid;
  if (const auto* r = std::get_if<RecordedRdtsc>(&e)) return r->pid;
  return 0;
}

std::string slots_text(const uint32_t* slots) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "(0x%" PRIx32 ", 0x%" PRIx32 ", 0x%" PRIx32 ")", slots[0],
                slots[1], slots[2]);
  return buf;
}

uint32_t call_address(Kernel& kernel) { return kernel.call_address ? kernel.call_address() : 0; }

// The recorded program's bytes in a file of memory, for the loader.
int memory_file(const std::vector<uint8_t>& bytes) {
  int fd = ::memfd_create("nuvrelos-replay-child", MFD_CLOEXEC);
  if (fd < 0) return err::kENOMEM;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) {
      ::close(fd);
      return err::kENOMEM;
    }
    done += static_cast<size_t>(n);
  }
  return fd;
}

}  // namespace

RunReplayer::RunReplayer(std::shared_ptr<const RunRecord> record)
    : record_(std::move(record)), taken_(record_->events.size(), false) {}

void RunReplayer::take(size_t event) {
  taken_[event] = true;
  while (next_ < taken_.size() && taken_[next_]) ++next_;
}

void RunReplayer::diverge(Kernel& kernel, uint32_t eip, const std::string& name,
                          const std::string& what) {
  if (diverged_) return;
  diverged_ = true;
  char where[128];
  std::snprintf(where, sizeof where, "replay diverged at service call %zu (%s), eip 0x%08" PRIx32,
                calls_ + 1, name.c_str(), eip);
  std::string process =
      kernel.pid() != 1 ? " in process " + std::to_string(kernel.pid()) : std::string();
  kernel.end_run(RunStop{RunStop::Cause::Diverged, 0, std::string(where) + process + ": " + what});
}

std::vector<CallStore> RunReplayer::answered_stores() const {
  std::vector<CallStore> out;
  if (!answered_) return out;
  for (const RecordedStore& s : std::get<RecordedCall>(record_->events[*answered_]).stores) {
    out.push_back(CallStore{s.address, s.bytes});
  }
  return out;
}

std::optional<int32_t> RunReplayer::answer(Kernel& kernel, const ServiceCall& call) {
  answered_.reset();
  executing_.reset();
  if (diverged_) return err::kEIO;
  Replay kind = replay_of(call.number);
  if (kind == Replay::Drawing) return std::nullopt;
  std::string name = service_name(call.number);
  const auto& events = record_->events;
  uint32_t pid = static_cast<uint32_t>(kernel.pid());
  // The next call of the record; another process's rdtsc before it is that process's to take.
  size_t at = next_;
  for (; at < events.size(); ++at) {
    if (taken_[at]) continue;
    const auto* r = std::get_if<RecordedRdtsc>(&events[at]);
    if (r == nullptr || r->pid == pid) break;
  }
  if (at >= events.size()) {
    diverge(kernel, call_address(kernel), name, "the record ends before this call");
    return err::kEIO;
  }
  uint32_t turn = owner(events[at]);
  if (turn != 0 && turn != pid && kernel.shared().host != nullptr) {
    // Another process's call came first when the run was recorded.
    return kernel.block("its turn in the record, after process " + std::to_string(turn));
  }
  const auto* rc = std::get_if<RecordedCall>(&events[at]);
  if (rc == nullptr || rc->pid != pid) {
    diverge(kernel, call_address(kernel), name,
            "expected " + event_name(events[at]) + ", got " + name);
    return err::kEIO;
  }
  if (rc->number != call.number) {
    diverge(kernel, call_address(kernel), name,
            "expected " + service_name(rc->number) + ", got " + name);
    return err::kEIO;
  }
  bool same_slots = std::equal(call.slots.begin(), call.slots.end(), rc->slots);
  if (!same_slots) {
    diverge(
        kernel, call_address(kernel), name,
        "expected arguments " + slots_text(rc->slots) + ", got " + slots_text(call.slots.data()));
    return err::kEIO;
  }
  if (argument_digest(kernel.memory(), call.number, call.slots) != rc->digest) {
    diverge(kernel, call_address(kernel), name,
            "expected the bytes it hands over as recorded, got different ones");
    return err::kEIO;
  }
  if (kind == Replay::Executed && rc->result >= 0) {
    // Taken once it completes: a call that waits is asked again.
    executing_ = at;
    return std::nullopt;
  }
  answered_ = at;
  take(at);
  ++calls_;
  for (const RecordedStore& s : rc->stores) {
    kernel.memory().copy_out(s.address, s.bytes.data(), s.bytes.size());
  }
  if ((rc->flags & RecordedCall::kConsoleOutput) != 0 && rc->result > 0) {
    std::string bytes(std::min<uint32_t>(static_cast<uint32_t>(rc->result), call.slots[2]), '\0');
    if (kernel.memory().copy_in(call.slots[1], bytes.data(), bytes.size())) {
      kernel.config().console_out(bytes);
    }
  }
  return rc->result;
}

int RunReplayer::program(Kernel&, const std::string&, const std::function<int()>&) {
  // The file the path names now is not what ran, and the host is not read: the child is the
  // recorded program.
  if (!executing_) return err::kENOENT;
  size_t at = *executing_ + 1;
  const auto& events = record_->events;
  const auto* p = at < events.size() ? std::get_if<RecordedProgram>(&events[at]) : nullptr;
  if (p == nullptr) return err::kENOENT;
  return memory_file(p->bytes);
}

void RunReplayer::completed(Kernel& kernel, const ServiceCall& call,
                            const std::vector<CallStore>&) {
  if (!executing_) {
    if (replay_of(call.number) != Replay::Drawing && !diverged_) end_if_recorded(kernel);
    return;
  }
  size_t at = *executing_;
  executing_.reset();
  const auto& rc = std::get<RecordedCall>(record_->events[at]);
  take(at);
  if (at + 1 < taken_.size() && std::holds_alternative<RecordedProgram>(record_->events[at + 1])) {
    take(at + 1);
  }
  if (call.result != rc.result && !diverged_) {
    diverge(
        kernel, call_address(kernel), service_name(call.number),
        "expected result " + std::to_string(rc.result) + ", got " + std::to_string(call.result));
    return;
  }
  ++calls_;
  if (!diverged_) end_if_recorded(kernel);
}

void RunReplayer::end_if_recorded(Kernel& kernel) {
  if (next_ >= record_->events.size()) return;
  const auto* end = std::get_if<RecordedEnd>(&record_->events[next_]);
  if (end == nullptr || kernel.stopped()) return;
  take(next_);
  RunStop stop{static_cast<RunStop::Cause>(end->cause), end->signal, end->message};
  stop.end_of_record = true;
  kernel.end_run(stop);
}

uint64_t RunReplayer::rdtsc(Kernel& kernel, uint32_t eip, uint64_t) {
  if (diverged_) return 0;
  const auto& events = record_->events;
  uint32_t pid = static_cast<uint32_t>(kernel.pid());
  // This process's next event: other processes' earlier ones are theirs to take.
  size_t at = next_;
  for (; at < events.size(); ++at) {
    if (taken_[at]) continue;
    uint32_t who = owner(events[at]);
    if (who == pid || (who == 0 && !std::holds_alternative<RecordedProgram>(events[at]))) break;
  }
  if (at >= events.size()) {
    diverge(kernel, eip, "rdtsc", "the record ends before this rdtsc");
    return 0;
  }
  const auto* r = std::get_if<RecordedRdtsc>(&events[at]);
  if (r == nullptr) {
    diverge(kernel, eip, "rdtsc", "expected " + event_name(events[at]) + ", got rdtsc");
    return 0;
  }
  take(at);
  end_if_recorded(kernel);
  return r->value;
}

}  // namespace nuv
