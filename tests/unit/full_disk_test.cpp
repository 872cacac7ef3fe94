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

class FullDisk : public ::testing::Test {
  protected:
    // Drive C: a tmpfs of `kilobytes`, with the medium's archive outside it
    // on drive D.
    void mount_drive_c(const char* options) {
        if (geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
        drive_c_ = medium_.path() + "/c";
        std::filesystem::create_directories(drive_c_);
        if (mount("tmpfs", drive_c_.c_str(), "tmpfs", 0, options) != 0)
            GTEST_SKIP() << "cannot mount a tmpfs here";
        mounted_ = true;
        char cwd[4096];
        saved_cwd_ = getcwd(cwd, sizeof cwd) ? cwd : "/";
        posix_reset(drive_c_);
        g_posix.drive_roots['D' - 'A'] = medium_.path();
        g_posix.boxes_to_stderr = false;
        g_posix.real_pauses = false;
        g_posix.own_path = "D:\\WBOOT.EXE";
        g_posix.temp_path = "C:\\TEMP\\";
        std::filesystem::create_directories(drive_c_ + "/TEMP");
        g_install_ready = 0;
    }
    void TearDown() override {
        if (!mounted_) return;
        if (chdir(saved_cwd_.c_str()) != 0) perror("chdir");
        posix_reset();
        umount(drive_c_.c_str());
    }
    void put_archive(const std::vector<PackMember>& members) {
        std::string error;
        write_file(medium_.path() + "/W_SETUP.WPK", build_archive(members, &error));
    }
    // Fills drive C up to the last `room` bytes.
    void leave_room(size_t room) {
        FILE* f = fopen((drive_c_ + "/FILLER").c_str(), "wb");
        std::vector<uint8_t> block(4096, 0xEE);
        while (fwrite(block.data(), 1, block.size(), f) == block.size() && fflush(f) == 0) {
        }
        fclose(f);
        std::filesystem::resize_file(drive_c_ + "/FILLER",
                                     std::filesystem::file_size(drive_c_ + "/FILLER") - room);
    }
    std::vector<std::string> captions() const {
        std::vector<std::string> out;
        for (const RecordedBox& b : g_posix.boxes) out.push_back(b.caption);
        return out;
    }
    static PackMember member(const std::string& folder, const std::string& name,
                             const Bytes& data) {
        PackMember m;
        m.folder = folder;
        m.name = name;
        m.data = data;
        return m;
    }

    TempFolder medium_;
    std::string drive_c_;
    std::string saved_cwd_;
    bool mounted_ = false;
};

TEST_F(FullDisk, CopyOfTheArchive) {
    mount_drive_c("size=64k");
    put_archive({member("", "NOISE.BIN", random_bytes(200000, 1))});
    prepare_and_unpack();
    EXPECT_EQ(g_install_ready, 0);
    EXPECT_EQ(captions(), (std::vector<std::string>{"Write error", "Copy error"}));
    EXPECT_FALSE(file_exists(drive_c_ + "/TEMP/W80_INST/NOISE.BIN"));
    EXPECT_TRUE(file_exists(medium_.path() + "/W_SETUP.WPK")); // the medium is untouched
}

TEST_F(FullDisk, MemberWriteFailsWhileDecoding) {
    mount_drive_c("size=256k");
    put_archive(
        {member("", "SMALL.TXT", bytes_of("fits")), member("", "ZEROS.BIN", Bytes(2000000, 0))});
    prepare_and_unpack();
    EXPECT_EQ(g_install_ready, 0);
    ASSERT_EQ(g_posix.boxes.size(), 1u);
    EXPECT_EQ(g_posix.boxes[0].text, "Can't write !! Disk error !!");
    EXPECT_EQ(g_posix.boxes[0].caption, "Fatal Error");
    EXPECT_EQ(g_archive_stream, nullptr);
    EXPECT_EQ(g_output_stream, nullptr);
    EXPECT_EQ(read_file(drive_c_ + "/TEMP/W80_INST/SMALL.TXT"), bytes_of("fits")); // kept
}

TEST_F(FullDisk, MemberWriteFailsOnlyAtTheFlush) {
    // A member smaller than the stream's buffer: every write is accepted into
    // the buffer, and the disk refuses it when the member is flushed.
    mount_drive_c("size=512k");
    const Bytes data = random_bytes(3000, 2);
    put_archive({member("", "LATE.BIN", data)});
    const size_t archive_size = read_file(medium_.path() + "/W_SETUP.WPK").size();
    leave_room(archive_size + 1000); // the copy fits, the member does not
    prepare_and_unpack();
    EXPECT_EQ(g_install_ready, 0);
    EXPECT_EQ(g_decode_fault, DecodeFault::NONE); // every byte went into the buffer
    ASSERT_EQ(g_posix.boxes.size(), 1u);
    EXPECT_EQ(g_posix.boxes[0].text, "Can't write !! Disk error !!");
    EXPECT_EQ(g_output_stream, nullptr);
}

TEST_F(FullDisk, NoRoomForFolders) {
    // Inodes for the folders up to the work folder, the copy and one member;
    // none for the member's folder after it.
    mount_drive_c("size=1m,nr_inodes=5");
    put_archive({member("", "ROOT.TXT", {2}), member("DEEP\\ER", "LOST.TXT", {1})});
    prepare_and_unpack();
    // The member whose folder cannot be made is skipped silently; the rest goes on.
    EXPECT_EQ(g_install_ready, 1);
    EXPECT_TRUE(g_posix.boxes.empty());
    EXPECT_EQ(read_file(drive_c_ + "/TEMP/W80_INST/ROOT.TXT"), Bytes{2});
    EXPECT_FALSE(file_exists(drive_c_ + "/TEMP/W80_INST/DEEP/ER/LOST.TXT"));
}

} // namespace
