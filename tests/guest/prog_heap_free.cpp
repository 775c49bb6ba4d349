// A program linked with the heap whose free reuses memory (a 2 MiB arena). "churn" allocates,
// grows, shrinks and frees blocks at random, far more bytes in all than the arena holds, with
// every block's bytes checked before it goes; "double" frees a block twice; "stray" frees a
// pointer the heap never gave. The tests also call the heap's functions one by one.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>

namespace {

uint32_t g_seed = 12345;
uint32_t next_random() {
  g_seed = g_seed * 1103515245u + 12345u;
  return g_seed >> 8;
}

struct Slot {
  unsigned char *block;
  uint32_t size;
  unsigned char fill;
};

bool intact(const Slot &s) {
  for (uint32_t i = 0; i < s.size; ++i) {
    if (s.block[i] != s.fill) return false;
  }
  return true;
}

int churn() {
  Slot slots[64] = {};
  uint64_t total = 0;
  for (int round = 0; round < 20000; ++round) {
    Slot &s = slots[next_random() % 64];
    if (s.block != nullptr && !intact(s)) {
      printf("corrupt in round %d\n", round);
      return 1;
    }
    uint32_t size = next_random() % (next_random() % 8 == 0 ? 60000 : 600);
    if (s.block != nullptr && next_random() % 2 == 0) {
      // realloc keeps the bytes up to the smaller size.
      unsigned char *grown = static_cast<unsigned char *>(realloc(s.block, size));
      if (grown == nullptr) continue;
      s.block = grown;
      if (s.size > size) s.size = size;
      if (!intact(s)) {
        printf("realloc lost bytes in round %d\n", round);
        return 1;
      }
    } else {
      free(s.block);
      s.block = static_cast<unsigned char *>(malloc(size));
      if (s.block == nullptr) {
        s.size = 0;
        continue;
      }
    }
    s.size = size;
    s.fill = static_cast<unsigned char>(next_random());
    memset(s.block, s.fill, size);
    total += size;
  }
  for (Slot &s : slots) free(s.block);
  // Everything given back merges into one block again.
  void *whole = malloc(2000000);
  printf("churned %u KiB, whole arena again: %d\n", static_cast<unsigned>(total >> 10),
         whole != nullptr);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc > 1 && strcmp(argv[1], "churn") == 0) return churn();
  if (argc > 1 && strcmp(argv[1], "double") == 0) {
    // Through a volatile copy: the compiler sees the fault too and would refuse to build it.
    char *volatile p = strdup("twice");
    free(p);
    free(p);
    return 0;
  }
  if (argc > 1 && strcmp(argv[1], "stray") == 0) {
    static char not_from_the_heap[16];
    char *volatile stray = not_from_the_heap + 8;
    free(stray);
    return 0;
  }
  // new and delete take from the same heap and give back to it.
  int *first = new int[1000];
  delete[] first;
  int *second = new int[1000];
  printf("new reuses: %d\n", first == second);
  delete[] second;
  return 0;
}
