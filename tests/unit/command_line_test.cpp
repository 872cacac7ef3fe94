// The program's own path as the Windows entry takes it from the command line.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32/command_line_win32.h"

namespace {

TEST(CommandLine, NameAndArgumentsAsTheRuntimeSplitsThem) {
    struct Case {
        const char* line;
        const char* name;
        const char* arguments;
    };
    const Case CASES[] = {
        {"\"C:\\Program Files\\WBOOT.EXE\" -x", "C:\\Program Files\\WBOOT.EXE", "-x"},
        {"E:\\DISK1\\WBOOT.EXE", "E:\\DISK1\\WBOOT.EXE", ""},
        {"WBOOT  \t a b", "WBOOT", "a b"},
        {"WBOOT\targ", "WBOOT", "arg"},
        {"\"E:\\DISK 1\\WBOOT.EXE", "E:\\DISK 1\\WBOOT.EXE", ""}, // no closing quote
        {"\"\" rest", "", "rest"},
        {"", "", ""},
    };
    for (const Case& c : CASES) {
        const CommandLineHead head = split_command_line(c.line);
        EXPECT_EQ(std::string(head.name, head.name_length), c.name) << c.line;
        EXPECT_STREQ(head.arguments, c.arguments) << c.line;
    }
    EXPECT_EQ(split_command_line(nullptr).name_length, 0u);
}

} // namespace
