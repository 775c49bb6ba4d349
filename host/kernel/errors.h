// The kernel's failure answers: negative Linux-style numbers, a small consistent set.
#pragma once

#include <cstdint>

namespace nuv::err {

constexpr int32_t kNoEntry = -2;
constexpr int32_t kIo = -5;
constexpr int32_t kBadFd = -9;
constexpr int32_t kAgain = -11;
constexpr int32_t kAccess = -13;
constexpr int32_t kFault = -14;
constexpr int32_t kExists = -17;
constexpr int32_t kNotDir = -20;
constexpr int32_t kIsDir = -21;
constexpr int32_t kInvalid = -22;
constexpr int32_t kTooManyFiles = -24;
constexpr int32_t kNoSpace = -28;
constexpr int32_t kPipe = -32;
constexpr int32_t kRange = -34;
constexpr int32_t kNameTooLong = -36;
constexpr int32_t kNotImplemented = -38;
constexpr int32_t kNotEmpty = -39;
constexpr int32_t kLoop = -40;

// A host errno as one of the answers above (kIo for the rest).
int32_t from_host_errno(int host_errno);

}  // namespace nuv::err
