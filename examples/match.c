/* match TEXT: the lines of standard input that contain TEXT, as grep -F prints them; status 1
   when there were none. */
#include <stdio.h>
#include <string.h>

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: match TEXT\n");
    return 2;
  }
  char line[4096];
  int found = 0;
  while (fgets(line, sizeof line, stdin)) {
    if (strstr(line, argv[1])) {
      fputs(line, stdout);
      found = 1;
    }
  }
  return found ? 0 : 1;
}
