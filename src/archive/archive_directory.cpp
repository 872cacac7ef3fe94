#include "archive/archive_directory.h"

#include <cstdlib>
#include <cstring>

ArchiveEntry* g_entry_table = nullptr;
int32_t g_entry_count = 0;
uint32_t g_data_base = 0;
uint8_t g_archive_signature[SIGNATURE_SIZE];
uint8_t g_archive_unused[2];

namespace {

bool read_exact(Stream* stream, void* buffer, size_t size) {
    return size == 0 || stream_read(stream, buffer, size) == size;
}

uint32_t le32(const uint8_t* b) {
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

bool read_u32(Stream* stream, uint32_t* value) {
    uint8_t b[4];
    if (!read_exact(stream, b, 4)) return false;
    *value = le32(b);
    return true;
}

// Reads a name of `length` bytes into its buffer. A short read leaves what
// was read, terminated, so the buffer always holds a string.
bool read_name(Stream* stream, char* buffer, uint8_t length) {
    const size_t got = length ? stream_read(stream, buffer, length) : 0;
    buffer[got] = '\0';
    return got == length;
}

char* new_name_buffer() {
    char* buffer = static_cast<char*>(malloc(NAME_BUFFER_SIZE));
    if (buffer) buffer[0] = '\0';
    return buffer;
}

// Reads one record into `entry`, allocating both name buffers first so the
// entry is always releasable once it has been counted.
bool read_record(Stream* stream, ArchiveEntry* entry) {
    uint8_t fixed[RECORD_FIXED_SIZE];
    if (!read_exact(stream, fixed, RECORD_FIXED_SIZE)) return false;
    entry->offset = le32(fixed);
    entry->reserved = le32(fixed + 4);
    memcpy(entry->dos_date_time, fixed + 8, 4);
    entry->folder_length = fixed[12];
    entry->name_length = fixed[13];
    entry->folder = new_name_buffer();
    entry->name = new_name_buffer();
    ++g_entry_count;
    if (!entry->folder || !entry->name) return false;
    return read_name(stream, entry->folder, entry->folder_length) &&
           read_name(stream, entry->name, entry->name_length);
}

} // namespace

int32_t read_archive_directory(Stream* stream) {
    g_entry_count = 0;
    g_data_base = 0;

    uint8_t count_bytes[2];
    if (!read_exact(stream, g_archive_signature, SIGNATURE_SIZE) ||
        !read_exact(stream, g_archive_unused, 2) || !read_exact(stream, count_bytes, 2))
        return DIRECTORY_DAMAGED;

    const int16_t count = int16_t(uint16_t(count_bytes[0] | count_bytes[1] << 8));
    if (count > ENTRY_CAPACITY) return DIRECTORY_DAMAGED;

    for (int i = 0; i < count; ++i)
        if (!read_record(stream, &g_entry_table[i])) return DIRECTORY_DAMAGED;

    uint32_t data_base;
    if (!read_u32(stream, &data_base)) return DIRECTORY_DAMAGED;
    g_data_base = data_base;
    g_entry_count = count; // a count of 0 or less leaves the table empty
    return count;
}

void release_entry_names() {
    for (int32_t i = 0; i < g_entry_count; ++i) {
        free(g_entry_table[i].name);
        free(g_entry_table[i].folder);
        g_entry_table[i].name = nullptr;
        g_entry_table[i].folder = nullptr;
    }
    g_entry_count = 0;
}
