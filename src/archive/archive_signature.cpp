#include "archive/archive_signature.h"

#include <cstring>

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

SignatureKind classify_signature(const uint8_t signature[SIGNATURE_SIZE], const uint8_t after[2]) {
    uint8_t expected[SIGNATURE_SIZE + 2];
    make_archive_signature(expected, true);
    if (memcmp(signature, expected, SIGNATURE_SIZE) == 0 && memcmp(after, CHECKSUM_MARK, 2) == 0)
        return SIGNATURE_WPK_CHECKSUMS;
    make_archive_signature(expected, false);
    if (memcmp(signature, expected, SIGNATURE_SIZE) == 0 && after[0] == 0 && after[1] == 0)
        return SIGNATURE_WPK;
    return SIGNATURE_FOREIGN;
}

bool archive_has_checksums() {
    return classify_signature(g_archive_signature, g_archive_unused) == SIGNATURE_WPK_CHECKSUMS;
}
