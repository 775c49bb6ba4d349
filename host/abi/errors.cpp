#include "host/abi/errors.h"

#include <cerrno>

namespace nuv::err {

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
    // The list's names are Linux's, so the host's macro of the same name is the same error.
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
