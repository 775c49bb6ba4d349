/* count: the lines, words and bytes of standard input, as wc prints them. */
#include <stdio.h>
#include <unistd.h>

int main(void) {
  char buffer[4096];
  long lines = 0, words = 0, bytes = 0;
  int n, in_word = 0;
  while ((n = read(0, buffer, sizeof buffer)) > 0) {
    for (int i = 0; i < n; ++i) {
      char c = buffer[i];
      int space = c == ' ' || c == '\n' || c == '\t' || c == '\r';
      if (c == '\n') ++lines;
      if (!space && !in_word) ++words;
      in_word = !space;
    }
    bytes += n;
  }
  printf("%ld %ld %ld\n", lines, words, bytes);
  return n < 0;
}
