// The archive as wpk reads it: the open file and its directory, member
// names and faults in words, and one member decoded with the installer's own
// decoder.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "archive/archive_directory.h"
#include "archive/entry_decoder.h"

// The directory of one open archive; the entry table lives while it does.
struct ArchiveReader {
    std::string path;
    FILE* file = nullptr;
    uint64_t file_size = 0;
    int32_t count = 0;

    // Opens the archive and reads its directory; false (said on stderr) when
    // it cannot be read or its directory is damaged.
    bool open(const std::string& archive_path);
    ~ArchiveReader();

    uint32_t member_start(int i) const { return uint32_t(g_data_base + g_entry_table[i].offset); }
    // Whether member i begins past the end of the file: an archive cut short,
    // said once by open() and not again for each such member.
    bool starts_past_end(int i) const { return uint64_t(member_start(i)) + 4 > file_size; }
    // The sizes the members' streams begin with, added up: what decoding
    // them all gives.
    uint64_t total_size() const;
};

// "FOLDER\NAME", or "NAME" without a folder, with the bytes as stored.
std::string member_path(const ArchiveEntry& e);
// The same for messages and listings: control bytes as \xNN.
std::string shown_member(const ArchiveEntry& e);
// "1 member", "3 members".
std::string count_of(uint64_t n, const char* thing);
// "1 byte", "512 bytes", "12.3 KB", "300 MB" (powers of 1000).
std::string human_size(uint64_t bytes);
const char* fault_text(DecodeFault fault);

// A fault of wpk's own, beyond the decoder's: the member decoded cleanly but
// its bytes differ from the CRC-32 its record stores (archives marked for
// checksums only).
constexpr DecodeFault CHECKSUM_MISMATCH = DecodeFault(100);

// Decodes member i of `archive` (the directory's entry i) into `out` (null:
// discard) with the ring as it stands; the fault, NONE when clean.
DecodeFault decode_member(FILE* archive, int i, FILE* out);

// True when the member at `start`, decoded from the ring positions it fills
// itself, would read one of the last MAX_MATCH ring positions before writing
// it, that is, a byte the previous member left. Reads only the symbols of the
// member's first MAX_MATCH bytes. False for a member cut short; decoding it
// tells what is wrong.
bool member_reads_carried_bytes(FILE* archive, uint32_t start);
