/* The exact-width integer types, from the compiler's own definitions (a hosted compiler's
   stdint.h would look for a C library's beneath it). */
#pragma once

#include <stdint-gcc.h>
