// Takes in what a run can only get from outside: reads the file argv[1] and standard input,
// lists a directory's worth of calls (chdir, getcwd), asks the time-stamp counter through an
// unseeded rand(), then writes what it found to standard output and to the file argv[2].
// Everything it prints is a function of what it read, so a replay shows the same.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

extern "C" int writefile(const char *path, const void *data, unsigned int size);

int main(int argc, char **argv) {
  if (argc < 3) return 2;
  char text[256];
  int fd = open(argv[1], O_RDONLY);
  int n = fd < 0 ? -1 : static_cast<int>(read(fd, text, sizeof text - 1));
  if (fd >= 0) close(fd);
  if (n < 0) n = 0;
  text[n] = '\0';
  unsigned sum = 0;
  for (int i = 0; i < n; ++i) sum = sum * 31u + static_cast<unsigned char>(text[i]);
  char line[64];
  int got = static_cast<int>(read(0, line, sizeof line - 1));
  if (got < 0) got = 0;
  line[got] = '\0';
  char cwd[128] = "";
  getcwd(cwd, sizeof cwd);
  int r = rand();
  char out[512];
  int len =
      snprintf(out, sizeof out, "file %s: %d bytes, sum %u; stdin %d bytes; cwd %s; rand %d\n",
               argv[1], n, sum, got, cwd, r);
  write(1, out, static_cast<size_t>(len));
  int w = writefile(argv[2], out, static_cast<size_t>(len));
  printf("writefile %d\n", w);
  return static_cast<int>(sum % 100u);
}
