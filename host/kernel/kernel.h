// The simulated nuvrelos kernel: one handler per service, reached through the service list.
// Tracing, recording and test scripts wrap the dispatch; handlers know nothing of them.
#pragma once

#include <climits>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
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

// What records and replays a run (host/timetravel): it sees each call before any argument is
// read and may answer it from a record (the handler then does not run) or park it (kWouldBlock),
// and sees each completed call once with what its handler stored into the program's memory on
// the run that completed it. A parked call is not completed: it is asked again when it runs
// again.
class CallJournal {
 public:
  virtual ~CallJournal() = default;
  virtual std::optional<int32_t> answer(Kernel& kernel, const ServiceCall& call) = 0;
  virtual void completed(Kernel& kernel, const ServiceCall& call,
                         const std::vector<CallStore>& stores) = 0;
  // A replay: the run follows a record, and a wait nothing can end leaves it.
  virtual bool replays() const { return false; }
  // For a call this journal answered itself, what it stored into the program's memory.
  virtual std::vector<CallStore> answered_stores() const { return {}; }
  // The call was parked: its int 0x80 did not complete, and runs again later.
  virtual void parked(Kernel& kernel, const ServiceCall& call) {
    (void)kernel;
    (void)call;
  }
  // The program a spawn starts: a host descriptor to load it from, or a negative error. `open`
  // opens the file `path` names in the root, as a spawn without a journal does.
  virtual int program(Kernel& kernel, const std::string& path, const std::function<int()>& open) {
    (void)kernel;
    (void)path;
    return open();
  }
};

// What a waiting call answers inside the host: the process is parked with its int 0x80 still
// to run, and the call runs again from the start when something may have changed. Nobody
// outside the kernel sees it: the call reaches the trace and the observers once, when it
// completes.
constexpr int32_t kWouldBlock = kMustWait;

// The machine that runs a kernel's processes: what the process services ask of it.
class ProcessHost {
 public:
  virtual ~ProcessHost() = default;
  // A new process running args[0] (already resolved and opened by the caller as `program`, a
  // host descriptor it keeps), with the parent's settings; its pid or a negative error.
  virtual int32_t spawn(Kernel& parent, int program, const std::vector<std::string>& args) = 0;
  // A child's end: its pid (the status word in `status`), 0 for none yet with `no_hang`,
  // kWouldBlock to wait, or a negative error. `reap` false only looks.
  virtual int32_t wait(Kernel& parent, int32_t pid, bool no_hang, int32_t& status, bool reap) = 0;
  // How many processes are alive.
  virtual size_t alive() const = 0;
};

// What every process of one machine shares: the configuration, the console, the compositor,
// the virtual clock, the trace's observers and the numbering of calls, the run's end.
struct KernelShared {
  explicit KernelShared(KernelConfig c);
  ~KernelShared();
  KernelConfig config;
  StopRequest stop_request;
  std::unique_ptr<Compositor> compositor;
  std::shared_ptr<OpenFile> console_in;
  std::shared_ptr<OpenFile> console_out;
  std::vector<CallObserver> observers;
  uint64_t seq = 0;
  uint64_t clock_us = 0;
  // Raised by every call that completes, and by every process's end: a parked call tries
  // again once it moved.
  uint64_t wakes = 0;
  std::optional<RunStop> stopped;
  int output_error = 0;
  uint64_t output_lost = 0;
  ProcessHost* host = nullptr;
  bool several = false;       // a second process was started: the strace lines name each one
  Kernel* current = nullptr;  // the kernel whose call runs
  // Named pipes, by the identity of their node in the root.
  std::map<std::pair<uint64_t, uint64_t>, std::shared_ptr<FifoState>> fifos;
  // What records, replays or keeps the history of the run: it sees every process's calls.
  CallJournal* journal = nullptr;
};

// A test's answer for a service, asked before any argument is read: change the call's slots
// and return nullopt to let the real handler run on them, or return a result to skip it.
using Script = std::function<std::optional<int32_t>(ServiceCall& call)>;

