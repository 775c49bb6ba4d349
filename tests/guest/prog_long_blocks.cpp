// Long straight runs of the instructions the engine once could not translate in one block,
// picked by the first argument; prints what they compute.
#include <stdio.h>
#include <string.h>

namespace {

int x87() {
  // 1 + 300 * 1 in one run of register additions.
  int out;
  __asm__ volatile(
      "fld1\n fld1\n .rept 300\n fadd %%st(1), %%st\n .endr\n"
      "fistpl %0\n fstp %%st(0)"
      : "=m"(out));
  return out;
}

int x87_memory() {
  static const float kOne = 1.0f;
  int out;
  __asm__ volatile("fldz\n .rept 300\n fadds %1\n .endr\n fistpl %0" : "=m"(out) : "m"(kOne));
  return out;
}

__attribute__((target("sse2"))) int shuffles() {
  // An odd number of reversals of 1, 2, 3, 4 leaves 4 lowest.
  static const unsigned kDwords[4] __attribute__((aligned(16))) = {1, 2, 3, 4};
  int out;
  __asm__ volatile(
      "movdqa %1, %%xmm0\n .rept 601\n pshufd $0x1b, %%xmm0, %%xmm0\n .endr\n"
      "movd %%xmm0, %0"
      : "=r"(out)
      : "m"(kDwords)
      : "xmm0");
  return out;
}

int into() {
  int out = 7;
  __asm__ volatile("xor %%eax, %%eax\n .rept 1000\n into\n .endr" ::: "eax", "cc");
  return out;
}

struct Shape {
  const char *name;
  int (*run)();
};

const Shape kShapes[] = {
    {"x87", x87}, {"x87-memory", x87_memory}, {"shuffles", shuffles}, {"into", into}};

}  // namespace

// For the benchmark: 1,000 x87 additions a pass, in one straight run (cut in some 15 blocks)
// or in ten runs of 100 (blocks the engine takes whole). Both return n * 1,000.
extern "C" int long_block_passes(int n) {
  int out;
  __asm__ volatile(
      "fldz\n fld1\n fxch\n 1:\n .rept 1000\n fadd %%st(1), %%st\n .endr\n"
      "dec %1\n jnz 1b\n fistpl %0\n fstp %%st(0)"
      : "=m"(out), "+r"(n)
      :
      : "cc");
  return out;
}

extern "C" int short_block_passes(int n) {
  int out;
  __asm__ volatile(
      "fldz\n fld1\n fxch\n 1:\n mov $10, %%ecx\n 2:\n .rept 100\n fadd %%st(1), %%st\n"
      ".endr\n dec %%ecx\n jnz 2b\n dec %1\n jnz 1b\n fistpl %0\n fstp %%st(0)"
      : "=m"(out), "+r"(n)
      :
      : "ecx", "cc");
  return out;
}

int main(int argc, char **argv) {
  for (const Shape &s : kShapes) {
    if (argc > 1 && strcmp(argv[1], s.name) == 0) {
      printf("%d\n", s.run());
      return 0;
    }
  }
  printf("unknown shape\n");
  return 1;
}
