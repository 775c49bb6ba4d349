#include "host/kernel/errors.h"

#include <cerrno>

namespace nuv::err {

int32_t from_host_errno(int host_errno) {
  switch (host_errno) {
    case ENOENT:
      return kNoEntry;
    case EBADF:
      return kBadFd;
    case EACCES:
    case EPERM:
      return kAccess;
    case EFAULT:
      return kFault;
    case EEXIST:
      return kExists;
    case ENOTDIR:
      return kNotDir;
    case EISDIR:
      return kIsDir;
    case EINVAL:
      return kInvalid;
    case EMFILE:
    case ENFILE:
      return kTooManyFiles;
    case ENOSPC:
      return kNoSpace;
    case EPIPE:
      return kPipe;
    case ERANGE:
      return kRange;
    case ENAMETOOLONG:
      return kNameTooLong;
    case ENOSYS:
      return kNotImplemented;
    case ENOTEMPTY:
      return kNotEmpty;
    case ELOOP:
      return kLoop;
    case EAGAIN:
      return kAgain;
    default:
      return kIo;
  }
}

}  // namespace nuv::err
