/* The Linux twin of a spawn round trip, for qemu-i386: `linux_spawner N` forks N times; each
   child executes this program again as `linux_spawner 0`, which exits at once, and the parent
   waits for it. Bare system calls (int 0x80, Linux numbering), no C library. */
#include <stdint.h>

static int32_t sys3(int32_t number, int32_t a, int32_t b, int32_t c) {
  int32_t result;
  __asm__ volatile("int $0x80" : "=a"(result) : "a"(number), "b"(a), "c"(b), "d"(c) : "memory");
  return result;
}

enum { kExit = 1, kFork = 2, kWaitpid = 7, kExecve = 11 };

int main(int argc, char **argv) {
  uint32_t count = 0;
  for (const char *p = argc > 1 ? argv[1] : "0"; *p >= '0' && *p <= '9'; ++p) {
    count = count * 10u + (uint32_t)(*p - '0');
  }
  static char zero[] = "0";
  char *child_argv[] = {argv[0], zero, 0};
  char *child_env[] = {0};
  for (uint32_t i = 0; i < count; ++i) {
    int32_t pid = sys3(kFork, 0, 0, 0);
    if (pid == 0) {
      sys3(kExecve, (int32_t)(uintptr_t)argv[0], (int32_t)(uintptr_t)child_argv,
           (int32_t)(uintptr_t)child_env);
      sys3(kExit, 127, 0, 0);
    }
    int32_t status = 0;
    if (pid < 0 || sys3(kWaitpid, pid, (int32_t)(uintptr_t)&status, 0) != pid || status != 0) {
      return 1;
    }
  }
  return 0;
}
