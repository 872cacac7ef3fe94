// The real POSIX services of the host tools, on a scratch folder: Windows-form
// paths reach the right host files, drives are refused, and each call keeps
// the contract the Windows side keeps.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/platform.h"

namespace {

class PlatformPosix : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/wpk-platform-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        ASSERT_TRUE(getcwd(previous_, sizeof previous_));
        ASSERT_TRUE(folder_set_current(folder_.c_str()));
    }
    void TearDown() override {
        EXPECT_EQ(chdir(previous_), 0);
        std::filesystem::remove_all(folder_);
    }
    std::string folder_;
    char previous_[4096];
};

TEST_F(PlatformPosix, FilesAndFoldersThroughWindowsPaths) {
    ASSERT_TRUE(folder_create("SUB"));
    EXPECT_FALSE(folder_create("SUB")); // exists
    const FileHandle out = file_create("SUB\\A.TXT");
    ASSERT_NE(out, FILE_HANDLE_ERROR);
    EXPECT_EQ(file_write(out, "hello", 5), 5u);
    EXPECT_EQ(file_seek(out, 1, FILE_FROM_START), 1);
    EXPECT_EQ(file_seek(out, 0, FILE_FROM_END), 5);
    const FileHandle in = file_open_for_reading("SUB/A.TXT");
    ASSERT_NE(in, FILE_HANDLE_ERROR);
    EXPECT_TRUE(file_is_same(in, out));
    char buffer[8] = {};
    EXPECT_EQ(file_read(in, buffer, sizeof buffer), 5u);
    EXPECT_STREQ(buffer, "hello");
    EXPECT_EQ(file_read(in, buffer, sizeof buffer), 0u);
    file_close(in);
    file_close(out);

    char current[4096];
    ASSERT_TRUE(folder_get_current(current, sizeof current));
    EXPECT_EQ(strchr(current, '/'), nullptr); // backslashes only
    EXPECT_FALSE(folder_get_current(current, 3));

    EXPECT_FALSE(file_delete("SUB"));   // files only, as on Windows
    EXPECT_FALSE(folder_remove("SUB")); // not empty
    EXPECT_TRUE(file_delete("SUB\\A.TXT"));
    EXPECT_TRUE(folder_remove("SUB"));
}

TEST_F(PlatformPosix, DrivesAreRefused) {
    // A host has no drive letters: nothing is opened or made under such a path.
    const std::string path = "C:\\" + folder_ + "\\X";
    EXPECT_EQ(file_create(path.c_str()), FILE_HANDLE_ERROR);
    EXPECT_EQ(stream_open(path.c_str(), "wb"), nullptr);
    EXPECT_FALSE(folder_create(path.c_str()));
    EXPECT_FALSE(folder_set_current("C:"));
}

TEST_F(PlatformPosix, ListingSeesEveryEntry) {
    ASSERT_TRUE(folder_create("B"));
    FILE* f = stream_open("A", "wb");
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(stream_set_creation_time(f, CalendarTime{2001, 2, 3, 4, 5, 6}));
    fclose(f);
    std::string seen = "|";
    char name[260];
    bool is_folder = false;
    FolderListing listing = listing_start("*.*", name, sizeof name, &is_folder);
    ASSERT_NE(listing, NO_LISTING);
    do seen += std::string(name) + (is_folder ? "/|" : "|");
    while (listing_next(listing, name, sizeof name, &is_folder));
    listing_end(listing);
    for (const char* entry : {"./|", "../|", "|A|", "B/|"})
        EXPECT_NE(seen.find(entry), std::string::npos) << entry << " in " << seen;
}

TEST_F(PlatformPosix, SystemQuestions) {
    char temp[4096];
    temp[0] = '\0';
    system_get_temp_path(temp, sizeof temp);
    ASSERT_NE(temp[0], '\0');
    EXPECT_EQ(temp[strlen(temp) - 1], '\\');
    char module[4096];
    EXPECT_TRUE(program_get_module_path(module, sizeof module));
    EXPECT_NE(strstr(module, "platform_posix_tests"), nullptr);
    EXPECT_EQ(show_message_box(NO_OWNER, "question", "caption", BOX_YES_NO), ANSWER_NO);
    EXPECT_EQ(show_message_box(NO_OWNER, "notice", "caption", BOX_OK), ANSWER_OK);
}

} // namespace
