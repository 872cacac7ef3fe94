#include <gtest/gtest.h>

#include <cstring>

#include "install/setup_launch.h"
#include "install/work_folder.h"
#include "platform_stand_in.h"
#include "test_support.h"

namespace {

int term(int digit) {
    return 5 * digit / 3;
}

TEST(LaunchToken, CheckSumMatchesTheDigitsForManySeeds) {
    bool saw_zero = false;
    for (uint32_t seed = 0; seed < 300000; ++seed) {
        const int32_t token = launch_token_from_seed(seed * 7919u);
        ASSERT_GE(token, 0);
        const int value = token / 1000;
        const int check = token % 1000;
        ASSERT_LE(value, 9999);
        ASSERT_LE(check, 60);
        ASSERT_EQ(check, term(value / 1000) + term(value / 100 % 10) + term(value / 10 % 10) +
                             term(value % 10));
        saw_zero = saw_zero || token == 0;
    }
    EXPECT_TRUE(saw_zero); // four zero digits do occur, and give 0
}

TEST(LaunchToken, KnownSeeds) {
    // Worked by hand from state = state * 214013 + 2531011, digit = ((state >> 16) & 0x7FFF) % 10.
    // Seed 0: outputs 38, 7719, 21238, 2437 -> digits 8, 9, 8, 7.
    EXPECT_EQ(launch_token_from_seed(0), 8987 * 1000 + term(8) + term(9) + term(8) + term(7));
    // Seed 1: outputs 41, 18467, 6334, 26500 -> digits 1, 7, 4, 0.
    EXPECT_EQ(launch_token_from_seed(1), 1740 * 1000 + term(1) + term(7) + term(4) + term(0));
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
    char buffer[COMMAND_LINE_SIZE + 16];
    memset(buffer, 'Z', sizeof buffer);
    // "X\W80_INST\W_SETUP.EXE 0 1 " is 27 characters; the path fills the rest.
    const std::string fits(519 - 27, 'p');
    ASSERT_TRUE(format_setup_command(buffer, "X", 0, 1, fits.c_str()));
    EXPECT_EQ(strlen(buffer), 519u);
    EXPECT_FALSE(format_setup_command(buffer, "X", 0, 1, (fits + "p").c_str()));
    EXPECT_EQ(buffer[COMMAND_LINE_SIZE], 'Z'); // nothing beyond the buffer
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
    g_posix.own_path = "E:\\" + std::string(250, 'o') + ".EXE";
    std::string work = "C:\\" + std::string(255, 'W');
    strcpy(g_work_path, work.c_str());
    EXPECT_FALSE(launch_setup(reinterpret_cast<WindowHandle>(uintptr_t(1))));
    EXPECT_TRUE(g_posix.started.empty());
    EXPECT_TRUE(g_posix.hidden.empty());
}

} // namespace
