// A real full disk: a small tmpfs stands for drive C (mounted when the tests
// run as root, skipped otherwise).
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>

#include "archive/entry_decoder.h"
#include "archive/fatal_error.h"
#include "install/work_folder.h"
#include "platform_stand_in.h"
#include "test_support.h"

namespace {

// Each place the disk can run out: while the archive is copied, while a
// member is decoded, only when a member smaller than the stream's buffer is
// flushed (every write went into the buffer), and when there are inodes for
// the work folder, the copy and one member but none for a member's folder.
TEST(FullDisk, EachPlaceTheDiskRunsOut) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
    const RecordedBox cant_write = {NO_OWNER, "Can't write !! Disk error !!", "Fatal Error",
                                    BOX_OK};
    const RecordedBox write_error = {NO_OWNER, "Disk write error !!. Check disk space",
                                     "Write error", BOX_OK};
    const RecordedBox copy_error = {NO_OWNER, "W_SETUP.WPK", "Copy error", BOX_OK};
    const std::vector<PackMember> noise = {member("", "NOISE.BIN", random_bytes(200000, 1))};
    const std::vector<PackMember> small_and_zeros = {member("", "SMALL.TXT", bytes_of("fits")),
                                                     member("", "ZEROS.BIN", Bytes(2000000, 0))};
    const std::vector<PackMember> late = {member("", "LATE.BIN", random_bytes(3000, 2))};
    const std::vector<PackMember> deep = {member("", "ROOT.TXT", {2}),
                                          member("DEEP\\ER", "LOST.TXT", {1})};
    struct Case {
        const char* options;
        const std::vector<PackMember>& members;
        bool fill; // room left for the copy and 1000 bytes only
        int ready;
        std::vector<RecordedBox> boxes;
        const char* lost; // a member not written whole; the others are
    };
    const Case cases[] = {
        {"size=64k", noise, false, 0, {write_error, copy_error}, "NOISE.BIN"},
        {"size=256k", small_and_zeros, false, 0, {cant_write}, "ZEROS.BIN"},
        {"size=512k", late, true, 0, {cant_write}, "LATE.BIN"},
        {"size=1m,nr_inodes=5", deep, false, 1, {}, "DEEP/ER/LOST.TXT"},
    };
    for (const Case& c : cases) {
        TempFolder medium;
        const std::string drive_c = medium.path() + "/c";
        std::filesystem::create_directories(drive_c);
        if (mount("tmpfs", drive_c.c_str(), "tmpfs", 0, c.options) != 0)
            GTEST_SKIP() << "cannot mount a tmpfs here";
        {
            FakeMachine machine; // restores the current folder before the unmount
            posix_reset(drive_c);
            g_posix.drive_roots['D' - 'A'] = medium.path();
            g_posix.boxes_to_stderr = false;
            g_posix.own_path = "D:\\WBOOT.EXE";
            g_posix.temp_path = "C:\\TEMP\\";
            std::filesystem::create_directories(drive_c + "/TEMP");
            std::string error;
            const Bytes archive = build_archive(c.members, &error);
            write_file(medium.path() + "/W_SETUP.WPK", archive);
            if (c.fill) {
                FILE* f = fopen((drive_c + "/FILLER").c_str(), "wb");
                const Bytes block(4096, 0xEE);
                while (fwrite(block.data(), 1, block.size(), f) == block.size() && fflush(f) == 0) {
                }
                fclose(f);
                std::filesystem::resize_file(drive_c + "/FILLER",
                                             std::filesystem::file_size(drive_c + "/FILLER") -
                                                 archive.size() - 1000);
            }
            g_install_ready = 0;
            prepare_and_unpack();
            EXPECT_EQ(g_install_ready, c.ready) << c.options;
            EXPECT_EQ(g_posix.boxes, c.boxes) << c.options;
            EXPECT_TRUE(!c.fill || g_decode_fault == DecodeFault::NONE) << c.options;
            EXPECT_EQ(g_archive_stream, nullptr) << c.options;
            EXPECT_EQ(g_output_stream, nullptr) << c.options;
            const std::string work = drive_c + "/TEMP/W80_INST/";
            for (const PackMember& m : c.members) {
                const std::string path = work + (m.folder.empty() ? "" : "DEEP/ER/") + m.name;
                EXPECT_EQ(read_file(path) == m.data, work + c.lost != path) << path;
            }
            EXPECT_EQ(read_file(medium.path() + "/W_SETUP.WPK"), archive) << c.options;
        }
        umount(drive_c.c_str());
    }
}

} // namespace
