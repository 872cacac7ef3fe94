#include <gtest/gtest.h>

#include "archive/dos_time.h"

namespace {

uint32_t packed(int year_field, int month, int day, int hour, int minute, int seconds_field) {
    return uint32_t(year_field) << 25 | uint32_t(month) << 21 | uint32_t(day) << 16 |
           uint32_t(hour) << 11 | uint32_t(minute) << 5 | uint32_t(seconds_field);
}

TEST(DosTime, StoredBytesToCalendar) {
    const uint8_t bytes[4] = {0x7D, 0xBF, 0x9F, 0x27};
    const CalendarTime t = unpack_dos_date_time(read_dos_date_time(bytes));
    EXPECT_EQ(t.year, 1999);
    EXPECT_EQ(t.month, 12);
    EXPECT_EQ(t.day, 31);
    EXPECT_EQ(t.hour, 23);
    EXPECT_EQ(t.minute, 59);
    EXPECT_EQ(t.second, 58);
    EXPECT_TRUE(is_valid_calendar_time(t));
}

TEST(DosTime, FieldsAndValidity) {
    struct Case {
        uint32_t value;
        int year, month, day, hour, minute, second;
        bool valid;
    };
    const Case cases[] = {
        {packed(20, 5, 17, 10, 30, 21), 2000, 5, 17, 10, 30, 42, true},
        {packed(0, 1, 1, 0, 0, 29), 1980, 1, 1, 0, 0, 58, true},
        {packed(127, 12, 31, 23, 59, 29), 2107, 12, 31, 23, 59, 58, true},
        {packed(0, 1, 1, 0, 0, 30), 1980, 1, 1, 0, 0, 60, false},
        {packed(0, 1, 1, 0, 0, 31), 1980, 1, 1, 0, 0, 62, false},
        {packed(0, 0, 1, 0, 0, 0), 1980, 0, 1, 0, 0, 0, false},
        {packed(0, 13, 1, 0, 0, 0), 1980, 13, 1, 0, 0, 0, false},
        {packed(0, 1, 0, 0, 0, 0), 1980, 1, 0, 0, 0, 0, false},
        {packed(0, 4, 31, 0, 0, 0), 1980, 4, 31, 0, 0, 0, false},
        {packed(20, 2, 29, 0, 0, 0), 2000, 2, 29, 0, 0, 0, true},   // 2000 is a leap year
        {packed(120, 2, 29, 0, 0, 0), 2100, 2, 29, 0, 0, 0, false}, // 2100 is not
        {packed(21, 2, 29, 0, 0, 0), 2001, 2, 29, 0, 0, 0, false},
        {packed(0, 1, 1, 24, 0, 0), 1980, 1, 1, 24, 0, 0, false},
        {packed(0, 1, 1, 0, 60, 0), 1980, 1, 1, 0, 60, 0, false},
    };
    for (const Case& c : cases) {
        const CalendarTime t = unpack_dos_date_time(c.value);
        EXPECT_EQ(t.year, c.year);
        EXPECT_EQ(t.month, c.month);
        EXPECT_EQ(t.day, c.day);
        EXPECT_EQ(t.hour, c.hour);
        EXPECT_EQ(t.minute, c.minute);
        EXPECT_EQ(t.second, c.second);
        EXPECT_EQ(is_valid_calendar_time(t), c.valid) << std::hex << c.value;
        if (c.valid) {
            EXPECT_EQ(pack_dos_date_time(t), c.value);
        }
    }
}

TEST(DosTime, UnixConversionsAgree) {
    EXPECT_EQ(unix_from_calendar({1970, 1, 1, 0, 0, 0}), 0);
    EXPECT_EQ(unix_from_calendar({2000, 5, 17, 10, 30, 42}), 958559442);
    EXPECT_EQ(unix_from_calendar({1999, 12, 31, 23, 59, 58}), 946684798);
    for (int64_t s = 315532800; s < 4354819200LL; s += 86400 * 37 + 3607) {
        const CalendarTime t = calendar_from_unix(s);
        EXPECT_TRUE(is_valid_calendar_time(t));
        EXPECT_EQ(unix_from_calendar(t), s);
    }
}

} // namespace
