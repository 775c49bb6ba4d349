// -*- C++ -*-
// What the compiler's C++ library asks of the system it runs on, before any of its headers:
// nuvrelos has no threads and no C library of another system behind it. Only the freestanding
// part of that library (type traits, limits, utility...) builds against the runtime.
#ifndef _GLIBCXX_OS_DEFINES
#define _GLIBCXX_OS_DEFINES 1

// The character classes are the runtime's functions, never macros of its ctype.h.
#define __NO_CTYPE 1

#endif
