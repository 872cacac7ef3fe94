#include "archive/archive_signature.h"

#include <cstring>

#include "archive/crc32.h"

const char ARCHIVE_SIGNATURE_TEXT[] = "WPK setup archive, LZHUF 4K window      \r\n";
const char CHECKSUM_SIGNATURE_TEXT[] = "WPK setup archive, LZHUF 4K window CRC32\r\n";
static_assert(sizeof ARCHIVE_SIGNATURE_TEXT - 1 == 42, "the signature line is 42 bytes");
static_assert(sizeof CHECKSUM_SIGNATURE_TEXT - 1 == 42, "the signature line is 42 bytes");

namespace {
constexpr int SIGNATURE_LINE = 42;
constexpr uint8_t SIGNATURE_END_OF_TEXT = 0x1A;
} // namespace

void make_archive_signature(uint8_t* out, bool checksums) {
    memset(out, 0, SIGNATURE_SIZE + 2);
    memcpy(out, checksums ? CHECKSUM_SIGNATURE_TEXT : ARCHIVE_SIGNATURE_TEXT, SIGNATURE_LINE);
    out[SIGNATURE_LINE] = SIGNATURE_END_OF_TEXT;
    if (checksums) memcpy(out + SIGNATURE_SIZE, CHECKSUM_MARK, 2);
}

namespace {

bool has_directory_mark(const uint8_t signature[SIGNATURE_SIZE]) {
    return memcmp(signature + DIRECTORY_MARK_AT, DIRECTORY_MARK, 2) == 0;
}

uint32_t le32_at(const uint8_t* b) {
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

uint32_t crc_of_le(uint32_t crc, uint32_t value, int bytes) {
    uint8_t b[4];
    for (int i = 0; i < bytes; ++i) b[i] = uint8_t(value >> (8 * i));
    return crc32_update(crc, b, size_t(bytes));
}

} // namespace

SignatureKind classify_signature(const uint8_t signature[SIGNATURE_SIZE], const uint8_t after[2]) {
    uint8_t expected[SIGNATURE_SIZE + 2];
    make_archive_signature(expected, true);
    uint8_t seen[SIGNATURE_SIZE];
    memcpy(seen, signature, SIGNATURE_SIZE);
    if (has_directory_mark(seen)) memset(seen + DIRECTORY_CHECKSUM_AT, 0, 6);
    if (memcmp(seen, expected, SIGNATURE_SIZE) == 0 && memcmp(after, CHECKSUM_MARK, 2) == 0)
        return SIGNATURE_WPK_CHECKSUMS;
    make_archive_signature(expected, false);
    if (memcmp(signature, expected, SIGNATURE_SIZE) == 0 && after[0] == 0 && after[1] == 0)
        return SIGNATURE_WPK;
    return SIGNATURE_FOREIGN;
}

bool archive_has_checksums() {
    return classify_signature(g_archive_signature, g_archive_unused) == SIGNATURE_WPK_CHECKSUMS;
}

uint32_t directory_checksum() {
    uint32_t crc = crc_of_le(0, uint32_t(g_entry_count) & 0xFFFF, 2);
    for (int32_t i = 0; i < g_entry_count; ++i) {
        const ArchiveEntry& e = g_entry_table[i];
        crc = crc_of_le(crc, e.offset, 4);
        crc = crc_of_le(crc, e.reserved, 4);
        crc = crc32_update(crc, e.dos_date_time, 4);
        const uint8_t lengths[2] = {e.folder_length, e.name_length};
        crc = crc32_update(crc, lengths, 2);
        crc = crc32_update(crc, reinterpret_cast<const uint8_t*>(e.folder), e.folder_length);
        crc = crc32_update(crc, reinterpret_cast<const uint8_t*>(e.name), e.name_length);
    }
    return crc_of_le(crc, g_data_base, 4);
}

void store_directory_checksum(uint8_t signature[SIGNATURE_SIZE], uint32_t checksum) {
    for (int i = 0; i < 4; ++i) signature[DIRECTORY_CHECKSUM_AT + i] = uint8_t(checksum >> (8 * i));
    memcpy(signature + DIRECTORY_MARK_AT, DIRECTORY_MARK, 2);
}

bool archive_has_directory_checksum() {
    return archive_has_checksums() && has_directory_mark(g_archive_signature);
}

bool directory_checksum_matches() {
    return !archive_has_directory_checksum() ||
           le32_at(g_archive_signature + DIRECTORY_CHECKSUM_AT) == directory_checksum();
}
