// The program bound to its archive: SHA-256 against the standard's test
// vectors, and the copy that stops for an archive other than the bound one.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "archive/fatal_error.h"
#include "archive/sha256.h"
#include "archive/unpack.h"
#include "platform_stand_in.h"
#include "test_support.h"

namespace {

std::string hex_digest(const std::string& message, size_t piece) {
    Sha256 hash;
    sha256_start(hash);
    for (size_t at = 0; at < message.size(); at += piece)
        sha256_update(hash, message.data() + at, std::min(piece, message.size() - at));
    uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_finish(hash, digest);
    std::string hex;
    for (uint8_t b : digest) hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
    return hex;
}

TEST(Sha256, StandardTestVectors) {
    struct Case {
        std::string message;
        const char* digest;
    };
    // FIPS 180-2, appendix B, and the empty message; each fed whole, a byte
    // at a time and in pieces that straddle the 64-byte blocks.
    const Case cases[] = {
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases)
        for (size_t piece : {size_t(1000000), size_t(1), size_t(63)})
            EXPECT_EQ(hex_digest(c.message, piece), c.digest) << c.message.size() << "/" << piece;
}

// The medium in C:\MEDIA, unpacking into C:\WORK (or from C:\WORK itself).
TEST(Binding, OnlyTheBoundArchiveIsUnpacked) {
    struct Case {
        const char* what;
        bool bound;
        bool other_archive; // the medium's archive is a sound one, but not the bound one
        bool started_here;  // the program started from the work folder itself
        int result;
    };
    const Case cases[] = {
        {"unbound", false, true, false, 1},
        {"bound, the same archive", true, false, false, 1},
        {"bound, another archive", true, true, false, 0},
        {"bound, started here, the same archive", true, false, true, 1},
        {"bound, started here, another archive", true, true, true, 0},
    };
    PackMember m;
    m.name = "W_SETUP.EXE";
    m.data = text_bytes(20000, 3);
    std::string error;
    const Bytes archive = build_archive({m}, &error);
    Sha256 hash;
    sha256_start(hash);
    sha256_update(hash, archive.data(), archive.size());
    uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_finish(hash, digest);
    m.data[100] ^= 1;
    const Bytes other = build_archive({m}, &error);

    for (const Case& c : cases) {
        FakeMachine machine;
        machine.make_folder("MEDIA");
        machine.make_folder("WORK");
        const char* medium = c.started_here ? "WORK" : "MEDIA";
        write_file(machine.host(std::string(medium) + "/W_SETUP.WPK"),
                   c.other_archive ? other : archive);
        g_posix.own_path = std::string("C:\\") + medium + "\\WBOOT.EXE";
        if (c.bound) g_posix.archive_digest.assign(digest, digest + SHA256_DIGEST_SIZE);
        ASSERT_TRUE(folder_set_current("C:\\WORK"));
        int result;
        {
            FatalJumpScope armed;
            result = FATAL_JUMP_SAVE() ? -1 : unpack_archive("W_SETUP.WPK");
        }
        EXPECT_EQ(result, c.result) << c.what;
        EXPECT_EQ(file_exists(machine.host("WORK/W_SETUP.EXE")), c.result == 1) << c.what;
        if (c.result == 0) {
            ASSERT_EQ(g_posix.boxes.size(), 1u) << c.what;
            EXPECT_EQ(g_posix.boxes[0].caption, "Copy error") << c.what;
            EXPECT_EQ(g_posix.boxes[0].text, "W_SETUP.WPK") << c.what;
            EXPECT_TRUE(file_exists(machine.host("WORK/W_SETUP.WPK"))) << c.what; // nothing cleaned
        }
    }
}

} // namespace
