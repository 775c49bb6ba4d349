// Puts a 3 MiB array on the stack, touching both its ends: more than the default 1 MiB stack,
// so it runs only where the program asked for a larger one at link time.
#include <stdio.h>

int main(int argc, char **) {
  volatile char big[3 << 20];
  big[0] = static_cast<char>(argc);
  big[sizeof big - 1] = static_cast<char>(argc);
  printf("deep %d\n", big[0] + big[sizeof big - 1]);
  return 0;
}
