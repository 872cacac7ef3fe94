#include "wpk_reader.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "archive/archive_signature.h"
#include "archive/fatal_error.h"
#include "archive/lzhuf_model.h"
#include "wpk.h"

bool ArchiveReader::open(const std::string& archive_path) {
    path = archive_path;
    file = fopen(path.c_str(), "rb");
    if (!file) {
        complain(path + ": " + strerror(errno));
        return false;
    }
    fseek(file, 0, SEEK_END);
    file_size = uint64_t(ftell(file));
    rewind(file);
    g_entry_table = static_cast<ArchiveEntry*>(calloc(ENTRY_CAPACITY, sizeof(ArchiveEntry)));
    count = read_archive_directory(file);
    if (count == DIRECTORY_DAMAGED) {
        complain(path + ": damaged archive: directory cut short or more than " +
                 std::to_string(ENTRY_CAPACITY) + " entries");
        return false;
    }
    const SignatureKind kind = classify_signature(g_archive_signature, g_archive_unused);
    if (count <= 0 && kind == SIGNATURE_FOREIGN) {
        complain(path + ": not a wpk archive: no members, and its first 54 bytes are no " +
                 "signature wpk writes");
        return false;
    }
    g_member_crc_wanted = kind == SIGNATURE_WPK_CHECKSUMS;
    return true;
}

ArchiveReader::~ArchiveReader() {
    if (g_entry_table) {
        release_entry_names();
        free(g_entry_table);
        g_entry_table = nullptr;
    }
    if (file) fclose(file);
}

std::string member_path(const ArchiveEntry& e) {
    return e.folder[0] ? std::string(e.folder) + "\\" + e.name : std::string(e.name);
}

const char* fault_text(DecodeFault fault) {
    switch (fault) {
    case DecodeFault::SIZE_CUT_SHORT:
        return "size cut short";
    case DecodeFault::DATA_PAST_END:
        return "coded data past the end of the file";
    case DecodeFault::WRITE_FAILED:
        return "cannot write the file";
    case DecodeFault::MATCH_PAST_SIZE:
        return "last match past the member's size";
    case DecodeFault::NONE:
        break;
    }
    if (fault == CHECKSUM_MISMATCH) return "checksum mismatch: not the bytes that were packed";
    return "ok";
}

DecodeFault decode_member(FILE* archive, int i, FILE* out) {
    g_fatal_error_shows_box = false;
    FatalJumpScope armed;
    const uint32_t start = uint32_t(g_data_base + g_entry_table[i].offset);
    if (fseek(archive, long(start), SEEK_SET) != 0) return DecodeFault::SIZE_CUT_SHORT;
    if (!FATAL_JUMP_SAVE()) decode_entry(archive, out);
    if (g_decode_fault == DecodeFault::NONE && g_member_crc_wanted &&
        g_member_crc != g_entry_table[i].reserved)
        return CHECKSUM_MISMATCH;
    return g_decode_fault;
}

bool member_reads_carried_bytes(FILE* archive, uint32_t start) {
    uint8_t b[4];
    if (fseek(archive, long(start), SEEK_SET) != 0 || fread(b, 1, 4, archive) != 4) return false;
    const uint32_t size = uint32_t(b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24);
    BitInput bits;
    start_bit_input(bits, archive);
    start_huff();
    // The member writes ring positions RING_FILL, RING_FILL + 1, ... in
    // turn. A match that starts `distance` back from the n-th byte reads a
    // position the member has not written yet when distance > RING_FILL + n:
    // one of the last MAX_MATCH, still as the previous member left it. From
    // the MAX_MATCH-th byte on every such position has been written.
    for (uint32_t n = 0; n < size && n < uint32_t(MAX_MATCH);) {
        const int c = decode_char(bits);
        if (c < 256) {
            ++n;
            continue;
        }
        const uint32_t distance = uint32_t(decode_position(bits)) + 1;
        if (input_overrun(bits)) return false;
        if (distance > uint32_t(RING_FILL) + n) return true;
        n += uint32_t(c) - (255 - MATCH_THRESHOLD);
    }
    return false;
}
