#include "host/runner/trace_sink.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>

namespace nuv {

bool TraceSink::open(const std::string& path, std::string& why) {
  path_ = path;
  if (path == "-") {
    stream_ = stdout;
    return true;
  }
  if (!file_.open(path, why)) return false;
  stream_ = file_.stream();
  return true;
}

void TraceSink::note_error() {
  // The stream remembers only that something failed; the first failed write says why.
  if (error_ == 0 && std::ferror(stream_)) error_ = errno != 0 ? errno : EIO;
}

void TraceSink::attach(Kernel& kernel, const TraceFilter& filter) {
  // The guest's console output is written unbuffered; a trace on the same stream keeps pace.
  kernel.add_observer(trace_writer(stream_, TraceFormat::JsonLines, filter, stream_ == stdout));
  kernel.add_observer([this, &kernel](const ServiceCall&) {
    note_error();
    if (error_ == EPIPE) kernel.end_by_signal(SIGPIPE);
  });
}

TraceSink::Delivered TraceSink::finish() {
  if (stream_ == nullptr) return Delivered::Whole;
  errno = 0;
  if (std::fflush(stream_) != 0 || std::ferror(stream_)) note_error();
  if (error_ == EPIPE) return Delivered::ReaderGone;
  if (error_ != 0) {
    std::cerr << "nuvrelos-run: cannot write the trace file " << path_ << ": "
              << std::strerror(error_) << "; the trace is incomplete\n";
    return Delivered::Failed;
  }
  std::string why;
  if (stream_ != stdout && !file_.commit(why)) {
    std::cerr << "nuvrelos-run: " << why << "\n";
    return Delivered::Failed;
  }
  return Delivered::Whole;
}

}  // namespace nuv
