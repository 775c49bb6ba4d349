/* Time. The system has no clock of the day a program can read and no processor-time count,
   so time and clock answer -1, "not available", as ISO C lets them. The calendar arithmetic
   is all here: it knows no time zones, so local time is UTC. */
#pragma once

#include <stddef.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

#define CLOCKS_PER_SEC 1000000L

struct tm {
  int tm_sec;
  int tm_min;
  int tm_hour;
  int tm_mday;
  int tm_mon;
  int tm_year;
  int tm_wday;
  int tm_yday;
  int tm_isdst;
};

/* (time_t)-1, stored through t too when t is not null; errno ENOSYS. */
time_t time(time_t *t);
/* (clock_t)-1. */
clock_t clock(void);
double difftime(time_t end, time_t start);
/* Seconds since 1970-01-01 00:00:00 UTC, from fields that may lie outside their ranges
   (normalised in place, tm_wday and tm_yday set); -1 when the result does not fit. */
time_t mktime(struct tm *fields);
time_t timegm(struct tm *fields);
struct tm *gmtime(const time_t *t);
struct tm *gmtime_r(const time_t *t, struct tm *fields);
struct tm *localtime(const time_t *t);
struct tm *localtime_r(const time_t *t, struct tm *fields);

#ifdef __cplusplus
}
#endif
