// Exits with the status its first argument names ("3", "-1"), after writing its arguments,
// one per line, so the runner's output and status can both be checked.
#include <string.h>
#include <unistd.h>

namespace {

int parse(const char *s) {
  int sign = 1;
  if (*s == '-') {
    sign = -1;
    ++s;
  }
  int v = 0;
  while (*s >= '0' && *s <= '9') v = v * 10 + (*s++ - '0');
  return sign * v;
}

}  // namespace

int main(int argc, char **argv) {
  for (int i = 0; i < argc; ++i) {
    const char *a = argv[i];
    size_t n = 0;
    while (a[n] != '\0') ++n;
    write(1, a, n);
    write(1, "\n", 1);
  }
  return argc > 1 ? parse(argv[1]) : 0;
}
