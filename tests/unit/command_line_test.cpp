// The program's own path as the Windows entry takes it from the command line.
#include <gtest/gtest.h>

#include <string>

#include "archive/path_text.h"
#include "platform/win32/command_line_win32.h"
#include "test_support.h"

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

TEST(CommandLine, WhichOwnPathsNeedTheStartFolder) {
    struct Case {
        const char* name;
        bool relative;
        LeadByteTest lead;
    };
    const Case CASES[] = {
        {"DISK1\\WBOOT.EXE", true, single_byte},
        {".\\WBOOT.EXE", true, single_byte},
        {"\\WBOOT.EXE", true, single_byte}, // the current drive's root
        {"E:WBOOT.EXE", true, single_byte}, // drive E's current folder
        {"DISK1/WBOOT.EXE", true, single_byte},
        {"E:\\DISK1\\WBOOT.EXE", false, single_byte},
        {"e:/DISK1/WBOOT.EXE", false, single_byte},
        {"\\\\SERVER\\SHARE\\WBOOT.EXE", false, single_byte},
        {"WBOOT.EXE", false, single_byte},   // found on the search path, perhaps
        {"\x95\x5C.EXE", false, cp932_lead}, // a bare name whose second byte is 0x5C
        {"\x95\x5C.EXE", true, single_byte}, // the same bytes in a single-byte code page
        {"1:WBOOT.EXE", false, single_byte},
    };
    for (const Case& c : CASES)
        EXPECT_EQ(own_path_is_relative(c.name, c.lead), c.relative) << c.name;
}

TEST(PathText, DoubleByteCharactersAreSteppedOver) {
    struct Case {
        const char* path;
        int last_backslash; // -1: none
        const char* upper;
    };
    // CP932: 0x95 0x5C is one character, and so are 0x8E 0x52 and 0x93 0x63.
    const Case CASES[] = {
        {"E:\\DISK1\\\x95\x5C.EXE", 8, "E:\\DISK1\\\x95\x5C.EXE"},
        {"e:\\\x95\x5C", 2, "E:\\\x95\x5C"},
        {"c:\\temp\\\x8E\x52\x93\x63z", 7, "C:\\TEMP\\\x8E\x52\x93\x63Z"},
        {"\x95", -1, "\x95"}, // a lead byte at the end stands alone
        {"`az{@AZ[", -1, "`AZ{@AZ["},
    };
    for (const Case& c : CASES) {
        std::string text = c.path;
        const char* found = last_backslash(text.data(), cp932_lead);
        EXPECT_EQ(found ? int(found - text.data()) : -1, c.last_backslash) << c.path;
        upper_case_ascii(text.data(), cp932_lead);
        EXPECT_EQ(text, c.upper) << c.path;
    }
}

} // namespace
