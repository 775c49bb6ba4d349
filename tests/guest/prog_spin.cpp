// Never ends on its own: spins in a loop, or with "calls" asks the kernel something on every
// turn, so only the runner's limits can stop it.
#include <string.h>
#include <unistd.h>

int main(int argc, char **argv) {
  bool calls = argc > 1 && strcmp(argv[1], "calls") == 0;
  write(1, "spinning\n", 9);
  volatile unsigned turns = 0;
  for (;;) {
    ++turns;
    if (calls) usleep(1);
  }
}
