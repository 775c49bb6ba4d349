// The ways a program ends: its first argument picks one. A handler registered with atexit
// would print "handler ran"; it must never do so.
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace {

void say(const char *text) { write(1, text, strlen(text)); }

void handler(void) { say("handler ran\n"); }

}  // namespace

int main(int argc, char **argv) {
  if (atexit(handler) != 0) say("atexit failed\n");
  const char *how = argc > 1 ? argv[1] : "";
  say("before\n");
  if (strcmp(how, "exit") == 0) exit(4);
  if (strcmp(how, "abort") == 0) abort();
  if (strcmp(how, "_exit") == 0) _exit(6);
  if (strcmp(how, "minus") == 0) return -1;
  return 3;
}
