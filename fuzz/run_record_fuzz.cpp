// The run record reader (--replay-run) on arbitrary bytes: a record or a RunRecordError,
// nothing else. A record it accepts writes back to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "host/timetravel/run_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  nuv::RunRecord record;
  try {
    record = nuv::decode_run_record(bytes);
  } catch (const nuv::RunRecordError&) {
    return 0;
  }
  std::string again = nuv::encode_preamble();
  nuv::encode_header(record.header, again);
  for (const nuv::RunEvent& e : record.events) nuv::encode_event(e, again);
  if (again != bytes) std::abort();
  return 0;
}
