#include <gtest/gtest.h>

#include "archive/fatal_error.h"
#include "install/work_cleanup.h"
#include "install/work_folder.h"
#include "platform_stand_in.h"
#include "test_support.h"

namespace {

TEST(WorkPath, FromTemporaryPath) {
    struct Case {
        std::string temp;
        std::string work;
    };
    const Case cases[] = {
        {"c:\\windows\\temp\\", "C:\\WINDOWS\\TEMP"},
        {"D:\\", "D:"},
        {"C:\\TEMP\\\\", "C:\\TEMP\\"}, // only one trailing backslash goes
        {"C:\\Temp", "C:\\TEMP"},
        {"\\\\server\\share\\tmp\\", "\\\\SERVER\\SHARE\\TMP"},
        {"", ""},
        {"c:\\d\xe9j\xe0\\", "C:\\D\xe9J\xe0"}, // bytes beyond ASCII unchanged
        {"C:\\" + std::string(255, 'a'), "C:\\" + std::string(255, 'A')}, // 258 characters
        {"C:\\" + std::string(254, 'a') + "\\", "C:\\" + std::string(254, 'A')},
    };
    for (const Case& c : cases) {
        char work[WORK_PATH_SIZE];
        derive_work_path(c.temp.c_str(), work);
        EXPECT_EQ(work, c.work) << c.temp;
    }
}

class Prepare : public ::testing::Test {
  protected:
    void SetUp() override {
        machine_.make_folder("MEDIA");
        machine_.make_folder("TEMP");
        g_posix.own_path = "C:\\MEDIA\\WBOOT.EXE";
        g_posix.temp_path = "c:\\temp\\";
        g_install_ready = 0;
        std::string error;
        PackMember m;
        m.name = "W_SETUP.EXE";
        m.data = bytes_of("setup program");
        write_file(machine_.host("MEDIA/W_SETUP.WPK"), build_archive({m}, &error));
    }
    FakeMachine machine_;
};

TEST_F(Prepare, UnpacksIntoTheWorkSubfolder) {
    prepare_and_unpack();
    EXPECT_STREQ(g_work_path, "C:\\TEMP");
    EXPECT_EQ(g_install_ready, 1);
    EXPECT_EQ(read_file(machine_.host("TEMP/W80_INST/W_SETUP.EXE")), bytes_of("setup program"));
    char cwd[260];
    ASSERT_TRUE(folder_get_current(cwd, sizeof cwd));
    EXPECT_STREQ(cwd, "C:\\TEMP\\W80_INST");
    EXPECT_TRUE(g_posix.boxes.empty());
}

TEST_F(Prepare, TemporaryFolderAtADriveRootWorksInItsRoot) {
    // "C:" alone would name the current folder of drive C, wherever the
    // program was started.
    machine_.make_folder("WINDOWS");
    g_posix.temp_path = "C:\\";
    for (const char* start : {"C:\\", "C:\\WINDOWS"}) {
        ASSERT_TRUE(folder_set_current(start));
        g_install_ready = 0;
        prepare_and_unpack();
        EXPECT_STREQ(g_work_path, "C:") << start;
        EXPECT_EQ(g_install_ready, 1) << start;
        EXPECT_TRUE(file_exists(machine_.host("W80_INST/W_SETUP.EXE"))) << start;
        EXPECT_FALSE(file_exists(machine_.host("WINDOWS/W80_INST"))) << start;
        clean_work_folder(); // from the work subfolder, where the unpack left it
        EXPECT_FALSE(file_exists(machine_.host("W80_INST"))) << start;
    }
}

TEST_F(Prepare, ReusesAnExistingWorkSubfolder) {
    machine_.make_folder("TEMP/W80_INST");
    write_file(machine_.host("TEMP/W80_INST/OLD.TXT"), {1});
    write_file(machine_.host("TEMP/W80_INST/W_SETUP.EXE"), {2});
    prepare_and_unpack();
    EXPECT_EQ(g_install_ready, 1);
    EXPECT_EQ(read_file(machine_.host("TEMP/W80_INST/OLD.TXT")), Bytes{1});
    EXPECT_EQ(read_file(machine_.host("TEMP/W80_INST/W_SETUP.EXE")), bytes_of("setup program"));
}

TEST_F(Prepare, EndsQuietlyWhenThereIsNoUsableWorkFolder) {
    struct Case {
        const char* what;
        bool has_temp;
        std::string temp;
    };
    const Case cases[] = {
        {"no temporary path", false, ""},
        {"network path", true, "\\\\SERVER\\SHARE\\"},
        {"unmapped drive", true, "Q:\\TEMP\\"},
        {"temporary folder gone", true, "C:\\GONE\\"},
    };
    for (const Case& c : cases) {
        g_posix.has_temp_path = c.has_temp;
        g_posix.temp_path = c.temp;
        g_install_ready = 0;
        prepare_and_unpack();
        EXPECT_EQ(g_install_ready, 0) << c.what;
        EXPECT_TRUE(g_posix.boxes.empty()) << c.what;
        EXPECT_FALSE(file_exists(machine_.host("W80_INST"))) << c.what;
        EXPECT_FALSE(file_exists(machine_.host("W_SETUP.EXE"))) << c.what;
    }
}

TEST_F(Prepare, UnenterableWorkSubfolderUnpacksNothing) {
    write_file(machine_.host("TEMP/W80_INST"), bytes_of("a file in the way"));
    prepare_and_unpack();
    EXPECT_EQ(g_install_ready, 0);
    EXPECT_TRUE(g_posix.boxes.empty());
    EXPECT_FALSE(file_exists(machine_.host("TEMP/W_SETUP.EXE")));
    EXPECT_FALSE(file_exists(machine_.host("TEMP/W_SETUP.WPK")));
}

TEST_F(Prepare, FatalErrorReturnsNormallyWithStreamsClosed) {
    PackMember m;
    m.name = "BIG.BIN";
    m.data = random_bytes(40000, 1);
    std::string error;
    Bytes archive = build_archive({m}, &error);
    archive.resize(archive.size() - 500);
    write_file(machine_.host("MEDIA/W_SETUP.WPK"), archive);
    prepare_and_unpack();
    EXPECT_EQ(g_install_ready, 0);
    ASSERT_EQ(g_posix.boxes.size(), 1u);
    EXPECT_EQ(g_posix.boxes[0].text, "File error !!");
    EXPECT_EQ(g_posix.boxes[0].caption, "Fatal Error");
    EXPECT_EQ(g_archive_stream, nullptr);
    EXPECT_EQ(g_output_stream, nullptr);
    EXPECT_EQ(g_fatal_jump.armed, 0);
    EXPECT_TRUE(file_exists(machine_.host("TEMP/W80_INST/BIG.BIN")));
}

} // namespace
