// Misbehaves on request, so the runner's handling of guest faults can be seen from outside.
#include <string.h>
#include <unistd.h>

extern "C" const char crash_constant[] = "constant";

int main(int argc, char **argv) {
  const char *how = argc > 1 ? argv[1] : "";
  write(1, "started\n", 8);
  if (strcmp(how, "store-constant") == 0) *const_cast<volatile char *>(crash_constant) = 'x';
  if (strcmp(how, "null") == 0) return *reinterpret_cast<volatile int *>(argc - argc);
  if (strcmp(how, "ud2") == 0) __asm__ volatile("ud2");
  // Where the test harness keeps its data, and nothing in a run of its own.
  if (strcmp(how, "harness-scratch") == 0) *reinterpret_cast<volatile int *>(0xD0000000u) = 1;
  if (strcmp(how, "bad-write") == 0)
    return write(1, reinterpret_cast<const void *>(16), 4) == -14 ? 0 : 1;
  return 0;
}
