#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "archive/archive_directory.h"
#include "archive/entry_decoder.h"
#include "archive/fatal_error.h"
#include "archive/unpack.h"
#include "platform_stand_in.h"
#include "test_support.h"

namespace {

class Unpack : public ::testing::Test {
  protected:
    // The medium in C:\MEDIA, the program started from there, unpacking into
    // C:\WORK.
    void SetUp() override {
        machine_.make_folder("MEDIA");
        machine_.make_folder("WORK");
        g_posix.own_path = "C:\\MEDIA\\WBOOT.EXE";
        ASSERT_TRUE(folder_set_current("C:\\WORK"));
    }

    void put_archive(const std::vector<PackMember>& members) {
        std::string error;
        archive_ = build_archive(members, &error);
        ASSERT_FALSE(archive_.empty()) << error;
        write_file(machine_.host("MEDIA/W_SETUP.WPK"), archive_);
    }

    // Runs the driver the way the installation step does; the fatal text, if any.
    int run(std::string* fatal = nullptr) {
        FatalJumpScope armed;
        if (FATAL_JUMP_SAVE()) {
            if (fatal) *fatal = g_fatal_jump.text;
            release_unpack_memory();
            return -1;
        }
        return unpack_archive("W_SETUP.WPK");
    }

    std::string current() {
        char cwd[260];
        return folder_get_current(cwd, sizeof cwd) ? cwd : "?";
    }

    std::vector<std::string> captions() const {
        std::vector<std::string> out;
        for (const RecordedBox& b : g_posix.boxes) out.push_back(b.caption);
        return out;
    }

