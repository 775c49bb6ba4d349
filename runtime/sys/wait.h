/* What waitpid's status word says, in the encoding porting users know: an exit keeps its code
   in bits 8-15, a crash stores the number of the signal the fault would send (SIGSEGV 11,
   SIGILL 4, SIGFPE 8, SIGTRAP 5). */
#pragma once

#include <sys/types.h>

#define WNOHANG 1

#define WEXITSTATUS(status) (((status) >> 8) & 0xFF)
#define WTERMSIG(status) ((status) & 0x7F)
#define WIFEXITED(status) (WTERMSIG(status) == 0)
#define WIFSIGNALED(status) (WTERMSIG(status) != 0)

#ifdef __cplusplus
extern "C" {
#endif

pid_t waitpid(pid_t pid, int *status, int options);

#ifdef __cplusplus
}
#endif
