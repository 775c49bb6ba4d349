#include "host/base/guest_errors.h"

#include <cerrno>

namespace nuv::err {

// The list's names are Linux's: where the host has the same name, it must be the same number,
// or from_host_errno below would answer one error for another.
#define NUV_SAME_AS_HOST(num, name) static_assert(num == name, #name " is not the host's");
NUVRELOS_ERRORS(NUV_SAME_AS_HOST)
#undef NUV_SAME_AS_HOST

const char* name(int32_t result) {
  switch (result) {
#define NUV_ERROR_NAME(num, name) \
  case k##name:                   \
    return #name;
    NUVRELOS_ERRORS(NUV_ERROR_NAME)
#undef NUV_ERROR_NAME
    default:
      return nullptr;
  }
}

int32_t from_host_errno(int host_errno) {
  switch (host_errno) {
#define NUV_FROM_HOST(num, name) \
  case name:                     \
    return k##name;
    NUVRELOS_ERRORS(NUV_FROM_HOST)
#undef NUV_FROM_HOST
    case EPERM:
      return kEACCES;
    case ENFILE:
      return kEMFILE;
    default:
      return kEIO;
  }
}

}  // namespace nuv::err
