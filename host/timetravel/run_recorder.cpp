#include "host/timetravel/run_recorder.h"

#include <unistd.h>

#include "abi/services.h"
#include "host/base/guest_errors.h"
#include "host/base/regular_file.h"
#include "host/timetravel/call_classes.h"

namespace nuv {

RunRecorder::RunRecorder(RunHeader header) : header_(std::move(header)) {}

bool RunRecorder::open(const std::string& path, std::string& why) {
  if (!file_.open(path, why)) return false;
  buffer_ = encode_preamble();
  encode_header(header_, buffer_);
  header_.program.clear();
  flush(true);
  return true;
}

void RunRecorder::flush(bool always) {
  if (!always && buffer_.size() < (1u << 20)) return;
  file_.write(buffer_);
  buffer_.clear();
}

std::optional<int32_t> RunRecorder::answer(Kernel& kernel, const ServiceCall& call) {
  if (replay_of(call.number) == Replay::Drawing) return std::nullopt;
  // Taken before the call: what a replay compares is what the program handed over.
  digest_ = argument_digest(kernel.memory(), call.number, call.slots);
  flags_ = 0;
  program_.reset();
  if (call.number == SVC_write) {
    OpenFile* file = kernel.files().get(static_cast<int32_t>(call.slots[0]));
    if (file != nullptr && dynamic_cast<ConsoleOut*>(file) != nullptr) {
      flags_ |= RecordedCall::kConsoleOutput;
    }
  }
  return std::nullopt;
}

void RunRecorder::completed(Kernel&, const ServiceCall& call,
                            const std::vector<CallStore>& stores) {
  if (replay_of(call.number) == Replay::Drawing) return;
  RecordedCall c;
  c.pid = static_cast<uint32_t>(call.pid);
  c.number = call.number;
  for (size_t i = 0; i < 3; ++i) c.slots[i] = call.slots[i];
  c.digest = digest_;
  c.result = call.result;
  c.flags = flags_;
  std::vector<StoreView> views;
  for (const CallStore& s : stores) views.push_back({s.address, s.bytes.data(), s.bytes.size()});
  encode_call(c, views, buffer_);
  if (program_ && call.number == SVC_spawn && call.result > 0) {
    encode_event(RunEvent{std::move(*program_)}, buffer_);
  }
  program_.reset();
  flush(false);
}

int RunRecorder::program(Kernel&, const std::string& path, const std::function<int()>& open) {
  int program = open();
  if (program < 0) return program;
  // Read through the descriptor the child is loaded from: what is kept is what runs.
  RecordedProgram p;
  p.path = path;
  std::string why;
  if (!read_regular_file("/proc/self/fd/" + std::to_string(program), size_t{4} << 30, p.bytes,
                         why)) {
    ::close(program);
    return err::kEIO;
  }
  program_ = std::move(p);
  return program;
}

uint64_t RunRecorder::rdtsc(Kernel& kernel, uint32_t, uint64_t host) {
  encode_event(RunEvent{RecordedRdtsc{host, static_cast<uint32_t>(kernel.pid())}}, buffer_);
  flush(false);
  return host;
}

bool RunRecorder::finish(const RunResult& end, std::string& why) {
  if (end.end == RunResult::End::Stopped) {
    encode_event(RunEvent{RecordedEnd{static_cast<uint8_t>(end.stop.cause), end.stop.signal,
                                      end.stop.message}},
                 buffer_);
  }
  flush(true);
  return file_.commit(why);
}

}  // namespace nuv
