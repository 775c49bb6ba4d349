// The C++ twin of crash_chain.c: the same crash in namespaced functions that take a reference.
#include <stdio.h>

namespace shop {

struct Counter {
  int total = 0;
};

__attribute__((noinline)) void store(int *where, int value, Counter &counter) {
  *where = value;  // marker: store
  counter.total += value;
}

__attribute__((noinline)) int visit(int *where, int n) {
  Counter counter;
  store(where, n, counter);  // marker: call store
  return counter.total + 1;
}

}  // namespace shop

int main(int argc, char **) {
  int local = 0;
  int *where = argc > 1 ? nullptr : &local;
  puts("visiting");
  return shop::visit(where, argc);  // marker: call visit
}
