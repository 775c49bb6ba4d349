// The end of a failed assertion: one line on the console, then abort.
#include "assert.h"

#include <stdint.h>

#include "stdio.h"
#include "stdlib.h"
#include "unistd.h"

extern "C" {

void __assert_fail(const char *expression, const char *file, unsigned int line,
                   const char *function) {
  char text[512];
  int n = snprintf(text, sizeof text, "%s:%u: %s: Assertion `%s' failed.\n",
                   file != nullptr ? file : "?", line, function != nullptr ? function : "?",
                   expression != nullptr ? expression : "?");
  // snprintf answers the length it wanted; a long expression is cut, its line still ends.
  uint32_t length = n < 0 ? 0u : static_cast<uint32_t>(n);
  if (length >= sizeof text) {
    length = sizeof text - 1;
    text[length - 1] = '\n';
  }
  // One write: the stream layer would make a kernel call per byte.
  write(1, text, length);
  abort();
}

}  // extern "C"
