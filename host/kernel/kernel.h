// The simulated nuvrelos kernel: one handler per service, reached through the service list.
// Tracing, recording and test scripts wrap the dispatch; handlers know nothing of them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "host/base/run_stop.h"
#include "host/emu/guest_memory.h"
#include "host/gui/gui_config.h"
#include "host/kernel/descriptors.h"
#include "host/kernel/root_fs.h"
#include "host/kernel/service_call.h"
#include "host/kernel/stop_request.h"

namespace nuv {

class Compositor;
class Kernel;
struct ServiceInfo;

struct KernelConfig {
  std::filesystem::path root = ".";
  // Where descriptors 1 and 2 go; default: host standard output. Returns 0, or the negative
  // error the guest's write gets when the bytes could not be delivered.
  std::function<int32_t(std::string_view)> console_out;
  // Where descriptor 0 and getkey read from; returns bytes read, 0 at end, <0 on error.
  // Default: host standard input.
  std::function<long(void* buffer, size_t size)> console_in;
  GuiConfig gui;
  RootFs::Resolver resolver = RootFs::Resolver::Auto;
  // writefile on a file with several hard links writes through them in place instead of
  // replacing it atomically (see whole_file.h).
  bool write_through_links = false;
};

// A stretch of the program's memory a call's handler stored into, with the bytes stored.
struct CallStore {
  uint32_t address = 0;
  std::vector<uint8_t> bytes;
};

// What records and replays a run (host/timetravel): it sees each call before any argument is
// read and may answer it from a record (the handler then does not run), and sees each completed
// call once with what its handler stored into the program's memory.
class CallJournal {
 public:
  virtual ~CallJournal() = default;
  virtual std::optional<int32_t> answer(Kernel& kernel, const ServiceCall& call) = 0;
  virtual void completed(Kernel& kernel, const ServiceCall& call,
                         const std::vector<CallStore>& stores) = 0;
};

// A test's answer for a service, asked before any argument is read: change the call's slots
// and return nullopt to let the real handler run on them, or return a result to skip it.
using Script = std::function<std::optional<int32_t>(ServiceCall& call)>;

class Kernel {
 public:
  Kernel(GuestMemory& memory, KernelConfig config);
  ~Kernel();
  Kernel(const Kernel&) = delete;
  Kernel& operator=(const Kernel&) = delete;

  // Entry from the CPU's int 0x80.
  int32_t dispatch(uint32_t number, const Slots& slots);

  // Recording of calls for inspection (on by default in tests, off in the runner).
  void set_recording(bool on) { recording_ = on; }
  const std::vector<ServiceCall>& calls() const { return calls_; }
  void clear_calls() { calls_.clear(); }
  // Fill ServiceCall::args with what the argument readers read and the handler stored.
  void set_decoding(bool on) { decoding_ = on; }
  // Observers see every call after it completed (the trace writers).
  void add_observer(CallObserver observer);

  // One journal at a time (null: none); the kernel does not own it.
  void set_journal(CallJournal* journal) { journal_ = journal; }
  CallJournal* journal() const { return journal_; }
  // Called for every store of a handler into the program's memory (service_args.h).
  void note_store(uint32_t address, const void* bytes, size_t size) {
    if (capturing_) {
      auto* p = static_cast<const uint8_t*>(bytes);
      stores_.push_back(CallStore{address, std::vector<uint8_t>(p, p + size)});
    }
  }

  void script(uint32_t number, Script script);
  void clear_scripts() { scripts_.clear(); }

  // Process end: through the exit service (exit_status), or stopped for a reason of the
  // host (stopped()).
  bool exited() const { return exited_; }
  int32_t exit_status() const { return exit_status_; }
  const std::optional<RunStop>& stopped() const { return stopped_; }
  void set_exited(int32_t status);
  void reset_exit() {
    exited_ = false;
    stopped_.reset();
  }
  // Asked by a handler to stop the CPU after the current call (exit, frame limit).
  std::function<void()> stop_cpu;
  // A handler that ends the run for a reason of the host (a scenario's frame limit) says why;
  // the first reason stands.
  void end_run(RunStop stop);
  // Ends the run as that signal would end a native process, saying nothing: SIGPIPE when the
  // reader of standard output went away.
  void end_by_signal(int signal) { end_run(RunStop{RunStop::Cause::Signal, signal, ""}); }
  // The host error that lost console output (0: nothing was lost), and how many bytes.
  int output_error() const { return output_error_; }
  uint64_t output_lost() const { return output_lost_; }

  GuestMemory& memory() { return memory_; }
  Descriptors& files() { return files_; }
  RootFs& fs() { return fs_; }
  Compositor& compositor();
  const KernelConfig& config() const { return config_; }

  // Set from outside the guest to end the run: every wait of the kernel's (a console write to
  // a full pipe, a sleep in a window, a wait for input) gives up once it is raised.
  StopRequest& stop_request() { return stop_request_; }

  // Virtual time in microseconds: usleep advances it; it really sleeps when a window shows.
  uint64_t clock_us() const { return clock_us_; }
  void advance_clock(uint64_t us) { clock_us_ += us; }

 private:
  int32_t answer(const ServiceInfo* info, ServiceCall& call, bool show);
  void script_failures(const Scenario& scenario);
  int32_t write_host_stdout(std::string_view bytes);

  GuestMemory& memory_;
  KernelConfig config_;
  StopRequest stop_request_;
  RootFs fs_;
  Descriptors files_;
  std::unique_ptr<Compositor> compositor_;
  bool recording_ = false;
  bool decoding_ = false;
  std::vector<ServiceCall> calls_;
  std::vector<CallObserver> observers_;
  std::map<uint32_t, Script> scripts_;
  CallJournal* journal_ = nullptr;
  bool capturing_ = false;
  std::vector<CallStore> stores_;
  uint64_t seq_ = 0;
  bool exited_ = false;
  int32_t exit_status_ = 0;
  std::optional<RunStop> stopped_;
  uint64_t clock_us_ = 0;
  int output_error_ = 0;
  uint64_t output_lost_ = 0;
};

}  // namespace nuv
