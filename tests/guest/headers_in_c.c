/* Every public header of the runtime must compile as C, on its own and together. */
#include <errno.h>
#include <fcntl.h>
#include <gui.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <user_crt0.h>
#include <user_pkgmeta.h>

int nuv_headers_in_c(void) { return (int)sizeof(Stream) + (int)sizeof(GuiEvent); }
