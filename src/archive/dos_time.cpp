#include "archive/dos_time.h"

uint32_t read_dos_date_time(const uint8_t packed[4]) {
    return uint32_t(packed[0]) | uint32_t(packed[1]) << 8 | uint32_t(packed[2]) << 16 |
           uint32_t(packed[3]) << 24;
}

CalendarTime unpack_dos_date_time(uint32_t v) {
    CalendarTime t;
    t.year = 1980 + int(v >> 25);
    t.month = int(v >> 21 & 0x0F);
    t.day = int(v >> 16 & 0x1F);
    t.hour = int(v >> 11 & 0x1F);
    t.minute = int(v >> 5 & 0x3F);
    t.second = int(v & 0x1F) * 2;
    return t;
}

uint32_t pack_dos_date_time(const CalendarTime& t) {
    return uint32_t(t.year - 1980) << 25 | uint32_t(t.month) << 21 | uint32_t(t.day) << 16 |
           uint32_t(t.hour) << 11 | uint32_t(t.minute) << 5 | uint32_t(t.second / 2);
}
