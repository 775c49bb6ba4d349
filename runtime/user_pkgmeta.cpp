#include "user_pkgmeta.h"

// Magic, version 1 (little-endian), then the package name and "2", closed by an empty string.
// Nothing refers to it: "used" and the linker script's KEEP hold it in place.
extern "C" __attribute__((section(".nuvrelos.pkgmeta"), aligned(4), used))
const unsigned char g_pkgmeta_0[NUVRELOS_PKGMETA_SIZE] = {
    'N', 'P', 'K', 'G', 1, 0, 0, 0, 's', 't', 'a', 'c', 'k', '_', 'd', 'e', 'm', 'o', 0, '2', 0, 0};
