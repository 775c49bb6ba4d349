// --record-run: everything the run takes from outside the machine, written as it comes into a
// run record (run_record.h) that is put in place when the run ends.
#pragma once

#include <memory>
#include <string>

#include "host/base/replaced_file.h"
#include "host/machine/process.h"
#include "host/timetravel/journal.h"
#include "host/timetravel/run_record.h"

namespace nuv {

class RunRecorder : public Journal {
 public:
  explicit RunRecorder(RunHeader header);
  // False with `why` when the file cannot be made.
  bool open(const std::string& path, std::string& why);

  std::optional<int32_t> answer(Kernel& kernel, const ServiceCall& call) override;
  void completed(Kernel& kernel, const ServiceCall& call,
                 const std::vector<CallStore>& stores) override;
  int program(Kernel& kernel, const std::string& path, const std::function<int()>& open) override;
  uint64_t rdtsc(Kernel& kernel, uint32_t eip, uint64_t host) override;

  // Ends the record with how the run ended and puts it in place; false with `why`.
  bool finish(const RunResult& end, std::string& why);
  // Leaves the previous file as it was.
  void discard() { file_.discard(); }

 private:
  void flush(bool always);

  RunHeader header_;
  ReplacedFile file_{"the run record"};
  std::string buffer_;
  uint64_t digest_ = 0;
  uint8_t flags_ = 0;
  // The program the spawn being answered starts: kept after its call.
  std::optional<RecordedProgram> program_;
};

}  // namespace nuv
