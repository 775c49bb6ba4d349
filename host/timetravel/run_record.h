// The file --record-run writes and --replay-run reads: everything a run took from outside the
// machine, so that it can be run again exactly anywhere. Versioned, little-endian, documented
// in docs/record-format.md:
//
//   "NUVRUN\0" (7 bytes), version u32
//   then records, each: length u32 (of what follows the kind), kind u8, body
//     kind 1 (header, first and once): the executable's path and bytes, the arguments, the
//            options that change what the program sees
//     kind 2 (call): a service call and its answer
//     kind 3 (rdtsc): the time-stamp counter the program read
//     kind 4 (end, last, optional): how the recorded run ended other than by its own exit
//     kind 5 (program): the program a spawn started, right after that spawn's call
//
// Stands on nothing but the standard library, so the reader can be fuzzed alone.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace nuv {

inline constexpr char kRunRecordMagic[7] = {'N', 'U', 'V', 'R', 'U', 'N', '\0'};
inline constexpr uint32_t kRunRecordVersion = 1;

// A damaged, truncated or foreign record file; what() says what and where.
struct RunRecordError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct RunHeader {
  std::string executable;         // the path it was run as
  std::vector<uint8_t> program;   // its bytes
  std::vector<std::string> args;  // argv, argv[0] included
  uint64_t memory_limit = 0;
  int32_t width = 0, height = 0;  // the windows' content size
  uint32_t frame_limit = 0;       // 0: none
  bool window = false;            // it ran in a window (or a VNC view)
};

// Bytes the kernel stored into the program's memory while answering a call.
struct RecordedStore {
  uint32_t address = 0;
  std::vector<uint8_t> bytes;
};

struct RecordedCall {
  uint32_t pid = 1;  // the process that made it
  uint32_t number = 0;
  uint32_t slots[3] = {};
  uint64_t digest = 0;  // of the slots and the program memory the call reads
  int32_t result = 0;
  uint8_t flags = 0;  // kConsoleOutput
  std::vector<RecordedStore> stores;
  static constexpr uint8_t kConsoleOutput = 1;  // a write that reached the console
};

struct RecordedRdtsc {
  uint64_t value = 0;
  uint32_t pid = 1;  // the process that read it
};

// The program a successful spawn started (the call just before it): a replay loads the child
// from these bytes, whatever the file holds now.
struct RecordedProgram {
  std::string path;
  std::vector<uint8_t> bytes;
};

// The recorded run ended by a stop of the host's (a limit, a closed window, a signal).
struct RecordedEnd {
  uint8_t cause = 0;  // RunStop::Cause's value
  int32_t signal = 0;
  std::string message;
};

using RunEvent = std::variant<RecordedCall, RecordedRdtsc, RecordedEnd, RecordedProgram>;

// Appends one record's bytes (length, kind, body) to `out`.
void encode_header(const RunHeader& header, std::string& out);
void encode_event(const RunEvent& event, std::string& out);
// A call whose stores are elsewhere (c.stores is left out): what a recorder has in hand.
struct StoreView {
  uint32_t address;
  const uint8_t* data;
  size_t size;
};
void encode_call(const RecordedCall& c, const std::vector<StoreView>& stores, std::string& out);
// The magic and version that start every file.
std::string encode_preamble();

// A whole file's bytes read back; throws RunRecordError.
struct RunRecord {
  RunHeader header;
  std::vector<RunEvent> events;
};
RunRecord decode_run_record(std::string_view bytes);

}  // namespace nuv
