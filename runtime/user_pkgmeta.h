/* The package record that the system's tools read from section .nuvrelos.pkgmeta. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

#define NUVRELOS_PKGMETA_SIZE 22

extern const unsigned char g_pkgmeta_0[NUVRELOS_PKGMETA_SIZE];

#ifdef __cplusplus
}
#endif
