// Archive layout and the directory reader.
//
// An archive is a 54-byte signature, 2 unused bytes, a signed 16-bit entry
// count, the directory records, the 32-bit data base, then the member
// streams. All integers are little-endian. Each record is 14 fixed bytes
// followed by its folder name and its file name (no terminators).
#pragma once

#include <cstdint>

#include "platform/platform.h"

constexpr int ENTRY_CAPACITY = 3000;
constexpr int SIGNATURE_SIZE = 54;
constexpr int RECORD_FIXED_SIZE = 14;
constexpr int NAME_BUFFER_SIZE = 260;

// One directory record in memory: the five fixed fields of the record (read
// as one 14-byte block) and the two names.
struct ArchiveEntry {
    uint32_t offset;          // member stream position, relative to g_data_base
    uint32_t reserved;        // the member's CRC-32 in archives marked for it (archive_signature.h)
    uint8_t dos_date_time[4]; // packed date and time (see dos_time.h)
    uint8_t folder_length;
    uint8_t name_length;
    char* folder; // NAME_BUFFER_SIZE bytes, NUL-terminated, owned
    char* name;   // NAME_BUFFER_SIZE bytes, NUL-terminated, owned
};

using EntryTable = ArchiveEntry[ENTRY_CAPACITY];

// Returned by read_archive_directory for an archive whose directory is cut
// short or announces more entries than the table holds. Lies outside the
// range of a 16-bit count, so it cannot be mistaken for one.
constexpr int32_t DIRECTORY_DAMAGED = -65536;

extern ArchiveEntry* g_entry_table;                 // ENTRY_CAPACITY entries, owned by the caller
extern int32_t g_entry_count;                       // entries whose name buffers are allocated
extern uint32_t g_data_base;                        // file offset where member data begins
extern uint8_t g_archive_signature[SIGNATURE_SIZE]; // as read; the reader never compares it
extern uint8_t g_archive_unused[2];                 // the two bytes after the signature

// Reads the header and the whole directory from `stream`, strictly forward,
// into g_entry_table, and sets g_entry_count and g_data_base. Returns the
// entry count (sign-widened 16-bit; 0 or less means nothing to unpack), or
// DIRECTORY_DAMAGED when the file ends inside the directory or the count
// exceeds ENTRY_CAPACITY. Shows nothing itself. On every return the name
// buffers of entries 0 to g_entry_count - 1 are allocated (g_entry_count is 0
// when none are), so release_entry_names can free them.
int32_t read_archive_directory(Stream* stream);

// Frees the name buffers of entries 0 to g_entry_count - 1 (name, then folder).
void release_entry_names();
