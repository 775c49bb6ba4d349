// The error number and its messages. Only the heap stores into errno.
#include "errno.h"

#include "string.h"

extern "C" {

int errno = 0;

// Numbers without a message of their own, ENOMEM among them, share "error".
char *strerror(int number) {
  const char *message = "error";
  switch (number) {
    case 0:
      message = "ok";
      break;
    case ENOENT:
      message = "no such file";
      break;
    case EINVAL:
      message = "invalid argument";
      break;
    case ENOSYS:
      message = "not implemented";
      break;
    default:
      break;
  }
  return const_cast<char *>(message);
}

}  // extern "C"
