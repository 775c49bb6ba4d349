/* Guest-side helpers for the tests of the customary library additions: results wider than
   EAX stored to memory, errno captured, and the control flow of setjmp and assert. */
/* Asserting whatever the build type says (CMake's release types define NDEBUG). */
#undef NDEBUG
#include <assert.h>
#include <errno.h>
#include <setjmp.h>
#include <stdlib.h>
#include <time.h>

/* strtoll (is_signed) or strtoull: the value and errno afterwards (errno cleared first). */
void nuv_probe_strtoll(const char *text, char **end, int base, int is_signed, long long *value,
                       int *error) {
  errno = 0;
  *value = is_signed ? strtoll(text, end, base) : (long long)strtoull(text, end, base);
  *error = errno;
}

void nuv_probe_lldiv(long long numerator, long long denominator, long long *out) {
  lldiv_t d = lldiv(numerator, denominator);
  out[0] = d.quot;
  out[1] = d.rem;
}

static jmp_buf s_env;
static volatile int s_depth_reached;

static void descend(int depth, int value) {
  volatile char frame[64];
  frame[0] = (char)depth;
  s_depth_reached = depth;
  if (depth == 0) longjmp(s_env, value);
  if (depth > 0) descend(depth - 1, value);
  frame[1] = frame[0]; /* keeps the call a real one, not a jump */
}

/* longjmp from `depth` calls down with `value`: returns what setjmp returned the second time,
   plus 1000 times the callee-saved locals' check (1 when they survived). */
int nuv_probe_setjmp(int depth, int value) {
  volatile int kept = 1234;
  int first = setjmp(s_env);
  if (first == 0) {
    descend(depth, value);
    return -1;
  }
  return first + 1000 * (kept == 1234);
}

int nuv_probe_assert(int condition) {
  assert(condition == 7);
  return condition;
}

/* gmtime_r's fields, then timegm of them, for time t. */
long nuv_probe_calendar(long t, int *fields) {
  struct tm tm;
  time_t when = t;
  if (gmtime_r(&when, &tm) == 0) return -2;
  fields[0] = tm.tm_year;
  fields[1] = tm.tm_mon;
  fields[2] = tm.tm_mday;
  fields[3] = tm.tm_hour;
  fields[4] = tm.tm_min;
  fields[5] = tm.tm_sec;
  fields[6] = tm.tm_wday;
  fields[7] = tm.tm_yday;
  return timegm(&tm);
}

int nuv_probe_compare_ints(const void *a, const void *b) {
  int x = *(const int *)a, y = *(const int *)b;
  return (x > y) - (x < y);
}

/* The error numbers ISO C names, as a program compiled against the library sees them. */
void nuv_probe_iso_errors(int *out) {
  out[0] = EDOM;
  out[1] = ERANGE;
  out[2] = EILSEQ;
}
