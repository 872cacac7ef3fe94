#include "platform/calendar_time.h"

namespace {
bool is_leap_year(int year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}
} // namespace

bool is_valid_calendar_time(const CalendarTime& t) {
    static const int DAYS_IN_MONTH[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.month < 1 || t.month > 12 || t.day < 1) return false;
    const int days = DAYS_IN_MONTH[t.month - 1] + (t.month == 2 && is_leap_year(t.year) ? 1 : 0);
    return t.day <= days && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 &&
           t.second >= 0 && t.second <= 59;
}

namespace {
// Days since 1970-01-01 of a civil date (the classic era-based algorithm,
// exact over the whole proleptic Gregorian calendar). The divisions are on
// 32-bit values, so the 32-bit Windows program needs no 64-bit division
// routines for them.
int64_t days_from_civil(int y, int m, int d) {
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return int64_t(era) * 146097 + doe - 719468;
}
} // namespace

int64_t unix_from_calendar(const CalendarTime& t) {
    return days_from_civil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 +
           t.second;
}
