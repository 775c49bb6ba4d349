/* Small kernels for timing the emulator against qemu-i386: the same source and the same runtime
   routines (string, formatting, conversion) are built for nuvrelos and for Linux.

   Usage: KERNEL COUNT. Runs the kernel COUNT times and prints a checksum, so no work can be
   left out; COUNT 0 measures start-up alone. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kernels.h"

static uint8_t g_buffer[64 * 1024];
static uint8_t g_copy[64 * 1024];

static void say(const char *text) { bench_out(text, strlen(text)); }

/* Integer arithmetic and branches, no memory traffic. */
static uint32_t alu(uint32_t count) {
  uint32_t x = 2463534242u, sum = 0;
  for (uint32_t i = 0; i < count; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    sum += (x & 1) ? x * 3 : x / 7;
  }
  return sum;
}

/* One byte store at a time over a 64 KB buffer, COUNT times 1024 bytes. */
static uint32_t byte_stores(uint32_t count) {
  volatile uint8_t *p = g_buffer;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t base = (i * 1024) & (sizeof g_buffer - 1);
    for (uint32_t j = 0; j < 1024; ++j) p[base + j] = (uint8_t)(i + j);
  }
  return g_buffer[count & (sizeof g_buffer - 1)];
}

/* The runtime's memcpy, 4 KB at a time. */
static uint32_t copies(uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t at = (i * 4096) & (sizeof g_buffer - 1);
    memcpy(g_copy + at, g_buffer + (sizeof g_buffer - 4096 - at), 4096);
  }
  return g_copy[count & (sizeof g_copy - 1)];
}

static uint32_t formats(uint32_t count) {
  char line[64];
  uint32_t sum = 0;
  for (uint32_t i = 0; i < count; ++i) {
    sum += (uint32_t)snprintf(line, sizeof line, "%d %s %x", (int)i, "frame", i * 2654435761u);
  }
  return sum;
}

static uint32_t conversions(uint32_t count) {
  static const char *const texts[] = {"12345.678e-3", "-0.000125", "6.02214076e23", "42"};
  uint32_t sum = 0;
  for (uint32_t i = 0; i < count; ++i) {
    long double v = strtold(texts[i & 3], NULL);
    sum += (uint32_t)(v > 1 ? 1 : 0) + (uint32_t)i;
  }
  return sum;
}

static uint32_t kernel_calls(uint32_t count) {
  uint32_t sum = 0;
  for (uint32_t i = 0; i < count; ++i) sum += (uint32_t)bench_kernel_call();
  return sum;
}

struct Kernel {
  const char *name;
  uint32_t (*run)(uint32_t count);
};

static const struct Kernel g_kernels[] = {
    {"alu", alu},         {"byte_stores", byte_stores}, {"memcpy", copies},
    {"snprintf", formats}, {"strtold", conversions},    {"kernel_calls", kernel_calls},
};

int main(int argc, char **argv) {
  if (argc != 3) {
    say("usage: kernels KERNEL COUNT\n");
    return 2;
  }
  uint32_t count = (uint32_t)strtoul(argv[2], NULL, 10);
  for (size_t i = 0; i < sizeof g_kernels / sizeof g_kernels[0]; ++i) {
    if (strcmp(argv[1], g_kernels[i].name) == 0) {
      char line[64];
      int n = snprintf(line, sizeof line, "%s %u\n", g_kernels[i].name, g_kernels[i].run(count));
      bench_out(line, (size_t)n);
      return 0;
    }
  }
  say("unknown kernel\n");
  return 2;
}
