/* Format macros for the exact-width types, and the intmax_t functions. Only the macros both
   of the system's formatters honour are here: the conversions d, i, u and x of values of 32
   bits or fewer (printf and snprintf print them; sscanf reads d, i, u and x into an int-sized
   object). None for 64-bit values, intmax_t or X: snprintf reads every integer as 32 bits and
   printf knows no X, so those belong in printf("%lld") and snprintf("%X") directly. */
#pragma once

#include <stdint.h>

#define PRId8 "d"
#define PRId16 "d"
#define PRId32 "d"
#define PRIi8 "i"
#define PRIi16 "i"
#define PRIi32 "i"
#define PRIu8 "u"
#define PRIu16 "u"
#define PRIu32 "u"
#define PRIx8 "x"
#define PRIx16 "x"
#define PRIx32 "x"
#define PRIdLEAST8 "d"
#define PRIdLEAST16 "d"
#define PRIdLEAST32 "d"
#define PRIiLEAST8 "i"
#define PRIiLEAST16 "i"
#define PRIiLEAST32 "i"
#define PRIuLEAST8 "u"
#define PRIuLEAST16 "u"
#define PRIuLEAST32 "u"
#define PRIxLEAST8 "x"
#define PRIxLEAST16 "x"
#define PRIxLEAST32 "x"
#define PRIdFAST8 "d"
#define PRIdFAST16 "d"
#define PRIdFAST32 "d"
#define PRIiFAST8 "i"
#define PRIiFAST16 "i"
#define PRIiFAST32 "i"
#define PRIuFAST8 "u"
#define PRIuFAST16 "u"
#define PRIuFAST32 "u"
#define PRIxFAST8 "x"
#define PRIxFAST16 "x"
#define PRIxFAST32 "x"
#define PRIdPTR "d"
#define PRIiPTR "i"
#define PRIuPTR "u"
#define PRIxPTR "x"

/* sscanf stores int-sized objects only: int32_t, int_fast16_t and int_fast32_t (both int),
   intptr_t. */
#define SCNd32 "d"
#define SCNi32 "i"
#define SCNu32 "u"
#define SCNx32 "x"
#define SCNdLEAST32 "d"
#define SCNiLEAST32 "i"
#define SCNuLEAST32 "u"
#define SCNxLEAST32 "x"
#define SCNdFAST16 "d"
#define SCNiFAST16 "i"
#define SCNuFAST16 "u"
#define SCNxFAST16 "x"
#define SCNdFAST32 "d"
#define SCNiFAST32 "i"
#define SCNuFAST32 "u"
#define SCNxFAST32 "x"
#define SCNdPTR "d"
#define SCNiPTR "i"
#define SCNuPTR "u"
#define SCNxPTR "x"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
  intmax_t quot;
  intmax_t rem;
} imaxdiv_t;

intmax_t imaxabs(intmax_t value);
imaxdiv_t imaxdiv(intmax_t numerator, intmax_t denominator);
intmax_t strtoimax(const char *text, char **end, int base);
uintmax_t strtoumax(const char *text, char **end, int base);

#ifdef __cplusplus
}
#endif
