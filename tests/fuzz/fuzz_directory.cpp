// The directory reader on arbitrary bytes: whatever the file holds, the
// reader must stay inside the entry table and the name buffers, report a
// count or DIRECTORY_DAMAGED, and leave every counted entry releasable with
// terminated names.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/archive_directory.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // fmemopen wants a writable buffer, and one of at least a byte.
    std::vector<uint8_t> bytes(data, data + size);
    bytes.reserve(1);
    FILE* stream = fmemopen(bytes.data(), size, "rb");
    if (!stream) fuzz::fail("setup", "fmemopen failed for %zu bytes", size);

    g_entry_table = static_cast<ArchiveEntry*>(calloc(ENTRY_CAPACITY, sizeof(ArchiveEntry)));
    g_entry_count = 12345; // the reader must set it on every return
    const int32_t result = read_archive_directory(stream);

    if (result != DIRECTORY_DAMAGED && (result < INT16_MIN || result > INT16_MAX))
        fuzz::fail("result", "result %d is neither a 16-bit count nor DIRECTORY_DAMAGED", result);
    if (g_entry_count > ENTRY_CAPACITY)
        fuzz::fail("count", "g_entry_count %d above the capacity", g_entry_count);
    // A whole directory leaves the count as read, even one of 0 or less
    // (then no entry is allocated and release_entry_names frees nothing).
    if (result != DIRECTORY_DAMAGED && g_entry_count != result)
        fuzz::fail("count", "g_entry_count %d differs from the result %d", g_entry_count, result);
    if (result == DIRECTORY_DAMAGED && g_entry_count < 0)
        fuzz::fail("count", "g_entry_count %d below zero for a damaged directory", g_entry_count);

    for (int32_t i = 0; i < g_entry_count; ++i) {
        const ArchiveEntry& e = g_entry_table[i];
        if (!e.folder || !e.name) fuzz::fail("names", "entry %d has no name buffer", i);
        const size_t folder = strnlen(e.folder, NAME_BUFFER_SIZE);
        const size_t name = strnlen(e.name, NAME_BUFFER_SIZE);
        if (folder == NAME_BUFFER_SIZE || name == NAME_BUFFER_SIZE)
            fuzz::fail("unterminated-name",
                       "entry %d of %d (result %d): %s not terminated within %d bytes", i,
                       g_entry_count, result, folder == NAME_BUFFER_SIZE ? "folder" : "name",
                       NAME_BUFFER_SIZE);
        if (result != DIRECTORY_DAMAGED && (folder > e.folder_length || name > e.name_length))
            fuzz::fail("names", "entry %d: names longer than their stored lengths", i);
    }

    release_entry_names();
    if (g_entry_count != 0)
        fuzz::fail("count", "g_entry_count %d after the release", g_entry_count);
    free(g_entry_table);
    g_entry_table = nullptr;
    fclose(stream);
    return 0;
}
