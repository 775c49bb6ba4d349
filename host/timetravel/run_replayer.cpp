#include "host/timetravel/run_replayer.h"

#include <unicorn/unicorn.h>

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
  return "the end of the run";
}

std::string slots_text(const uint32_t* slots) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "(0x%" PRIx32 ", 0x%" PRIx32 ", 0x%" PRIx32 ")", slots[0],
                slots[1], slots[2]);
  return buf;
}

}  // namespace

RunReplayer::RunReplayer(Process& process, std::shared_ptr<const RunRecord> record)
    : process_(process), record_(std::move(record)) {}

void RunReplayer::diverge(Kernel& kernel, uint32_t eip, const std::string& name,
                          const std::string& what) {
  if (diverged_) return;
  diverged_ = true;
  char where[96];
  std::snprintf(where, sizeof where, "replay diverged at service call %zu (%s), eip 0x%08" PRIx32,
                calls_ + 1, name.c_str(), eip);
  kernel.end_run(RunStop{RunStop::Cause::Diverged, 0, std::string(where) + ": " + what});
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
  if (diverged_) return err::kEIO;
  Replay kind = replay_of(call.number);
  if (kind == Replay::Drawing) return std::nullopt;
  uint32_t eip = 0;
  uc_reg_read(process_.engine(), UC_X86_REG_EIP, &eip);
  eip -= 2;  // past its int 0x80
  std::string name = service_name(call.number);
  const auto& events = record_->events;
  if (next_ >= events.size()) {
    diverge(kernel, eip, name, "the record ends before this call");
    return err::kEIO;
  }
  const auto* rc = std::get_if<RecordedCall>(&events[next_]);
  if (rc == nullptr) {
    diverge(kernel, eip, name, "expected " + event_name(events[next_]) + ", got " + name);
    return err::kEIO;
  }
  if (rc->number != call.number) {
    diverge(kernel, eip, name, "expected " + service_name(rc->number) + ", got " + name);
    return err::kEIO;
  }
  bool same_slots = std::equal(call.slots.begin(), call.slots.end(), rc->slots);
  if (!same_slots) {
    diverge(
        kernel, eip, name,
        "expected arguments " + slots_text(rc->slots) + ", got " + slots_text(call.slots.data()));
    return err::kEIO;
  }
  if (argument_digest(kernel.memory(), call.number, call.slots) != rc->digest) {
    diverge(kernel, eip, name, "expected the bytes it hands over as recorded, got different ones");
    return err::kEIO;
  }
  if (kind == Replay::Executed && rc->result >= 0) {
    executing_ = next_++;
    return std::nullopt;
  }
  answered_ = next_;
  ++next_;
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

void RunReplayer::completed(Kernel& kernel, const ServiceCall& call,
                            const std::vector<CallStore>&) {
  if (!executing_) {
    if (replay_of(call.number) != Replay::Drawing && !diverged_) end_if_recorded(kernel);
    return;
  }
  const auto& rc = std::get<RecordedCall>(record_->events[*executing_]);
  executing_.reset();
  ++calls_;
  if (call.result != rc.result && !diverged_) {
    uint32_t eip = 0;
    uc_reg_read(process_.engine(), UC_X86_REG_EIP, &eip);
    --calls_;
    diverge(
        kernel, eip - 2, service_name(call.number),
        "expected result " + std::to_string(rc.result) + ", got " + std::to_string(call.result));
    return;
  }
  if (!diverged_) end_if_recorded(kernel);
}

void RunReplayer::end_if_recorded(Kernel& kernel) {
  if (next_ >= record_->events.size()) return;
  const auto* end = std::get_if<RecordedEnd>(&record_->events[next_]);
  if (end == nullptr || kernel.stopped()) return;
  ++next_;
  RunStop stop{static_cast<RunStop::Cause>(end->cause), end->signal, end->message};
  stop.end_of_record = true;
  kernel.end_run(stop);
}

uint64_t RunReplayer::rdtsc(Kernel& kernel, uint32_t eip, uint64_t) {
  if (diverged_) return 0;
  const auto& events = record_->events;
  if (next_ >= events.size()) {
    diverge(kernel, eip, "rdtsc", "the record ends before this rdtsc");
    return 0;
  }
  const auto* r = std::get_if<RecordedRdtsc>(&events[next_]);
  if (r == nullptr) {
    diverge(kernel, eip, "rdtsc", "expected " + event_name(events[next_]) + ", got rdtsc");
    return 0;
  }
  ++next_;
  return r->value;
}

}  // namespace nuv
