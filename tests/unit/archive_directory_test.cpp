#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "archive/archive_directory.h"
#include "test_support.h"

namespace {

// The header up to and including the count.
Bytes header(int16_t count, uint8_t fill = 0) {
    Bytes b(SIGNATURE_SIZE, fill);
    b.push_back(0xEE);
    b.push_back(0xDD);
    b.push_back(uint8_t(uint16_t(count)));
    b.push_back(uint8_t(uint16_t(count) >> 8));
    return b;
}

void put_u32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

void put_record(Bytes& b, uint32_t offset, const std::string& folder, const std::string& name) {
    put_u32(b, offset);
    put_u32(b, 0x11223344);
    put_u32(b, 0x279FBF7D);
    b.push_back(uint8_t(folder.size()));
    b.push_back(uint8_t(name.size()));
    b.insert(b.end(), folder.begin(), folder.end());
    b.insert(b.end(), name.begin(), name.end());
}

class DirectoryReader : public ::testing::Test {
  protected:
    void SetUp() override {
        g_entry_table = static_cast<ArchiveEntry*>(calloc(ENTRY_CAPACITY, sizeof(ArchiveEntry)));
    }
    void TearDown() override {
        release_entry_names();
        free(g_entry_table);
        g_entry_table = nullptr;
        if (stream_) fclose(stream_);
    }
    // Reads `archive`, after releasing what the read before it left.
    int32_t read(const Bytes& archive) {
        release_entry_names();
        if (stream_) fclose(stream_);
        stream_ = stream_of(archive);
        return read_archive_directory(stream_);
    }
    FILE* stream_ = nullptr;
};

TEST_F(DirectoryReader, RecordsFollowEachOtherAndDataBaseAfterThem) {
    for (uint8_t fill : {0x00, 0xFF}) { // the signature bytes never matter
        Bytes a = header(2, fill);
        put_record(a, 0, "ABC", "SETUP.EX");
        EXPECT_EQ(a.size(), 83u); // the second record starts at 58 + 14 + 3 + 8
        put_record(a, 1234, "", "README.TXT12");
        EXPECT_EQ(a.size(), 109u); // the data base lies at 83 + 14 + 0 + 12
        put_u32(a, 109);
        a.push_back(0x99); // data area: never read by the reader
        ASSERT_EQ(read(a), 2);
        EXPECT_EQ(g_entry_count, 2);
        EXPECT_EQ(g_data_base, 109u);
        EXPECT_EQ(ftell(stream_), 113);
        EXPECT_STREQ(g_entry_table[0].folder, "ABC");
        EXPECT_STREQ(g_entry_table[0].name, "SETUP.EX");
        EXPECT_EQ(g_entry_table[0].reserved, 0x11223344u);
        EXPECT_EQ(g_entry_table[1].offset, 1234u);
        EXPECT_STREQ(g_entry_table[1].folder, "");
        EXPECT_STREQ(g_entry_table[1].name, "README.TXT12");
        const uint8_t date[4] = {0x7D, 0xBF, 0x9F, 0x27};
        EXPECT_EQ(memcmp(g_entry_table[1].dos_date_time, date, 4), 0);
    }
}

TEST_F(DirectoryReader, ZeroOrNegativeCountTakesNextFourBytesAsDataBase) {
    for (int16_t count : {int16_t(0), int16_t(-1), int16_t(-32768)}) {
        Bytes a = header(count);
        put_u32(a, 0xCAFEBABE);
        ASSERT_EQ(read(a), count);
        EXPECT_EQ(g_entry_count, count);
        EXPECT_EQ(g_data_base, 0xCAFEBABEu);
    }
}

TEST_F(DirectoryReader, EmptyNamesAndLongestNames) {
    Bytes a = header(2);
    put_record(a, 0, "", "");
    put_record(a, 0, std::string(255, 'F'), std::string(255, 'N'));
    put_u32(a, 7);
    ASSERT_EQ(read(a), 2);
    EXPECT_STREQ(g_entry_table[0].folder, "");
    EXPECT_STREQ(g_entry_table[0].name, "");
    EXPECT_EQ(std::string(g_entry_table[1].folder), std::string(255, 'F'));
    EXPECT_EQ(std::string(g_entry_table[1].name), std::string(255, 'N'));
    EXPECT_EQ(g_data_base, 7u);
}

TEST_F(DirectoryReader, DirectoryCutShortAnywhereIsDamaged) {
    Bytes full = header(2);
    put_record(full, 0, "DIR", "A.TXT");
    put_record(full, 10, "", "B.TXT");
    put_u32(full, 200);
    // Where each record's names start; a name cut short holds the bytes read
    // of it, terminated.
    const size_t names[2] = {58 + 14, 80 + 14};
    const char* const texts[2][2] = {{"DIR", "A.TXT"}, {"", "B.TXT"}};
    // Every shorter prefix ends inside the count, a record, a name or the data base.
    for (size_t cut = 0; cut < full.size(); ++cut) {
        const Bytes a(full.begin(), full.begin() + long(cut));
        EXPECT_EQ(read(a), DIRECTORY_DAMAGED) << "cut at " << cut;
        EXPECT_EQ(g_entry_count, cut < 72 ? 0 : cut < 94 ? 1 : 2) << cut; // records begun
        EXPECT_EQ(g_data_base, 0u);
        for (int i = 0; i < g_entry_count; ++i) {
            const std::string folder = texts[i][0], name = texts[i][1];
            const size_t got = cut - names[i];
            EXPECT_EQ(g_entry_table[i].folder, folder.substr(0, got)) << cut;
            EXPECT_EQ(g_entry_table[i].name,
                      name.substr(0, got > folder.size() ? got - folder.size() : 0))
                << cut;
        }
    }
}

TEST_F(DirectoryReader, AFullTableIsReadAndOneEntryMoreIsDamagedBeforeAnyRecord) {
    for (int count : {ENTRY_CAPACITY + 1, ENTRY_CAPACITY}) {
        Bytes a = header(int16_t(count));
        for (int i = 0; i < count; ++i) put_record(a, uint32_t(i), "", "X");
        put_u32(a, 5);
        const bool fits = count == 3000;
        EXPECT_EQ(read(a), fits ? 3000 : DIRECTORY_DAMAGED);
        EXPECT_EQ(g_entry_count, fits ? 3000 : 0);
        EXPECT_EQ(ftell(stream_), fits ? long(a.size()) : 58);
        EXPECT_EQ(g_entry_table[2999].offset, fits ? 2999u : 0u);
    }
}

} // namespace
