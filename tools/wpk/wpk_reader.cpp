#include "wpk_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "archive/archive_signature.h"
#include "archive/fatal_error.h"
#include "archive/lzhuf_model.h"
#include "pack/preflight.h"
#include "wpk.h"
#include "wpk_progress.h"

namespace {

uint32_t le16_at(FILE* f, long at) {
    uint8_t b[2] = {0, 0};
    if (fseek(f, at, SEEK_SET) != 0 || fread(b, 1, 2, f) != 2) return 0;
    return uint32_t(b[0] | b[1] << 8);
}

} // namespace

bool ArchiveReader::open(const std::string& archive_path) {
    path = archive_path;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        complain(path + ": " + strerror(errno));
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        complain(path + ": is a folder, not a wpk archive");
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        complain(path + ": not a regular file, not a wpk archive");
        return false;
    }
    if (st.st_size == 0) {
        complain(path + ": empty file, not a wpk archive");
        return false;
    }
    file = fopen(path.c_str(), "rb");
    if (!file) {
        complain(path + ": " + strerror(errno));
        return false;
    }
    file_size = uint64_t(st.st_size);
    g_entry_table = static_cast<ArchiveEntry*>(calloc(ENTRY_CAPACITY, sizeof(ArchiveEntry)));
    count = read_archive_directory(file);
    const long directory_end = count == DIRECTORY_DAMAGED ? 0 : ftell(file);
    const SignatureKind kind = classify_signature(g_archive_signature, g_archive_unused);
    // What another program wrote still reads when its directory makes sense:
    // some members, the data after the directory and inside the file.
    if (kind == SIGNATURE_FOREIGN &&
        (count <= 0 || uint64_t(g_data_base) < uint64_t(directory_end) ||
         uint64_t(g_data_base) > file_size)) {
        complain(path + ": not a wpk archive");
        return false;
    }
    if (count == DIRECTORY_DAMAGED) {
        const uint32_t announced = le16_at(file, SIGNATURE_SIZE + 2);
        if (announced > uint32_t(ENTRY_CAPACITY) && announced < 0x8000)
            complain(path + ": damaged archive: its directory announces " +
                     std::to_string(announced) + " members, more than " +
                     std::to_string(ENTRY_CAPACITY));
        else
            complain(path + ": archive cut short: the file ends inside its directory, after " +
                     human_size(file_size));
        return false;
    }
    if (!directory_checksum_matches()) {
        complain(path + ": damaged archive: directory damaged (it does not match its CRC-32: "
                        "names, times or offsets changed)");
        return false;
    }
    uint64_t last_start = g_data_base;
    for (int i = 0; i < count; ++i) last_start = std::max<uint64_t>(last_start, member_start(i));
    if (count > 0 && last_start + 4 > file_size) {
        int past = 0;
        for (int i = 0; i < count; ++i) past += starts_past_end(i) ? 1 : 0;
        complain(path + ": archive cut short after " + human_size(file_size) + ": " +
                 count_of(past, "member") + (past == 1 ? " begins" : " begin") + " past its end");
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
    const std::string name(e.name, e.name_length);
    return e.folder_length ? std::string(e.folder, e.folder_length) + "\\" + name : name;
}

std::string shown_member(const ArchiveEntry& e) {
    return shown_path(member_path(e));
}

std::string count_of(uint64_t n, const char* thing) {
    return std::to_string(n) + " " + thing + (n == 1 ? "" : "s");
}

std::string human_size(uint64_t bytes) {
    if (bytes == 1) return "1 byte";
    if (bytes < 10000) return std::to_string(bytes) + " bytes";
    const char* const units[] = {"KB", "MB", "GB", "TB"};
    double value = double(bytes) / 1000;
    int unit = 0;
    while (value >= 1000 && unit < 3) {
        value /= 1000;
        ++unit;
    }
    char text[32];
    snprintf(text, sizeof text, value < 100 ? "%.1f %s" : "%.0f %s", value, units[unit]);
    return text;
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

namespace {

// Passes the decoded bytes on to the stream that is the cookie (or drops
// them, for none), counting them into the progress line on the way.
ssize_t counted_write(void* cookie, const char* bytes, size_t size) {
    progress_add(size);
    FILE* to = static_cast<FILE*>(cookie);
    return to && fwrite(bytes, 1, size, to) != size ? -1 : ssize_t(size);
}

} // namespace

uint64_t ArchiveReader::total_size() const {
    uint64_t total = 0;
    for (int i = 0; i < count; ++i) {
        uint8_t b[4];
        if (pread(fileno(file), b, 4, off_t(member_start(i))) == 4)
            total += uint32_t(b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24);
    }
    return total;
}

DecodeFault decode_member(FILE* archive, int i, FILE* out) {
    g_fatal_error_shows_box = false;
    FatalJumpScope armed;
    const uint32_t start = uint32_t(g_data_base + g_entry_table[i].offset);
    if (fseek(archive, long(start), SEEK_SET) != 0) return DecodeFault::SIZE_CUT_SHORT;
    // While a progress line is shown, the bytes pass through a counting
    // stream, unbuffered so that a refused write is seen where it happens.
    FILE* counting = nullptr;
    if (progress_shown()) {
        progress_member(shown_member(g_entry_table[i])); // a worker draws the line too
        const cookie_io_functions_t io = {nullptr, counted_write, nullptr, nullptr};
        if ((counting = fopencookie(out, "w", io))) setvbuf(counting, nullptr, _IONBF, 0);
    }
    if (!FATAL_JUMP_SAVE()) decode_entry(archive, counting ? counting : out);
    if (counting) fclose(counting);
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
