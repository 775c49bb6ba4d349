// Calls through two functions of its own, so a debugger and a crash report have frames to
// show; with "fault" it stores through a bad pointer inside the innermost one, with "spin" it
// never ends, with "loop" it first counts g_counter up in a loop. The functions stay out of
// line so a debugger can stop in them.
#include <string.h>
#include <unistd.h>

volatile int g_counter = 7;

__attribute__((noinline)) int inner(volatile int *where, int value) {
  *where = value;  // marker: store
  return value + 1;
}

__attribute__((noinline)) int outer(volatile int *where, int value) {
  int r = inner(where, value * 2);  // marker: call inner
  return r + g_counter;
}

int main(int argc, char **argv) {
  volatile int local = 0;
  volatile int *where = &local;
  const char *how = argc > 1 ? argv[1] : "";
  if (strcmp(how, "fault") == 0) where = reinterpret_cast<volatile int *>(16);
  while (strcmp(how, "spin") == 0 && g_counter != 0) {
  }
  for (int i = 0; strcmp(how, "loop") == 0 && i < 4; ++i) {
    g_counter = g_counter + 1;  // marker: loop
  }
  int r = outer(where, 5);    // marker: call outer
  g_counter = g_counter + 1;  // marker: counter
  write(1, "done\n", 5);
  return r - 15;
}
