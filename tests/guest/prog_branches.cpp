// Takes branches that its arguments choose, so coverage and profiles of a run are known in
// advance. The "// line:" markers name lines for the tests that look them up. Without
// arguments it sums in a loop and reports "none"; with some, it says "some" once for each.
#include <string.h>
#include <unistd.h>

namespace {

__attribute__((noipa)) int spin(int rounds) {
  volatile int sum = 0;
  for (int i = 0; i < rounds; ++i) {
    sum = sum + i;  // line: spin-loop
  }
  return sum;
}

__attribute__((noipa)) void say(const char *text) { write(1, text, strlen(text)); }

__attribute__((noipa)) int with_arguments(int count) {
  for (int i = 0; i < count; ++i) say("some\n");  // line: with-arguments
  return count;
}

__attribute__((noipa)) int without_arguments() {
  say("none\n");  // line: without-arguments
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  spin(20000);  // line: main-spin
  int status = 0;
  if (argc > 1) {
    status = with_arguments(argc - 1);  // line: main-with
  } else {
    status = without_arguments();  // line: main-without
  }
  if (argc > 1 && strcmp(argv[1], "fail") == 0) {
    return 3;  // line: main-fail
  }
  return status > 0 ? 0 : status;
}
