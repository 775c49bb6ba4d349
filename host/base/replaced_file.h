// An output file of the user's (a trace, coverage, a profile, a recording, a screenshot),
// written beside its final name and put in place only when it is complete: a run that is
// killed or fails leaves the previous file as it was and no partial one, and the final rename
// replaces whatever the program wrote at that name meanwhile.
//
// The new content goes into an unnamed file in the target's directory (O_TMPFILE), so that
// even SIGKILL leaves nothing behind; it gets a name of its own only for the instant before
// the rename. Where the file system has no unnamed files, a hidden ".NAME.nuvrelos-XXXXXX"
// beside the target stands in. A target that is a device or a FIFO (/dev/null, a pipe made
// with mkfifo) is written in place, and one that is a symbolic link has the file it points
// to replaced.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "host/base/unique_fd.h"

namespace nuv {

class ReplacedFile {
 public:
  // `what` names the file in messages ("the trace file"); empty: the path alone.
  explicit ReplacedFile(std::string what = "") : what_(std::move(what)) {}
  ~ReplacedFile();  // discards a file that was not committed
  ReplacedFile(const ReplacedFile&) = delete;
  ReplacedFile& operator=(const ReplacedFile&) = delete;

  // Opens the new content; false with `why` ("cannot write WHAT PATH: REASON") when it cannot
  // be.
  bool open(const std::filesystem::path& path, std::string& why);
  // The buffered stream to write into, once open.
  std::FILE* stream() const { return stream_; }
  // Writes to the stream, remembering the reason of the first failure for commit().
  void write(std::string_view bytes);
  // Flushes everything and puts the file in place; false with `why` when anything failed
  // (a write, the disk, the rename): the previous file then stays as it was.
  bool commit(std::string& why);
  // Drops what was written; the previous file stays.
  void discard();

 private:
  std::string failure(int error) const;

  std::string what_;
  std::filesystem::path path_;  // as the user named it
  UniqueFd dir_;                // the directory the target is in
  std::string name_;            // the target's name in it
  std::string temporary_;       // the named stand-in, when the directory has no unnamed files
  std::FILE* stream_ = nullptr;
  bool in_place_ = false;
  int write_error_ = 0;
};

}  // namespace nuv
