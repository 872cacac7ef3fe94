// The packed date and time of a directory record: the MS-DOS layout, time in
// the low 16 bits and date in the high 16 bits, standing for UTC.
#pragma once

#include <cstdint>

struct CalendarTime {
    int year;   // 1980 to 2107
    int month;  // as stored, 0 to 15
    int day;    // as stored, 0 to 31
    int hour;   // as stored, 0 to 31
    int minute; // as stored, 0 to 63
    int second; // twice the stored value, 0 to 62
};

// Reads the 4 stored bytes as one little-endian value.
uint32_t read_dos_date_time(const uint8_t packed[4]);

// Splits a packed value into its calendar fields; no range is checked.
CalendarTime unpack_dos_date_time(uint32_t packed);

// True when the fields name a real moment: month 1 to 12, a day inside its
// month (Gregorian leap years), hour up to 23, minute up to 59, second up to 59.
bool is_valid_calendar_time(const CalendarTime& time);

// The packed form of a valid time from 1980 to 2107; odd seconds round down.
uint32_t pack_dos_date_time(const CalendarTime& time);

// Conversions between calendar times (UTC, proleptic Gregorian) and seconds
// since 1970-01-01 00:00:00 UTC.
int64_t unix_from_calendar(const CalendarTime& time);
CalendarTime calendar_from_unix(int64_t seconds);
