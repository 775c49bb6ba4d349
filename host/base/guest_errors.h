// The kernel's failure answers: the negated numbers of the one error list (abi/errors.h), so
// err::kENOENT is -2 here and ENOENT is 2 in a guest program.
#pragma once

#include <cstdint>

#include "abi/errors.h"

namespace nuv::err {

// k##name: the argument is pasted before it could expand to the host's own errno macro.
#define NUV_ERROR_ENUM(num, name) k##name = -(num),
enum Error : int32_t { NUVRELOS_ERRORS(NUV_ERROR_ENUM) };
#undef NUV_ERROR_ENUM

// "ENOENT" for -2; null for a result that is no error of the list.
const char* name(int32_t result);

// A host errno as one of the answers above (kEIO for the rest).
int32_t from_host_errno(int host_errno);

}  // namespace nuv::err
