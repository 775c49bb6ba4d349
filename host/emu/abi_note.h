// Whether an executable says it is a nuvrelos program. Every program's start-up object carries
// a ".note.nuvrelos" ELF note (name "nuvrelos", type 1, the ABI version); another system's
// programs carry their own marks: an ABI note, an OS/ABI byte, their C library's start-up.
#pragma once

#include <string>

namespace nuv {

struct AbiVerdict {
  enum class Kind {
    Ours,      // our note, our version
    Unmarked,  // no note and nothing foreign: perhaps built by hand
    Foreign,   // another system's program, or ours for another ABI version
    Unread,    // not an ELF file libelf can read; the loader says what is wrong
  };
  Kind kind = Kind::Unread;
  std::string reason;  // for Foreign: what gave it away, a phrase to follow "FILE is "
};

AbiVerdict inspect_abi(const std::string& path);

}  // namespace nuv
