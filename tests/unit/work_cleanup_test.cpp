#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "install/work_cleanup.h"
#include "install/work_folder.h"
#include "platform_stand_in.h"
#include "test_support.h"

namespace {

class Cleanup : public ::testing::Test {
  protected:
    void SetUp() override {
        strcpy(g_work_path, "C:\\TEMP");
        machine_.make_folder("TEMP/W80_INST");
        for (const char* name : {"W_SETUP.EXE", "A.DLL", "README.TXT"})
            write_file(machine_.host(std::string("TEMP/W80_INST/") + name), {1});
        write_file(machine_.host("TEMP/KEEP.TXT"), {2}); // not ours
        folder_set_current("C:\\");
    }
    bool work_folder_exists() const { return file_exists(machine_.host("TEMP/W80_INST")); }
    FakeMachine machine_;
};

TEST_F(Cleanup, DeletesEverythingAtOnceWithoutPauses) {
    clean_work_folder();
    EXPECT_FALSE(work_folder_exists());
    EXPECT_TRUE(g_posix.pauses.empty());
    EXPECT_EQ(g_posix.delete_attempts.size(), 3u);
    EXPECT_TRUE(file_exists(machine_.host("TEMP/KEEP.TXT")));
}

TEST_F(Cleanup, RetriesAFileInUse) {
    struct Case {
        int held_for;    // failing attempts
        size_t attempts; // attempts on that file
        size_t pauses;
        bool removed;
    };
    const Case cases[] = {
        {3, 4, 3, true}, {9, 10, 9, true}, {10, 10, 10, false}, {50, 10, 10, false}};
    for (const Case& c : cases) {
        SetUp();
        g_posix.pauses.clear();
        g_posix.delete_attempts.clear();
        g_posix.held_file = "A.DLL";
        g_posix.held_attempts = c.held_for;
        clean_work_folder();
        size_t on_held = 0;
        for (const std::string& name : g_posix.delete_attempts) on_held += name == "A.DLL";
        EXPECT_EQ(on_held, c.attempts) << c.held_for;
        EXPECT_EQ(g_posix.pauses, std::vector<uint32_t>(c.pauses, 300u)) << c.held_for;
        EXPECT_EQ(work_folder_exists(), !c.removed) << c.held_for;
        EXPECT_EQ(file_exists(machine_.host("TEMP/W80_INST/A.DLL")), !c.removed);
        EXPECT_FALSE(file_exists(machine_.host("TEMP/W80_INST/README.TXT"))); // the others go
    }
}

TEST_F(Cleanup, PendingMessagesAreHandledBeforeEachPause) {
    g_posix.held_file = "A.DLL";
    g_posix.held_attempts = 2;
    int handled = 0;
    g_posix.messages = {[&] { ++handled; }, nullptr, [&] { ++handled; }};
    clean_work_folder();
    // First pump: one message, then the quit message ends it (dropped);
    // second pump: the last message.
    EXPECT_EQ(handled, 2);
    EXPECT_TRUE(g_posix.messages.empty());
    EXPECT_FALSE(work_folder_exists());
}

TEST(PumpPendingMessages, StopsAtQuitOrEmpty) {
    FakeMachine machine;
    int handled = 0;
    g_posix.messages = {[&] { ++handled; }, [&] { ++handled; }, nullptr, [&] { ++handled; }};
    EXPECT_EQ(pump_pending_messages(), 1);
    EXPECT_EQ(handled, 2);
    EXPECT_EQ(g_posix.messages.size(), 1u);
    EXPECT_EQ(pump_pending_messages(), 0);
    EXPECT_EQ(handled, 3);
    EXPECT_EQ(pump_pending_messages(), 0);
}

TEST_F(Cleanup, SubfoldersAndDotFilesStayAndSoDoesTheFolder) {
    machine_.make_folder("TEMP/W80_INST/SUB");
    write_file(machine_.host("TEMP/W80_INST/.hidden"), {3});
    clean_work_folder();
    EXPECT_TRUE(file_exists(machine_.host("TEMP/W80_INST/SUB")));
    EXPECT_TRUE(file_exists(machine_.host("TEMP/W80_INST/.hidden")));
    EXPECT_FALSE(file_exists(machine_.host("TEMP/W80_INST/README.TXT")));
    EXPECT_TRUE(work_folder_exists());
    // Neither is tried, so nothing waits.
    EXPECT_TRUE(g_posix.pauses.empty());
    for (const std::string& name : g_posix.delete_attempts) EXPECT_NE(name, "SUB");
}

TEST_F(Cleanup, NothingOutsideTheWorkSubfolderIsDeleted) {
    std::filesystem::remove_all(machine_.host("TEMP/W80_INST"));
    clean_work_folder();
    EXPECT_TRUE(file_exists(machine_.host("TEMP/KEEP.TXT")));
    EXPECT_TRUE(g_posix.delete_attempts.empty());
    // The subfolder could not be entered: both removals are still tried.
    EXPECT_EQ(g_posix.folder_removals,
              (std::vector<std::string>{"W80_INST", "C:\\TEMP\\W80_INST"}));

    strcpy(g_work_path, "C:\\GONE");
    folder_set_current("C:\\TEMP");
    g_posix.folder_removals.clear();
    clean_work_folder();
    EXPECT_TRUE(file_exists(machine_.host("TEMP/KEEP.TXT")));
    EXPECT_TRUE(g_posix.delete_attempts.empty());
    EXPECT_EQ(g_posix.folder_removals, std::vector<std::string>{"C:\\GONE\\W80_INST"});
}

// After the relative removal the folder is removed once more by its full
// path, which must fit in 259 characters: it does with a work path of 250,
// and is skipped with one of 251 rather than cut or overrun.
TEST_F(Cleanup, WorkPathTooLongForTheFullPathSkipsThatRemoval) {
    for (size_t length : {size_t(250), size_t(251)}) {
        const std::string deep = "TEMP/" + std::string(length - 8, 'L');
        machine_.make_folder(deep + "/W80_INST");
        write_file(machine_.host(deep + "/W80_INST/F.TXT"), {1});
        const std::string work = "C:\\TEMP\\" + std::string(length - 8, 'L');
        strcpy(g_work_path, work.c_str());
        g_posix.folder_removals.clear();
        clean_work_folder();
        EXPECT_FALSE(file_exists(machine_.host(deep + "/W80_INST"))) << length;
        std::vector<std::string> removals = {"W80_INST"};
        if (length == 250) removals.push_back(work + "\\W80_INST"); // 259 characters
        EXPECT_EQ(g_posix.folder_removals, removals) << length;
    }
}

} // namespace
