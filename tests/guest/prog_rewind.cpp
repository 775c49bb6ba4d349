// For going back in time under the debugger: a loop that adds each turn into a total and
// writes a dot through the kernel, then a heap overrun. The name (given, or a long default)
// is copied into an 8-byte block that has the balance as its neighbour on the heap, so a long
// name changes the balance without a line of the program naming it.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

volatile int g_total = 0;

__attribute__((noinline)) void add(int value) {
  g_total = g_total + value;  // marker: add
}

__attribute__((noinline)) void set_name(char *to, const char *from) {
  strcpy(to, from);  // marker: copy
}

int main(int argc, char **argv) {
  for (int i = 1; i <= 5; ++i) {
    add(i);            // marker: call add
    write(1, ".", 1);  // marker: dot
  }
  char *name = static_cast<char *>(malloc(8));
  // volatile: the compiler knows two blocks of malloc apart, and would print the 100 it stored.
  volatile int *balance = static_cast<volatile int *>(malloc(sizeof(int)));
  *balance = 100;                                                        // marker: balance
  set_name(name, argc > 1 ? argv[1] : "Alexandra Smith-Jones of Kent");  // marker: call set_name
  printf("\nbalance %d, total %d\n", *balance, g_total);                 // marker: print
  return *balance == 100 ? 0 : 1;
}