    FakeMachine machine_;
    Bytes archive_;
};

TEST(WindowsKind, ClassifiesEveryLine) {
    struct Case {
        uint32_t platform, major, minor;
        const char* service_pack;
        WindowsKind kind;
    };
    const Case cases[] = {
        {0, 3, 11, "", 1},   {1, 3, 95, "", 0}, {1, 4, 10, "", 4},  {1, 4, 10, "A", 4},
        {1, 4, 0, "", 2},    {1, 4, 90, "", 2}, {1, 4, 0, " C", 3}, {2, 3, 51, "", 5},
        {2, 4, 0, "SP6", 6}, {2, 10, 0, "", 6}, {3, 4, 0, "", 0},
    };
    for (const Case& c : cases) {
        WindowsVersion v{c.major, c.minor, c.platform, ""};
        snprintf(v.service_pack, sizeof v.service_pack, "%s", c.service_pack);
        EXPECT_EQ(classify_windows_version(v), c.kind)
            << c.platform << " " << c.major << "." << c.minor;
    }
}

TEST_F(Unpack, WritesMembersWithFoldersAndDeletesTheCopy) {
    const Bytes text = text_bytes(20000, 1);
    put_archive(
        {member("", "README.TXT", text), member("SUB\\DEEP", "A.BIN", random_bytes(3000, 2)),
         member("SUB", "EMPTY.DAT", {}), member("\\ROOTED\\DIR", "R.TXT", bytes_of("rooted"))});
    machine_.make_folder("WORK/SUB"); // an existing folder is used as it is
    EXPECT_EQ(run(), 1);
    EXPECT_TRUE(g_posix.boxes.empty());
    EXPECT_EQ(read_file(machine_.host("WORK/README.TXT")), text);
    EXPECT_EQ(read_file(machine_.host("WORK/SUB/DEEP/A.BIN")), random_bytes(3000, 2));
    EXPECT_TRUE(file_exists(machine_.host("WORK/SUB/EMPTY.DAT")));
    EXPECT_EQ(read_file(machine_.host("ROOTED/DIR/R.TXT")), bytes_of("rooted"));
    EXPECT_FALSE(file_exists(machine_.host("WORK/W_SETUP.WPK")));
    EXPECT_EQ(current(), "C:\\WORK");
    EXPECT_TRUE(file_exists(machine_.host("MEDIA/W_SETUP.WPK")));
    EXPECT_EQ(g_entry_table, nullptr); // everything released
}

TEST_F(Unpack, EmptyDirectoryWritesNothingAndSucceeds) {
    put_archive({});
    EXPECT_EQ(run(), 1);
    EXPECT_FALSE(file_exists(machine_.host("WORK/W_SETUP.WPK")));
    EXPECT_TRUE(g_posix.boxes.empty());
}

TEST_F(Unpack, NtLeavesOutDlUnderscoreNamesOnly) {
    const std::vector<PackMember> members = {
        member("", "UTIL.DL_", {1}), member("", "util.Dl_", {2}), member("", "A.DL_X", {3}),
        member("", "UTIL.DLL", {4}), member("", "UTIL.DL", {5}),  member("X.DL_", "IN.TXT", {6}),
        member("", "LAST.TXT", {7}),
    };
    struct Case {
        uint32_t platform, major, minor;
        bool filtered;
    };
    const Case cases[] = {{2, 3, 51, true}, {2, 10, 0, true},  {1, 4, 10, false},
                          {1, 4, 0, false}, {0, 3, 11, false}, {1, 3, 0, false}};
    for (const Case& c : cases) {
        std::filesystem::remove_all(machine_.host("WORK"));
        machine_.make_folder("WORK");
        ASSERT_TRUE(folder_set_current("C:\\WORK"));
        put_archive(members);
        g_posix.version = {c.major, c.minor, c.platform, ""};
        EXPECT_EQ(run(), 1);
        for (const char* name : {"UTIL.DL_", "util.Dl_", "A.DL_X"})
            EXPECT_EQ(file_exists(machine_.host(std::string("WORK/") + name)), !c.filtered) << name;
        EXPECT_EQ(read_file(machine_.host("WORK/UTIL.DLL")), Bytes{4});
        EXPECT_EQ(read_file(machine_.host("WORK/UTIL.DL")), Bytes{5});
        EXPECT_EQ(read_file(machine_.host("WORK/X.DL_/IN.TXT")), Bytes{6}); // folders never matter
        EXPECT_EQ(read_file(machine_.host("WORK/LAST.TXT")), Bytes{7});
    }
}

TEST_F(Unpack, UnopenableOutputIsSkippedSilently) {
    machine_.make_folder("WORK/BUSY"); // a folder where the file should go
    put_archive({member("", "BUSY", {1}), member("", "", {2}), member("", "AFTER.TXT", {3})});
    EXPECT_EQ(run(), 1);
    EXPECT_TRUE(g_posix.boxes.empty());
    EXPECT_EQ(read_file(machine_.host("WORK/AFTER.TXT")), Bytes{3});
}

TEST_F(Unpack, StampsValidTimesAndLeavesInvalidOnesAlone) {
    const uint32_t valid =
        20u << 25 | 5u << 21 | 17u << 16 | 10u << 11 | 30u << 5 | 21u; // 2000-05-17 10:30:42
    const uint32_t invalid = 20u << 25 | 13u << 21 | 17u << 16;        // month 13
    put_archive({member("", "GOOD.TXT", {1}, valid), member("", "BAD.TXT", {2}, invalid)});
    EXPECT_EQ(run(), 1);
    struct stat st;
    ASSERT_EQ(stat(machine_.host("WORK/GOOD.TXT").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 958559442);
    ASSERT_EQ(stat(machine_.host("WORK/BAD.TXT").c_str(), &st), 0);
    EXPECT_GT(st.st_mtime, 1600000000); // just written, untouched
}

TEST_F(Unpack, FullDiskWhileCopyingShowsBothBoxesInOrder) {
    // A full disk: the write box first, then the copy box; the partial copy stays.
    put_archive({member("", "BIG.BIN", random_bytes(20000, 3))});
    g_posix.write_budget = 5000;
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(captions(), (std::vector<std::string>{"Write error", "Copy error"}));
    EXPECT_EQ(g_posix.boxes[0].text, "Disk write error !!. Check disk space");
    EXPECT_EQ(read_file(machine_.host("WORK/W_SETUP.WPK")).size(),
              5000u); // as far as the disk went
    EXPECT_FALSE(file_exists(machine_.host("WORK/BIG.BIN")));
    EXPECT_EQ(current(), "C:\\WORK");
}

TEST_F(Unpack, ShortReadWhileCopyingIsACopyFailure) {
    put_archive({member("", "BIG.BIN", random_bytes(20000, 3))});
    g_posix.read_budget = 6000; // the medium stops delivering inside the second block
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(captions(), std::vector<std::string>{"Copy error"});
    EXPECT_FALSE(file_exists(machine_.host("WORK/BIG.BIN")));
    EXPECT_EQ(current(), "C:\\WORK");
}

uint32_t le32_at(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

// The first bit position in archive[from, to) whose flip still decodes the
// member stream at `from` without a fault but to other bytes than `want`.
size_t silent_flip(const Bytes& archive, size_t from, size_t to, const Bytes& want) {
    for (size_t at = from + 4; at < to; ++at) {
        Bytes stream(archive.begin() + long(from), archive.begin() + long(to));
        stream[at - from] ^= 0x08;
        std::string fault;
        const Bytes got = decode_bytes(stream, &fault);
        if (fault.empty() && g_decode_fault == DecodeFault::NONE && got != want) return at;
    }
    return 0;
}

// Two members without folders: A.TXT, then B.TXT.
struct TwoMembers {
    Bytes archive;
    size_t first, second; // file offsets of the member streams
};

TwoMembers two_members(const Bytes& a, const Bytes& b) {
    std::string error;
    TwoMembers t;
    t.archive = build_archive({member("", "A.TXT", a), member("", "B.TXT", b)}, &error);
    const size_t base_at = SIGNATURE_SIZE + 4 + 2 * (RECORD_FIXED_SIZE + 5);
    const uint32_t base = le32_at(t.archive, base_at);
    t.first = base + le32_at(t.archive, SIGNATURE_SIZE + 4);
    t.second = base + le32_at(t.archive, SIGNATURE_SIZE + 4 + RECORD_FIXED_SIZE + 5);
    return t;
}

// What a run leaves of a member: nothing, the whole member, as many other
// bytes, or a part of it (the bytes decoded up to near a cut).
enum Left { NOTHING, WHOLE, OTHER_BYTES, A_PREFIX };

// Damaged archives, and damage the format alone does not see: whether the run
// stops with "File error !!" (keeping the copy) or installs (deleting it), and
// what is left of each member. A.TXT is text whose coded stream has a bit that
// flips to other bytes without a fault; B.TXT is random bytes.
TEST_F(Unpack, DamagedArchives) {
    const Bytes a = text_bytes(6000, 3), b = random_bytes(50000, 5);
    const TwoMembers t = two_members(a, b);
    const size_t flip = silent_flip(t.archive, t.first, t.second, a);
    ASSERT_NE(flip, 0u) << "no flip decodes cleanly to other bytes";
    const size_t name = SIGNATURE_SIZE + 4 + RECORD_FIXED_SIZE; // A.TXT's first byte
    // Without the exact mark the reserved fields mean nothing: both CRC-32s wrong.
    const auto unmarked = [](size_t at, uint8_t value) {
        return [at, value](Bytes& x) {
            x[at] = value;
            for (size_t record : {SIGNATURE_SIZE + 4, SIGNATURE_SIZE + 4 + RECORD_FIXED_SIZE + 5})
                x[record + 4] ^= 0x5A;
        };
    };
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
        bool stops;
        const char* first; // A.TXT's name as installed
        Left left_a, left_b;
    };
    const Case cases[] = {
        {"no bytes", [](Bytes& x) { x.clear(); }, true, "A.TXT", NOTHING, NOTHING},
        {"directory cut in the second record", [](Bytes& x) { x.resize(80); }, true, "A.TXT",
         NOTHING, NOTHING},
        {"data cut short", [](Bytes& x) { x.resize(x.size() - 1000); }, true, "A.TXT", WHOLE,
         A_PREFIX},
        {"member not matching its CRC-32", [&](Bytes& x) { x[flip] ^= 0x08; }, true, "A.TXT",
         OTHER_BYTES, NOTHING},
        {"name changed, marked", [&](Bytes& x) { x[name] = 'Q'; }, true, "Q.TXT", NOTHING, NOTHING},
        {"name changed, zeros for the directory checksum",
         [&](Bytes& x) { std::fill_n(x.begin() + 44, 6, 0), void(x[name] = 'Q'); }, false, "Q.TXT",
         WHOLE, WHOLE},
        {"mark bytes zero", unmarked(SIGNATURE_SIZE, 0), false, "A.TXT", WHOLE, WHOLE},
        {"mark bytes other", unmarked(SIGNATURE_SIZE + 1, 0x33), false, "A.TXT", WHOLE, WHOLE},
        {"foreign signature, mark", unmarked(0, 'X'), false, "A.TXT", WHOLE, WHOLE},
    };
    const auto left_as_said = [&](const std::string& file, Left left, const Bytes& whole) {
        const Bytes got = read_file(machine_.host("WORK/" + file));
        const bool as_said[] = {!file_exists(machine_.host("WORK/" + file)), got == whole,
                                got.size() == whole.size() && got != whole,
                                got.size() > 40000 && got.size() < whole.size() &&
                                    std::equal(got.begin(), got.end(), whole.begin())};
        return as_said[left];
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(machine_.host("WORK"));
        machine_.make_folder("WORK");
        ASSERT_TRUE(folder_set_current("C:\\WORK"));
        g_posix.boxes.clear();
        Bytes damaged = t.archive;
        c.damage(damaged);
        write_file(machine_.host("MEDIA/W_SETUP.WPK"), damaged);
        std::string fatal;
        EXPECT_EQ(run(&fatal), c.stops ? -1 : 1);
        EXPECT_EQ(fatal, c.stops ? "File error !!" : "");
        EXPECT_EQ(captions(), std::vector<std::string>(c.stops, "Fatal Error"));
        EXPECT_TRUE(left_as_said(c.first, c.left_a, a));
        EXPECT_TRUE(left_as_said("B.TXT", c.left_b, b));
        EXPECT_EQ(file_exists(machine_.host("WORK/W_SETUP.WPK")), c.stops);
        EXPECT_EQ(read_file(machine_.host("WORK/W_SETUP.WPK")), c.stops ? damaged : Bytes{});
        EXPECT_EQ(g_archive_stream, nullptr);
        EXPECT_EQ(g_output_stream, nullptr);
        EXPECT_EQ(current(), "C:\\WORK");
    }
}

TEST_F(Unpack, MemberAfterACutMatchReadsTheWholeMatch) {
    // Made by hand: the first member's last match reaches past its size and
    // the second reads the ring positions that match filled beyond it.
    Bytes a(SIGNATURE_SIZE + 2, 0);
    a.insert(a.end(), {2, 0}); // two records
    auto put_u32 = [&a](uint32_t v) {
        for (int i = 0; i < 4; ++i) a.push_back(uint8_t(v >> (8 * i)));
    };
    const Bytes* streams[] = {&CUT_MATCH_STREAM, &READS_4043_STREAM};
    const std::string names[] = {"CUT.TXT", "NEXT.TXT"};
    uint32_t offset = 0;
    for (int i = 0; i < 2; ++i) {
        put_u32(offset);
        put_u32(0);
        put_u32(TEST_DOS_TIME);
        a.insert(a.end(), {0, uint8_t(names[i].size())});
        a.insert(a.end(), names[i].begin(), names[i].end());
        offset += uint32_t(streams[i]->size());
    }
    put_u32(uint32_t(a.size() + 4)); // the data base, right after itself
    for (const Bytes* stream : streams) a.insert(a.end(), stream->begin(), stream->end());
    write_file(machine_.host("MEDIA/W_SETUP.WPK"), a);
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(read_file(machine_.host("WORK/CUT.TXT")), Bytes(7, 'a'));
    EXPECT_EQ(read_file(machine_.host("WORK/NEXT.TXT")), Bytes(3, 'a'));
}

// The archive is read from the program's own folder: the running module's
// when its own path has no backslash; a double-byte character ending in 0x5C
// is no separator. Started from the work folder, the archive there is used in
// place. An own path over 255 characters or a current folder over 253 is
// refused, never cut: a copy error.
TEST_F(Unpack, ArchiveReadFromWhereTheProgramStarted) {
    struct Case {
        const char* what;
        std::string own_path;
        const char* archive_in; // folder of W_SETUP.WPK on C, or none
        std::string work;       // the current folder on C
        bool installed, kept;   // kept: W_SETUP.WPK left in the work folder as it was
    };
    const std::string e4 = "WORK/" + std::string(240, 'D') + "/EEEE";
    const Case cases[] = {
        {"no archive beside the program", "C:\\MEDIA\\WBOOT.EXE", nullptr, "WORK", false, false},
        {"bare program name", "WBOOT.EXE", "MEDIA", "WORK", true, false},
        {"0x5C second byte", "C:\\MEDIA\\\x95\x5C.EXE", "MEDIA", "WORK", true, false},
        {"the work folder", "C:\\WORK\\WBOOT.EXE", "WORK", "WORK", true, true},
        {"the work folder without archive", "C:\\WORK\\WBOOT.EXE", "MEDIA", "WORK", false, false},
        {"own path 255", "C:\\MEDIA\\" + std::string(242, 'P') + ".EXE", "MEDIA", "WORK", true,
         false},
        {"own path 256", "C:\\MEDIA\\" + std::string(243, 'P') + ".EXE", "MEDIA", "WORK", false,
         false},
        {"current folder 253", "C:\\MEDIA\\WBOOT.EXE", "MEDIA", e4, true, false},
        {"current folder 254", "C:\\MEDIA\\WBOOT.EXE", "MEDIA", e4 + "E", false, false},
    };
    const std::vector<RecordedBox> copy_error = {{NO_OWNER, "W_SETUP.WPK", "Copy error", BOX_OK}};
    g_posix.module_path = "C:\\MEDIA\\WBOOT.EXE";
    g_posix.lead_bytes = "\x95";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(machine_.host("WORK"));
        machine_.make_folder(c.work);
        put_archive({member("", "A.TXT", {9})});
        const std::string archive =
            c.archive_in ? c.archive_in + std::string("/W_SETUP.WPK") : "GONE";
        std::filesystem::rename(machine_.host("MEDIA/W_SETUP.WPK"), machine_.host(archive));
        std::string work = "C:\\" + c.work;
        std::replace(work.begin(), work.end(), '/', '\\');
        ASSERT_TRUE(folder_set_current(work.c_str()));
        g_posix.own_path = c.own_path;
        g_posix.boxes.clear();
        EXPECT_EQ(run(), c.installed ? 1 : 0);
        EXPECT_EQ(g_posix.boxes, c.installed ? std::vector<RecordedBox>{} : copy_error);
        EXPECT_EQ(file_exists(machine_.host(c.work + "/A.TXT")), c.installed);
        EXPECT_EQ(file_exists(machine_.host(c.work + "/W_SETUP.WPK")), c.kept);
        EXPECT_EQ(read_file(machine_.host(c.work + "/W_SETUP.WPK")), c.kept ? archive_ : Bytes{});
        EXPECT_EQ(current(), work);
    }
}

TEST_F(Unpack, MakeDirectoryPathLevelByLevel) {
    struct Case {
        const char* folder;
        const char* made;    // host path on C
        const char* left_in; // current folder afterwards
    };
    const Case cases[] = {
        {"A\\B\\C", "WORK/A/B/C", "C:\\WORK\\A\\B\\C"},
        {"\\TOP\\NEXT", "TOP/NEXT", "C:\\TOP\\NEXT"},
        {"DOUBLE\\\\SLASH\\", "WORK/DOUBLE/SLASH", "C:\\WORK\\DOUBLE\\SLASH"},
        {"", "WORK", "C:\\WORK"},
        // ".." never climbs above the root of the drive.
        {"..\\..\\..\\UP", "UP", "C:\\UP"},
        // In code page 932, 0x95 0x5C is one character, not 0x95 and a separator.
        {"\x95\x5C\\B", "WORK/\x95\x5C/B", "C:\\WORK\\\x95\x5C\\B"},
    };
    g_posix.lead_bytes = "\x95";
    for (const Case& c : cases) {
        ASSERT_TRUE(folder_set_current("C:\\WORK"));
        EXPECT_EQ(make_directory_path(c.folder), 1);
        struct stat st;
        EXPECT_EQ(stat(machine_.host(c.made).c_str(), &st), 0) << c.folder;
        EXPECT_EQ(current(), c.left_in) << c.folder;
    }
}

} // namespace
