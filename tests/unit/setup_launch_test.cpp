#include <gtest/gtest.h>

#include <cstring>

#include "install/setup_launch.h"
#include "install/work_folder.h"
#include "platform_stand_in.h"
#include "test_support.h"

namespace {

// The check-sum term (5 x d) / 3 of each digit, rounded down, worked by hand.
const int TERM[10] = {0, 1, 3, 5, 6, 8, 10, 11, 13, 15};

TEST(LaunchToken, CheckSumMatchesTheDigitsForManySeeds) {
    bool saw_zero = false;
    for (uint32_t seed = 0; seed < 300000; ++seed) {
        const int32_t token = launch_token_from_seed(seed * 7919u);
        ASSERT_GE(token, 0);
        const int value = token / 1000;
        ASSERT_LE(value, 9999);
        ASSERT_EQ(token % 1000, TERM[value / 1000] + TERM[value / 100 % 10] +
                                    TERM[value / 10 % 10] + TERM[value % 10]);
        saw_zero = saw_zero || token == 0;
    }
    EXPECT_TRUE(saw_zero); // four zero digits do occur, and give 0
}

TEST(LaunchToken, KnownSeeds) {
    // Worked by hand from state = state * 214013 + 2531011, digit = ((state >> 16) & 0x7FFF) % 10.
    // Seed 0: outputs 38, 7719, 21238, 2437 -> digits 8, 9, 8, 7; 13 + 15 + 13 + 11 = 52.
    EXPECT_EQ(launch_token_from_seed(0), 8987052);
    // Seed 1: outputs 41, 18467, 6334, 26500 -> digits 1, 7, 4, 0; 1 + 11 + 6 + 0 = 18.
    EXPECT_EQ(launch_token_from_seed(1), 1740018);
}

TEST(SetupCommand, Format) {
    char buffer[COMMAND_LINE_SIZE];
    ASSERT_TRUE(format_setup_command(buffer, "C:\\TEMP", 1234013, 0x1234, "E:\\DISK1\\WBOOT.EXE"));
    EXPECT_STREQ(buffer, "C:\\TEMP\\W80_INST\\W_SETUP.EXE 1234013 4660 E:\\DISK1\\WBOOT.EXE");
    ASSERT_TRUE(format_setup_command(buffer, "D:", 0, 0x80000010u, "\"not quoted\" path"));
    EXPECT_STREQ(buffer, "D:\\W80_INST\\W_SETUP.EXE 0 2147483664 \"not quoted\" path");
    // A space in the work path: the program is quoted so no other split of
    // the path can be started in its place; the own path stays as it is.
    ASSERT_TRUE(
        format_setup_command(buffer, "C:\\DOCUMENTS AND SETTINGS\\TEMP", 7, 9, "A B\\WBOOT.EXE"));
    EXPECT_STREQ(buffer,
                 "\"C:\\DOCUMENTS AND SETTINGS\\TEMP\\W80_INST\\W_SETUP.EXE\" 7 9 A B\\WBOOT.EXE");
}

TEST(SetupCommand, NeverCutOrOverrun) {
    // "X\W80_INST\W_SETUP.EXE 0 1 " is 27 characters; the path fills the rest.
    for (size_t length : {size_t(519), size_t(520)}) {
        char buffer[COMMAND_LINE_SIZE + 16];
        memset(buffer, 'Z', sizeof buffer);
        const bool fits = length < COMMAND_LINE_SIZE;
        EXPECT_EQ(format_setup_command(buffer, "X", 0, 1, std::string(length - 27, 'p').c_str()),
                  fits);
        if (fits) {
            EXPECT_EQ(strlen(buffer), length);
        }
        EXPECT_EQ(buffer[COMMAND_LINE_SIZE], 'Z'); // nothing beyond the buffer
    }
}

class Launch : public ::testing::Test {
  protected:
    void SetUp() override {
        strcpy(g_work_path, "C:\\TEMP");
        g_posix.own_path = "E:\\DISK 1\\WBOOT.EXE";
        g_posix.time_seconds = 1;
    }
    FakeMachine machine_;
};

TEST_F(Launch, StartsThenHides) {
    WindowHandle window = reinterpret_cast<WindowHandle>(uintptr_t(0x10086));
    EXPECT_TRUE(launch_setup(window));
    ASSERT_EQ(g_posix.started.size(), 1u);
    EXPECT_EQ(g_posix.started[0],
              "C:\\TEMP\\W80_INST\\W_SETUP.EXE 1740018 65670 E:\\DISK 1\\WBOOT.EXE");
    EXPECT_EQ(g_posix.hidden, std::vector<WindowHandle>{window});
}

TEST_F(Launch, FailedStartIsReportedAndTheWindowStays) {
    for (uint32_t result : {0u, 2u, 31u}) {
        g_posix.start_result = result;
        g_posix.hidden.clear();
        EXPECT_FALSE(launch_setup(reinterpret_cast<WindowHandle>(uintptr_t(1))));
        EXPECT_TRUE(g_posix.hidden.empty());
    }
    g_posix.start_result = 32;
    EXPECT_TRUE(launch_setup(reinterpret_cast<WindowHandle>(uintptr_t(1))));
}

TEST_F(Launch, CommandTooLongIsNotStarted) {
    // The work path, 21 characters for the program, " 1740018 1 " and the own
    // path of 255: 519 characters with a work path of 232, one more with 233.
    g_posix.own_path = "E:\\" + std::string(248, 'o') + ".EXE";
    for (size_t work : {size_t(232), size_t(233)}) {
        g_posix.started.clear();
        strcpy(g_work_path, ("C:\\" + std::string(work - 3, 'W')).c_str());
        EXPECT_EQ(launch_setup(reinterpret_cast<WindowHandle>(uintptr_t(1))), work == 232);
        EXPECT_EQ(g_posix.started.size() == 1 && g_posix.started[0].size() == 519, work == 232);
    }
    EXPECT_EQ(g_posix.hidden.size(), 1u);
}

} // namespace
