/* upper: standard input to standard output, letters in capitals. */
#include <ctype.h>
#include <unistd.h>

int main(void) {
  char buffer[4096];
  int n;
  while ((n = read(0, buffer, sizeof buffer)) > 0) {
    for (int i = 0; i < n; ++i) buffer[i] = (char)toupper((unsigned char)buffer[i]);
    for (int done = 0; done < n;) {
      int put = write(1, buffer + done, n - done);
      if (put <= 0) return 1;
      done += put;
    }
  }
  return n < 0;
}
