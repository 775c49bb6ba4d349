// Long runs for the time-travel benchmarks. "spin N": writes g_mark, then spins some N
// million instructions without a kernel call, then writes once more to the console.
// "files N": reads the file "input" N times through 4 KiB reads and writes "output" whole
// each time, a run that is mostly kernel calls carrying bytes.
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

volatile int g_mark = 0;

__attribute__((noinline)) unsigned spin(unsigned millions) {
  unsigned x = 1;
  // Seven instructions a turn at -O2: 142,857 turns a million instructions.
  for (unsigned i = 0; i < millions * 142857u; ++i) x = x * 33u + i;
  return x;
}

static char g_buffer[1 << 20];

int main(int argc, char **argv) {
  unsigned n = argc > 2 ? static_cast<unsigned>(atoi(argv[2])) : 1;
  if (argc > 1 && strcmp(argv[1], "files") == 0) {
    unsigned sum = 0;
    for (unsigned turn = 0; turn < n; ++turn) {
      int fd = open("input", O_RDONLY);
      if (fd < 0) return 2;
      size_t have = 0;
      for (ssize_t got; (got = read(fd, g_buffer + have, 4096)) > 0;) {
        have += static_cast<size_t>(got);
        if (have + 4096 > sizeof g_buffer) break;
      }
      close(fd);
      for (size_t i = 0; i < have; i += 64) sum += static_cast<unsigned char>(g_buffer[i]);
      if (writefile("output", g_buffer, have) < 0) return 3;
    }
    return static_cast<int>(sum & 0x7F);
  }
  g_mark = 1;  // marker: mark
  unsigned x = spin(n);
  write(1, x == 0 ? "0\n" : "1\n", 2);  // marker: end
  return 0;
}
