#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

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
        LeadByteTest lead = single_byte;
    };
    const Case cases[] = {
        {"c:\\windows\\temp\\", "C:\\WINDOWS\\TEMP"},
        {"D:\\", "D:"},
        {"C:\\TEMP\\\\", "C:\\TEMP\\"}, // only one trailing backslash goes
        {"C:\\Temp", "C:\\TEMP"},
        {"\\\\server\\share\\tmp\\", "\\\\SERVER\\SHARE\\TMP"},
        {"", ""},
        {"c:\\d\xe9j\xe0\\", "C:\\D\xe9J\xe0"}, // bytes beyond ASCII unchanged
        {"c:\\`az{@AZ[", "C:\\`AZ{@AZ["},       // the letters' ends and the bytes beside them
        {"C:\\" + std::string(255, 'a'), "C:\\" + std::string(255, 'A')}, // 258 characters
        {"C:\\" + std::string(254, 'a') + "\\", "C:\\" + std::string(254, 'A')},
        {"C:\\" + std::string(257, 'a'), "C:\\" + std::string(256, 'A')}, // never past 259
        // Second bytes of double-byte characters that look like letters or
        // a backslash stay: yamada (CP932), ttombang (CP949), hyou (CP932).
        {"C:\\Temp\\\x8E\x52\x93\x63\\", "C:\\TEMP\\\x8E\x52\x93\x63", cp932_lead},
        {"c:\\temp\\\x8C\x63\xB9\xE6\\", "C:\\TEMP\\\x8C\x63\xB9\xE6", cp949_lead},
        {"C:\\\x95\x5C\\", "C:\\\x95\x5C", cp932_lead},
        {"C:\\\x95\x5C", "C:\\\x95\x5C", cp932_lead},
        {"C:\\\x95\x5C", "C:\\\x95", single_byte}, // the same bytes in a single-byte code page
    };
    for (const Case& c : cases) {
        char work[WORK_PATH_SIZE];
        derive_work_path(c.temp.c_str(), work, c.lead);
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
        write_file(machine_.host("MEDIA/W_SETUP.WPK"),
                   build_archive({member("", "W_SETUP.EXE", bytes_of("setup program"))}, &error));
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

// Each slot at its limit and one past it: the own path (255 characters), its
// folder and the archive's name (255), the current folder the unpack keeps
// (253: the work path and "\\W80_INST"), a member's folder, backslash and name
// (255), and the temporary path the system may hand over (258).
TEST_F(Prepare, PathSlotsHoldTheirLimitAndRefuseOneMore) {
    struct Case {
        const char* what;
        std::string own_path, temp_path;
        size_t name; // a member "FFF...\\NNN..." with a folder of 200 and a name this long
        int ready;
        size_t boxes, work_path; // boxes shown, length of the work path
    };
    const std::string media = "C:\\MEDIA\\", own = media + "WBOOT.EXE", temp = "C:\\TEMP\\";
    const auto own_in = [&](size_t n) { return media + std::string(n, 'M') + "\\WBOOT.EXE"; };
    const auto temp_of = [](size_t n) { return "C:\\" + std::string(n, 'T') + "\\"; };
    const Case cases[] = {
        {"own path 255", media + std::string(246, 'P'), temp, 0, 1, 0, 7},
        {"own path 256", media + std::string(247, 'P'), temp, 0, 0, 1, 7},
        {"archive path 255", own_in(234), temp, 0, 1, 0, 7},
        {"archive path 256", own_in(235), temp, 0, 0, 1, 7},
        {"current folder 253", own, temp_of(241), 0, 1, 0, 244},
        {"current folder 254", own, temp_of(242), 0, 0, 1, 245},
        {"member path 255", own, temp, 54, 1, 0, 7},
        {"member path 256", own, temp, 55, 1, 0, 7},
        {"temporary path 258", own, temp_of(254), 0, 0, 1, 257},
        {"temporary path 259", own, temp_of(255), 0, 0, 0, 0},
    };
    const std::string folder(200, 'F');
    for (const Case& c : cases) {
        g_posix.own_path = c.own_path;
        g_posix.temp_path = c.temp_path;
        g_posix.boxes.clear();
        g_install_ready = 0;
        folder_set_current("C:\\");
        std::filesystem::remove_all(machine_.host("TEMP/W80_INST"));
        const std::string media_folder = c.own_path.substr(0, c.own_path.rfind('\\'));
        std::filesystem::create_directories(posix_host_path(media_folder.c_str()));
        std::filesystem::create_directories(posix_host_path(c.temp_path.c_str()));
        const std::string name(c.name, 'N');
        std::vector<PackMember> members = {member("", "W_SETUP.EXE", {1})};
        if (c.name) members.push_back(member(folder, name, {2}));
        members.push_back(member("", "AFTER.TXT", {3}));
        std::string error;
        write_file(posix_host_path((media_folder + "\\W_SETUP.WPK").c_str()),
                   build_archive(members, &error));
        prepare_and_unpack();
        EXPECT_EQ(g_install_ready, c.ready) << c.what;
        EXPECT_EQ(g_posix.boxes.size(), c.boxes) << c.what;
        EXPECT_EQ(strlen(g_work_path), c.work_path) << c.what;
        const std::string made = machine_.host("TEMP/W80_INST/" + folder);
        const bool written = file_exists(made + "/" + name);
        // A member refused for its path makes no folder; the next is written.
        EXPECT_TRUE(!c.name ||
                    (written == (200 + 1 + c.name == 255) && file_exists(made) == written))
            << c.what;
        const std::string after = std::string(g_work_path) + "\\W80_INST\\AFTER.TXT";
        EXPECT_EQ(file_exists(posix_host_path(after.c_str())), c.ready == 1) << c.what;
        if (c.ready) clean_work_folder();
    }
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

TEST_F(Prepare, AnExistingWorkSubfolderKeepsOnlyItsSubfolders) {
    machine_.make_folder("TEMP/W80_INST/OLD");
    write_file(machine_.host("TEMP/W80_INST/OLD.DLL"), {1});
    write_file(machine_.host("TEMP/W80_INST/W_SETUP.EXE"), {2});
    write_file(machine_.host("TEMP/W80_INST/OLD/KEPT.TXT"), {3});
    prepare_and_unpack();
    EXPECT_EQ(g_install_ready, 1);
    EXPECT_FALSE(file_exists(machine_.host("TEMP/W80_INST/OLD.DLL")));
    EXPECT_EQ(read_file(machine_.host("TEMP/W80_INST/W_SETUP.EXE")), bytes_of("setup program"));
    EXPECT_EQ(read_file(machine_.host("TEMP/W80_INST/OLD/KEPT.TXT")), Bytes{3});
    EXPECT_TRUE(g_posix.pauses.empty()); // the subfolder is no file to retry
}

// Links planted in the work folder's place or inside it: nothing is written
// or deleted where they point.
TEST_F(Prepare, NothingIsWrittenOrDeletedThroughALink) {
    struct Case {
        const char* what;
        const char* link; // on drive C, pointing to ELSEWHERE (or to ELSEWHERE/X.TXT)
        bool to_file;
        int ready;
    };
    const Case cases[] = {
        {"the work subfolder", "TEMP/W80_INST", false, 0},
        {"a member's folder", "TEMP/W80_INST/DATA", false, 1},
        {"a member's deeper folder", "TEMP/W80_INST/DATA/SUB", false, 1},
        {"a member's file", "TEMP/W80_INST/DATA/SUB/README.TXT", true, 1},
    };
    std::string error;
    write_file(machine_.host("MEDIA/W_SETUP.WPK"),
               build_archive({member("", "W_SETUP.EXE", bytes_of("setup program")),
                              member("DATA\\SUB", "README.TXT", bytes_of("member"))},
                             &error));
    for (const Case& c : cases) {
        std::filesystem::remove_all(machine_.host("TEMP/W80_INST"));
        std::filesystem::remove_all(machine_.host("ELSEWHERE"));
        machine_.make_folder("ELSEWHERE");
        write_file(machine_.host("ELSEWHERE/X.TXT"), bytes_of("not ours"));
        const std::string link = machine_.host(c.link);
        std::filesystem::create_directories(std::filesystem::path(link).parent_path());
        std::filesystem::create_symlink(machine_.host(c.to_file ? "ELSEWHERE/X.TXT" : "ELSEWHERE"),
                                        link);
        g_install_ready = 0;
        folder_set_current("C:\\");
        prepare_and_unpack();
        EXPECT_EQ(g_install_ready, c.ready) << c.what;
        if (g_install_ready) clean_work_folder();
        std::vector<std::string> elsewhere;
        for (const auto& e :
             std::filesystem::recursive_directory_iterator(machine_.host("ELSEWHERE")))
            elsewhere.push_back(e.path().filename().string());
        EXPECT_EQ(elsewhere, std::vector<std::string>{"X.TXT"}) << c.what;
        EXPECT_EQ(read_file(machine_.host("ELSEWHERE/X.TXT")), bytes_of("not ours")) << c.what;
    }
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
        {"a file named W80_INST in the way", true, "C:\\TEMP\\"},
    };
    write_file(machine_.host("TEMP/W80_INST"), bytes_of("a file in the way"));
    for (const Case& c : cases) {
        g_posix.has_temp_path = c.has_temp;
        g_posix.temp_path = c.temp;
        g_install_ready = 0;
        prepare_and_unpack();
        EXPECT_EQ(g_install_ready, 0) << c.what;
        EXPECT_TRUE(g_posix.boxes.empty()) << c.what;
        for (const char* left : {"W80_INST", "W_SETUP.EXE", "TEMP/W_SETUP.EXE", "TEMP/W_SETUP.WPK"})
            EXPECT_FALSE(file_exists(machine_.host(left))) << c.what << " " << left;
    }
}

TEST_F(Prepare, FatalErrorReturnsNormallyWithStreamsClosed) {
    std::string error;
    Bytes archive = build_archive({member("", "BIG.BIN", random_bytes(40000, 1))}, &error);
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