class Kernel {
 public:
  Kernel(GuestMemory& memory, KernelConfig config);
  // A further process of the same machine: its own memory, working directory and descriptors.
  Kernel(GuestMemory& memory, std::shared_ptr<KernelShared> shared, RootFs fs, Descriptors files,
         int32_t pid);
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

  // One journal at a time for the whole machine (null: none); the kernel does not own it.
  void set_journal(CallJournal* journal) { shared_->journal = journal; }
  CallJournal* journal() const { return shared_->journal; }
  // Where the int 0x80 of the call being answered lies (set by the process that runs it).
  std::function<uint32_t()> call_address;
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
  const std::optional<RunStop>& stopped() const { return shared_->stopped; }
  void set_exited(int32_t status);
  void reset_exit() {
    exited_ = false;
    // The machine's end is the first process's to clear (the harness runs it again).
    if (pid_ == 1) shared_->stopped.reset();
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
  int output_error() const { return shared_->output_error; }
  uint64_t output_lost() const { return shared_->output_lost; }

  GuestMemory& memory() { return memory_; }
  Descriptors& files() { return files_; }
  RootFs& fs() { return fs_; }
  Compositor& compositor();
  const KernelConfig& config() const { return shared_->config; }
  KernelShared& shared() { return *shared_; }
  const std::shared_ptr<KernelShared>& shared_ptr() const { return shared_; }

  // This process: its number (1 for the first), and what it waits for while a call of its is
  // parked (for the report of a deadlock).
  int32_t pid() const { return pid_; }
  // Parks the current call: returns kWouldBlock, to be returned by the handler.
  int32_t block(std::string what) {
    waiting_ = std::move(what);
    return kWouldBlock;
  }
  const std::string& waiting() const { return waiting_; }
  // A parked usleep: the virtual time it waits for.
  std::optional<uint64_t>& sleep_until() { return sleep_until_; }

  // What the next spawn gives the child: descriptors 0-2 (-1: the parent's own of that
  // number) and, with inheritance on, the parent's others.
  struct SpawnSettings {
    int32_t stdio[3] = {-1, -1, -1};
    bool inherit = false;
  };
  SpawnSettings& spawn_settings() { return spawn_; }

  // The process's streamed whole-file writes, by handle. The bytes go into an unnamed file in
  // the target's directory, which gets the target's name only when the stream ends, so a
  // stream never ended (the process exits or crashes) leaves neither the file nor a temporary
  // one.
  struct Stream {
    std::shared_ptr<const UniqueFd> dir;
    std::string name;
    UniqueFd file;
  };
  static constexpr size_t kMaxStreams = 8;
  std::map<int32_t, std::unique_ptr<Stream>>& streams() { return streams_; }

  // Set from outside the guest to end the run: every wait of the kernel's (a console write to
  // a full pipe, a sleep in a window, a wait for input) gives up once it is raised.
  StopRequest& stop_request() { return shared_->stop_request; }

  // Virtual time in microseconds: usleep advances it; it really sleeps when a window shows.
  uint64_t clock_us() const { return shared_->clock_us; }
  void advance_clock(uint64_t us) { shared_->clock_us += us; }

 private:
  int32_t answer(const ServiceInfo* info, ServiceCall& call, bool show);
  void script_failures(const Scenario& scenario);

  GuestMemory& memory_;
  std::shared_ptr<KernelShared> shared_;
  RootFs fs_;
  Descriptors files_;
  int32_t pid_ = 1;
  bool recording_ = false;
  bool decoding_ = false;
  std::vector<ServiceCall> calls_;
  std::map<uint32_t, Script> scripts_;
  bool capturing_ = false;
  std::vector<CallStore> stores_;
  bool exited_ = false;
  int32_t exit_status_ = 0;
  std::string waiting_;
  std::optional<uint64_t> sleep_until_;
  SpawnSettings spawn_;
  std::map<int32_t, std::unique_ptr<Stream>> streams_;
};

}  // namespace nuv
