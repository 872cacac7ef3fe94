#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "archive/archive_directory.h"
#include "archive/archive_signature.h"
#include "archive/dos_time.h"
#include "archive/entry_decoder.h"
#include "archive/fatal_error.h"
#include "test_support.h"

namespace {

TEST(ArchiveWriter, LayoutReadsBackThroughTheReaderAndDecoder) {
    const std::vector<PackMember> members = {
        member("", "EMPTY.TXT", {}),
        member("SUB\\DIR", "TEXT.TXT", text_bytes(30000, 1)),
        member("", "ZERO.BIN", {}),
        member("SUB", "NOISE.BIN", random_bytes(9000, 2)),
    };
    std::string error;
    const Bytes archive = build_archive(members, &error);
    ASSERT_FALSE(archive.empty()) << error;
    EXPECT_EQ(std::string(archive.begin(), archive.begin() + 42), CHECKSUM_SIGNATURE_TEXT);
    EXPECT_EQ(archive[42], 0x1A);
    EXPECT_EQ(archive[54], CHECKSUM_MARK[0]);
    EXPECT_EQ(archive[55], CHECKSUM_MARK[1]);

    g_entry_table = static_cast<ArchiveEntry*>(calloc(ENTRY_CAPACITY, sizeof(ArchiveEntry)));
    FILE* in = stream_of(archive);
    ASSERT_EQ(read_archive_directory(in), 4);
    EXPECT_EQ(g_entry_table[0].offset, 0u); // the first member begins at the data base
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(g_entry_table[i].folder, members[size_t(i)].folder);
        EXPECT_EQ(g_entry_table[i].name, members[size_t(i)].name);
        EXPECT_EQ(read_dos_date_time(g_entry_table[i].dos_date_time), 0x279FBF7Du);
        fseek(in, long(g_data_base + g_entry_table[i].offset), SEEK_SET);
        FILE* out = tmpfile();
        FatalJumpScope armed;
        decode_entry(in, out);
        EXPECT_EQ(contents_of(out), members[size_t(i)].data) << i;
        fclose(out);
    }
    fclose(in);
    release_entry_names();
    free(g_entry_table);
    g_entry_table = nullptr;
}

// Each limit at its value and one past it: 3000 members, a folder or name of
// 255 bytes. What is written reads back whole; what is refused leaves nothing.
TEST(ArchiveWriter, LimitsAtTheirValueAndOnePast) {
    const std::string f255(255, 'f'), f256(256, 'f'), n255(255, 'n'), n256(256, 'n');
    const std::string longer = ": folder or name longer than 255 bytes";
    const std::pair<std::vector<PackMember>, std::string> cases[] = {
        // the error; none: written
        {std::vector<PackMember>(3000, member("", "A", {})), ""},
        {std::vector<PackMember>(3001, member("", "A", {})),
         "too many files: 3001 (an archive holds at most 3000)"},
        {{member("", n255, {1})}, ""},
        {{member("", n256, {1})}, n256 + longer},
        {{member(f255, "A", {1})}, ""},
        {{member(f256, "A", {1})}, f256 + "\\A" + longer},
        {{member(f255, n255, {1})}, ""},
    };
    TempFolder dir;
    const std::string path = dir.path() + "/out.wpk";
    g_entry_table = static_cast<ArchiveEntry*>(calloc(ENTRY_CAPACITY, sizeof(ArchiveEntry)));
    for (const auto& [members, want] : cases) {
        SCOPED_TRACE(members.size() == 1 ? members[0].folder + "\\" + members[0].name : "many");
        std::filesystem::remove(path);
        std::string error;
        EXPECT_EQ(write_archive(path, members, &error), want.empty());
        EXPECT_EQ(error, want);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), want.empty());
        FILE* in = stream_of(read_file(path));
        EXPECT_EQ(read_archive_directory(in),
                  want.empty() ? int32_t(members.size()) : DIRECTORY_DAMAGED);
        for (int32_t i = 0; i < g_entry_count; ++i)
            EXPECT_EQ(g_entry_table[i].folder + std::string("\\") + g_entry_table[i].name,
                      members[size_t(i)].folder + "\\" + members[size_t(i)].name);
        fclose(in);
        release_entry_names();
    }
    free(g_entry_table);
    g_entry_table = nullptr;
}

TEST(ArchiveWriter, UnreadableSourceLeavesNothingBehind) {
    TempFolder dir;
    const std::string path = dir.path() + "/out.wpk";
    write_file(path, bytes_of("an older archive"));
    PackMember m = member("", "GONE.TXT", {});
    m.source = dir.path() + "/does-not-exist";
    std::string error;
    EXPECT_FALSE(write_archive(path, {m}, &error));
    EXPECT_NE(error.find("does-not-exist"), std::string::npos);
    EXPECT_EQ(read_file(path), bytes_of("an older archive")); // untouched
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(ArchiveWriter, UnixTimesToPackedTimes) {
    EXPECT_EQ(dos_date_time_from_unix(946684798), 0x279FBF7Du); // 1999-12-31 23:59:58
    EXPECT_EQ(dos_date_time_from_unix(946684799), 0x279FBF7Du); // odd seconds round down
    EXPECT_EQ(dos_date_time_from_unix(0), pack_dos_date_time({1980, 1, 1, 0, 0, 0}));
    EXPECT_EQ(dos_date_time_from_unix(int64_t(1) << 40),
              pack_dos_date_time({2107, 12, 31, 23, 59, 58}));
}

} // namespace
