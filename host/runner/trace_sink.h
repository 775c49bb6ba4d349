// Where --trace goes: a file that is put in place whole at the end of the run (an incomplete
// trace leaves the previous one), or standard output ("-"). The sink owns its stream and keeps
// the first error a write met.
#pragma once

#include <cstdio>
#include <string>

#include "host/base/replaced_file.h"
#include "host/kernel/kernel.h"
#include "host/kernel/trace.h"

namespace nuv {

class TraceSink {
 public:
  // Opens the file beside its name; false with `why` when it cannot be.
  bool open(const std::string& path, std::string& why);
  std::FILE* stream() const { return stream_; }

  // Writes every call the filter shows as JSON Lines. A reader that goes away ends the run as
  // SIGPIPE ends a native program.
  void attach(Kernel& kernel, const TraceFilter& filter);

  // Flushes the trace and puts the file in place.
  enum class Delivered { Whole, ReaderGone, Failed };
  Delivered finish();  // Failed is said on standard error

 private:
  void note_error();

  std::string path_;
  ReplacedFile file_{"the trace file"};
  std::FILE* stream_ = nullptr;
  int error_ = 0;  // the first failed write's errno
};

}  // namespace nuv
