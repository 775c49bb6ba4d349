// A call through a pure virtual function (from a constructor or destructor of its class, or
// through a destroyed object). Every program links this member (-u __cxa_pure_virtual), since
// the compiler's vtables name it only weakly; it needs no more of the runtime than write and
// abort, so a C program pays almost nothing for it.
#include "stdlib.h"
#include "unistd.h"

extern "C" {

void __cxa_pure_virtual(void) {
  static const char kMessage[] = "pure virtual method called\n";
  write(1, kMessage, sizeof kMessage - 1);
  abort();
}

}  // extern "C"
