// Static initialisation before main: prints the order the constructors ran in, the value of a
// global that only a constructor sets, and the stack pointer mod 16 at a constructor's entry.
#include <stdio.h>
#include <string.h>

extern "C" {
unsigned g_ctor_entry_esp = 99;
char g_ctor_log[80];
}

namespace {

void note(const char *tag) { strcat(g_ctor_log, tag); }

struct Recorder {
  explicit Recorder(const char *tag) { note(tag); }
};

__attribute__((constructor(101))) void at_101() { note("c101 "); }
__attribute__((constructor(200))) void at_200() { note("c200 "); }

int compute_five() {
  note("five ");
  return 5;
}

}  // namespace

__attribute__((init_priority(150))) Recorder g_early("i150 ");
Recorder g_first("first ");
int g_five = compute_five();
Recorder g_last("last ");

// Records where the stack stands on entry, as a compiler expects it: 4 past 16-byte alignment.
__asm__(
    "  .text\n"
    "ctor_esp_probe:\n"
    "  movl %esp, %eax\n"
    "  andl $15, %eax\n"
    "  movl %eax, g_ctor_entry_esp\n"
    "  ret\n"
    "  .section .init_array.00300, \"aw\"\n"
    "  .long ctor_esp_probe\n"
    "  .text\n");

int main(int, char **) {
  printf("%smain five=%d esp=%u\n", g_ctor_log, g_five, g_ctor_entry_esp);
  return 0;
}
