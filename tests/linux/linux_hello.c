/* An ordinary Linux i386 program, statically linked against the host's C library: what
   nuvrelos-run must recognise and refuse. */
#include <stdio.h>

int main(void) {
  puts("hello from Linux");
  return 0;
}
