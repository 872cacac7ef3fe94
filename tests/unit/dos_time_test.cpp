#include <gtest/gtest.h>

#include <tuple>

#include "archive/dos_time.h"

namespace {

auto fields(const CalendarTime& t) {
    return std::make_tuple(t.year, t.month, t.day, t.hour, t.minute, t.second);
}

// Packed values worked out by hand: the date (year - 1980, month, day in 7, 4
// and 5 bits) in the high half, the time (hour, minute, seconds / 2 in 5, 6
// and 5 bits) in the low half; e.g. 2000-05-17 is 20 * 512 + 5 * 32 + 17 =
// 0x28B1 and 10:30:42 is 10 * 2048 + 30 * 32 + 21 = 0x53D5.
TEST(DosTime, FieldsAndValidity) {
    struct Case {
        uint32_t value;
        CalendarTime time;
        bool valid;
    };
    const Case cases[] = {
        {0x28B153D5, {2000, 5, 17, 10, 30, 42}, true},
        {0x279FBF7D, {1999, 12, 31, 23, 59, 58}, true},
        {0x0021001D, {1980, 1, 1, 0, 0, 58}, true},
        {0xFF9FBF7D, {2107, 12, 31, 23, 59, 58}, true},
        {0x285D6000, {2000, 2, 29, 12, 0, 0}, true}, // 2000 is a leap year
        {0xF05D0000, {2100, 2, 29, 0, 0, 0}, false}, // 2100 is not
        {0x2A9F0000, {2001, 4, 31, 0, 0, 0}, false},
        {0x0021001E, {1980, 1, 1, 0, 0, 60}, false},
        {0x0021001F, {1980, 1, 1, 0, 0, 62}, false},
        {0x00010000, {1980, 0, 1, 0, 0, 0}, false},
        {0x01A10000, {1980, 13, 1, 0, 0, 0}, false},
        {0x00200000, {1980, 1, 0, 0, 0, 0}, false},
        {0x0021C000, {1980, 1, 1, 24, 0, 0}, false},
        {0x00210780, {1980, 1, 1, 0, 60, 0}, false},
    };
    for (const Case& c : cases) {
        const CalendarTime t = unpack_dos_date_time(c.value);
        EXPECT_EQ(fields(t), fields(c.time)) << std::hex << c.value;
        EXPECT_EQ(is_valid_calendar_time(t), c.valid) << std::hex << c.value;
        if (c.valid) {
            EXPECT_EQ(pack_dos_date_time(t), c.value) << std::hex << c.value;
        }
    }
    EXPECT_EQ(pack_dos_date_time({2000, 5, 17, 10, 30, 43}), 0x28B153D5u); // odd seconds round down
    const uint8_t stored[4] = {0x7D, 0xBF, 0x9F, 0x27};                    // little-endian
    EXPECT_EQ(read_dos_date_time(stored), 0x279FBF7Du);
}

TEST(DosTime, EachMonthsLastDayAndTheDayAfter) {
    struct Month {
        int month, last_in_2001, last_in_2000;
    };
    const Month months[] = {{1, 31, 31}, {2, 28, 29},  {3, 31, 31},  {4, 30, 30},
                            {5, 31, 31}, {6, 30, 30},  {7, 31, 31},  {8, 31, 31},
                            {9, 30, 30}, {10, 31, 31}, {11, 30, 30}, {12, 31, 31}};
    for (const Month& m : months) {
        for (const auto& [year, last] : {std::pair{2001, m.last_in_2001}, {2000, m.last_in_2000}}) {
            EXPECT_TRUE(is_valid_calendar_time({year, m.month, last, 23, 59, 59})) << m.month;
            EXPECT_FALSE(is_valid_calendar_time({year, m.month, last + 1, 0, 0, 0})) << m.month;
        }
    }
    EXPECT_TRUE(is_valid_calendar_time({2004, 2, 29, 0, 0, 0}));
    EXPECT_TRUE(is_valid_calendar_time({2400, 2, 29, 0, 0, 0}));
    EXPECT_FALSE(is_valid_calendar_time({2100, 2, 29, 0, 0, 0}));
    EXPECT_FALSE(is_valid_calendar_time({2001, 1, 1, 0, 0, -1}));
}

TEST(DosTime, UnixConversionsAgree) {
    EXPECT_EQ(unix_from_calendar({1970, 1, 1, 0, 0, 0}), 0);
    EXPECT_EQ(unix_from_calendar({2000, 5, 17, 10, 30, 42}), 958559442);
    EXPECT_EQ(unix_from_calendar({1999, 12, 31, 23, 59, 58}), 946684798);
    EXPECT_EQ(unix_from_calendar({2000, 3, 1, 0, 0, 0}), 951868800); // the day after 2000-02-29
    for (int64_t s = 315532800; s < 4354819200LL; s += 86400 * 37 + 3607) {
        const CalendarTime t = calendar_from_unix(s);
        EXPECT_TRUE(is_valid_calendar_time(t));
        EXPECT_EQ(unix_from_calendar(t), s);
    }
}

} // namespace
