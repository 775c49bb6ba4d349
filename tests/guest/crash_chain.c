/* A null store in a callee called from another function, written as users write C: built at
   several optimisation levels, with and without -g, its crash report must name the store and
   each caller. */
#include <stdio.h>

static int g_total;

__attribute__((noinline)) void store(int *where, int value) {
  *where = value; /* marker: store */
  g_total += value;
}

__attribute__((noinline)) int visit(int *where, int n) {
  store(where, n); /* marker: call store */
  return g_total + 1;
}

int main(int argc, char **argv) {
  int local = 0;
  int *where = argc > 1 ? (int *)0 : &local;
  (void)argv;
  puts("visiting");
  return visit(where, argc); /* marker: call visit */
}
