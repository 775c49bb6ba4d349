// Calendar arithmetic on the proleptic Gregorian calendar in UTC, and the honest answers of a
// system without clocks. Days are counted from 1970-01-01 in 64 bits, so no field of a
// struct tm can overflow the sums.
#include "time.h"

#include <stdint.h>

#include "errno.h"

namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Days from 1970-01-01 to year-month-day (month 1 to 12, any day), after the era method:
// a 400-year era holds 146097 days.
int64_t days_from_civil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  int64_t era = (year >= 0 ? year : year - 399) / 400;
  int64_t year_of_era = year - era * 400;
  int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

void civil_from_days(int64_t days, int64_t &year, int &month, int &day) {
  days += 719468;
  int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  int64_t day_of_era = days - era * 146097;
  int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  int64_t mp = (5 * day_of_year + 2) / 153;
  day = static_cast<int>(day_of_year - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
}

// Floor division, so negative totals carry into the larger unit the right way.
int64_t floor_div(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

struct tm *fill(int64_t seconds, struct tm *fields) {
  int64_t days = floor_div(seconds, kSecondsPerDay);
  int64_t rest = seconds - days * kSecondsPerDay;
  int64_t year = 0;
  int month = 0, day = 0;
  civil_from_days(days, year, month, day);
  if (year - 1900 < INT32_MIN || year - 1900 > INT32_MAX) {
    errno = ERANGE;
    return nullptr;
  }
  fields->tm_sec = static_cast<int>(rest % 60);
  fields->tm_min = static_cast<int>(rest / 60 % 60);
  fields->tm_hour = static_cast<int>(rest / 3600);
  fields->tm_mday = day;
  fields->tm_mon = month - 1;
  fields->tm_year = static_cast<int>(year - 1900);
  // 1970-01-01 was a Thursday.
  fields->tm_wday = static_cast<int>(((days % 7) + 11) % 7);
  fields->tm_yday = static_cast<int>(days - days_from_civil(year, 1, 1));
  fields->tm_isdst = 0;
  return fields;
}

}  // namespace

extern "C" {

time_t time(time_t *t) {
  errno = ENOSYS;
  if (t != nullptr) *t = -1;
  return -1;
}

clock_t clock(void) { return -1; }

double difftime(time_t end, time_t start) {
  return static_cast<double>(static_cast<int64_t>(end) - static_cast<int64_t>(start));
}

time_t timegm(struct tm *fields) {
  int64_t month = fields->tm_mon;
  int64_t year = int64_t{fields->tm_year} + 1900 + floor_div(month, 12);
  month -= floor_div(month, 12) * 12;
  int64_t days = days_from_civil(year, month + 1, 1) + fields->tm_mday - 1;
  int64_t seconds = days * kSecondsPerDay + int64_t{fields->tm_hour} * 3600 +
                    int64_t{fields->tm_min} * 60 + fields->tm_sec;
  if (seconds < INT32_MIN || seconds > INT32_MAX) {
    errno = ERANGE;
    return -1;
  }
  fill(seconds, fields);
  return static_cast<time_t>(seconds);
}

time_t mktime(struct tm *fields) { return timegm(fields); }

struct tm *gmtime_r(const time_t *t, struct tm *fields) {
  if (t == nullptr || fields == nullptr) return nullptr;
  return fill(*t, fields);
}

struct tm *gmtime(const time_t *t) {
  static struct tm s_fields;
  return gmtime_r(t, &s_fields);
}

struct tm *localtime_r(const time_t *t, struct tm *fields) {
  return gmtime_r(t, fields);
}

struct tm *localtime(const time_t *t) {
  return gmtime(t);
}

}  // extern "C"
