// The packed date and time of a directory record: the MS-DOS layout, time in
// the low 16 bits and date in the high 16 bits, standing for UTC.
#pragma once

#include <cstdint>

#include "platform/calendar_time.h"

// Reads the 4 stored bytes as one little-endian value.
uint32_t read_dos_date_time(const uint8_t packed[4]);

// Splits a packed value into its calendar fields; no range is checked.
CalendarTime unpack_dos_date_time(uint32_t packed);

// The packed form of a valid time from 1980 to 2107; odd seconds round down.
uint32_t pack_dos_date_time(const CalendarTime& time);
