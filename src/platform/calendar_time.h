// A moment of the calendar in its fields, and its conversions to and from
// seconds since 1970-01-01 00:00:00 UTC (proleptic Gregorian). Shared by the
// platform (file times) and the archive layer (stored member times).
#pragma once

#include <cstdint>

// The fields are not range-checked: a time read from a stored packed value
// may hold, say, month 0 or hour 31 (is_valid_calendar_time tells).
struct CalendarTime {
    int year;
    int month; // 1 to 12 when valid
    int day;   // 1 to 31 when valid
    int hour;
    int minute;
    int second;
};

// True when the fields name a real moment: month 1 to 12, a day inside its
// month (Gregorian leap years), hour up to 23, minute up to 59, second up to 59.
bool is_valid_calendar_time(const CalendarTime& time);

// Conversions between calendar times (UTC, proleptic Gregorian) and seconds
// since 1970-01-01 00:00:00 UTC.
int64_t unix_from_calendar(const CalendarTime& time);
CalendarTime calendar_from_unix(int64_t seconds);
