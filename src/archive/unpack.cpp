#include "archive/unpack.h"

#include <cstdlib>
#include <cstring>

#include "archive/archive_directory.h"
#include "archive/archive_signature.h"
#include "archive/dos_time.h"
#include "archive/entry_decoder.h"
#include "archive/fatal_error.h"
#include "archive/path_text.h"
#include "archive/sha256.h"

namespace {

char* g_archive_buffer = nullptr;
// The program was started from the folder it unpacks into: the archive there
// is the original, neither copied over nor deleted.
bool g_archive_is_original = false;

void show_box(const char* text, const char* caption) {
    show_message_box(NO_OWNER, text, caption, BOX_OK);
}

} // namespace

bool archive_source_path(const char* archive_name, char* path) {
    char own[PATH_SLOT];
    if (!program_get_own_path(own, PATH_SLOT)) return false;
    if (!last_backslash(own, text_is_lead_byte) && !program_get_module_path(own, PATH_SLOT))
        return false;
    char* slash = last_backslash(own, text_is_lead_byte);
    if (!slash) return false;
    slash[1] = '\0';
    if (strlen(own) + strlen(archive_name) + 1 > PATH_SLOT) return false;
    strcpy(path, own);
    strcat(path, archive_name);
    return true;
}

namespace {

bool name_is_left_out_on_nt(const char* name, char* scratch) {
    strcpy(scratch, name); // names are at most 255 bytes: the slot holds them
    upper_case_ascii(scratch, text_is_lead_byte);
    return strstr(scratch, ".DL_") != nullptr;
}

void close_archive_stream() {
    stream_close(g_archive_stream);
    g_archive_stream = nullptr;
    free(g_archive_buffer);
    g_archive_buffer = nullptr;
}

// Whether the output path leads through a link: one of its folders, or the
// file itself, is a junction or a symbolic link, which would take the member
// out of the work folder (onto whatever the link names).
bool path_leads_through_link(char* path) {
    for (char* c = path; *c; c = next_character(c, text_is_lead_byte)) {
        if (*c != '\\' || c == path || c[-1] == ':') continue;
        *c = '\0';
        const bool link = path_is_link(path);
        *c = '\\';
        if (link) return true;
    }
    return path_is_link(path);
}

void write_member(const ArchiveEntry& entry, const char* saved_folder, char* path) {
    if (entry.folder[0]) {
        if (strlen(entry.folder) + 1 + strlen(entry.name) + 1 > PATH_SLOT) return; // refused
        strcpy(path, entry.folder);
        strcat(path, "\\");
        strcat(path, entry.name);
        if (!folder_set_current(entry.folder)) make_directory_path(entry.folder);
        folder_set_current(saved_folder);
    } else {
        strcpy(path, entry.name);
    }
    if (path_leads_through_link(path)) return; // skipped, as a file that cannot be created

    g_output_stream = stream_open(path, "wb");
    if (!g_output_stream) return; // skipped without a message
    stream_seek(g_archive_stream, uint32_t(g_data_base + entry.offset));
    decode_entry(g_archive_stream, g_output_stream);
    if (!stream_flush(g_output_stream)) fatal_error(TEXT_CANT_WRITE);
    set_file_time_from_dos(g_output_stream, entry.dos_date_time);
    const bool closed = stream_close(g_output_stream);
    g_output_stream = nullptr;
    if (!closed) fatal_error(TEXT_CANT_WRITE);
    // A member that differs from what was packed stops the installation
    // here, so the setup program never starts from a damaged medium.
    if (g_member_crc_wanted && g_member_crc != entry.reserved) fatal_error(TEXT_FILE_ERROR);
}

} // namespace

int32_t file_size_of(FileHandle file) {
    const int32_t here = file_seek(file, 0, FILE_FROM_CURRENT);
    const int32_t size = file_seek(file, 0, FILE_FROM_END);
    file_seek(file, here, FILE_FROM_START);
    return size;
}

WindowsKind classify_windows_version(const WindowsVersion& v) {
    switch (v.platform_id) {
    case 0:
        return 1;
    case 1:
        if (v.major != 4) return 0;
        if (v.minor == 10) return 4;
        return v.service_pack[0] == '\0' ? 2 : 3;
    case 2:
        return v.major == 3 ? 5 : 6;
    default:
        return 0;
    }
}

int make_directory_path(const char* folder) {
    if (folder[0] == '\\') folder_set_current("\\");
    char component[COMPONENT_SLOT];
    size_t length = 0;
    for (const char* c = folder;;) {
        if (*c == '\\' || *c == '\0') {
            component[length] = '\0';
            if (length) {
                folder_create(component);
                // Never into a link: the next level would be made wherever
                // it points.
                if (path_is_link(component)) return 1;
                folder_set_current(component);
            }
            length = 0;
            if (*c == '\0') break;
            ++c;
            continue;
        }
        const char* next = next_character(c, text_is_lead_byte);
        if (length + size_t(next - c) >= COMPONENT_SLOT)
            return 1; // a component too long for any folder: stop here
        while (c != next) component[length++] = *c++;
    }
    return 1;
}

bool set_file_time_from_dos(Stream* output, const uint8_t dos_date_time[4]) {
    const CalendarTime t = unpack_dos_date_time(read_dos_date_time(dos_date_time));
    if (!is_valid_calendar_time(t)) return false;
    return stream_set_creation_time(output, t);
}

namespace {

// Whether the file `name` in the current folder is the open file `source`.
bool is_same_file(FileHandle source, const char* name) {
    const FileHandle existing = file_open_for_reading(name);
    if (existing == FILE_HANDLE_ERROR) return false;
    const bool same = file_is_same(source, existing);
    file_close(existing);
    return same;
}

} // namespace

int copy_archive_to_work_folder(const char* archive_name) {
    char* buffer = static_cast<char*>(malloc(COPY_BLOCK_SIZE));
    if (!buffer) return -1;
    char source_path[PATH_SLOT];
    const FileHandle source = archive_source_path(archive_name, source_path)
                                  ? file_open_for_reading(source_path)
                                  : FILE_HANDLE_ERROR;
    if (source == FILE_HANDLE_ERROR) {
        free(buffer);
        return -1;
    }
    // A program bound to its archive (the digest is part of what its
    // signature covers) unpacks no other: the copy reads every byte anyway,
    // and hashes them on the way.
    uint8_t wanted[SHA256_DIGEST_SIZE];
    const bool bound = program_get_archive_digest(wanted);
    FileHandle target = FILE_HANDLE_ERROR;
    if (is_same_file(source, archive_name)) {
        // Started from this very folder: the archive is already here, and
        // creating the copy would truncate it. It is only read, to check it.
        g_archive_is_original = true;
        if (!bound) {
            file_close(source);
            free(buffer);
            return 1;
        }
    } else {
        target = file_create(archive_name);
        if (target == FILE_HANDLE_ERROR) {
            file_close(source);
            free(buffer);
            return -1;
        }
    }
    Sha256 hash;
    sha256_start(hash);
    const int32_t size = file_size_of(source);
    int result = size < 0 ? -1 : 1;
    for (int32_t copied = 0; result == 1 && copied != size;) {
        const uint32_t block =
            uint32_t(size - copied) < COPY_BLOCK_SIZE ? uint32_t(size - copied) : COPY_BLOCK_SIZE;
        if (file_read(source, buffer, block) != block) {
            result = -1; // a short or failed read: the copy is not whole
        } else if (target != FILE_HANDLE_ERROR && file_write(target, buffer, block) != block) {
            file_close(source);
            file_close(target);
            free(buffer);
            show_box("Disk write error !!. Check disk space", "Write error");
            return -1;
        } else {
            if (bound) sha256_update(hash, buffer, block);
            copied += int32_t(block);
        }
    }
    file_close(source);
    if (target != FILE_HANDLE_ERROR) file_close(target);
    free(buffer);
    if (result == 1 && bound) {
        uint8_t got[SHA256_DIGEST_SIZE];
        sha256_finish(hash, got);
        if (memcmp(got, wanted, SHA256_DIGEST_SIZE) != 0) result = -1;
    }
    return result;
}

int16_t unpack_archive(const char* archive_name) {
    WindowsVersion version;
    system_get_version(&version);
    const WindowsKind kind = classify_windows_version(version);
    g_archive_is_original = false;

    g_entry_table = static_cast<ArchiveEntry*>(malloc(sizeof(EntryTable)));
    if (!g_entry_table) {
        show_box("Memory error", "Decompress");
        return 0;
    }
    g_entry_count = 0;
    char saved_folder[SAVED_FOLDER_SLOT];
    if (!folder_get_current(saved_folder, SAVED_FOLDER_SLOT) ||
        copy_archive_to_work_folder(archive_name) == -1) {
        show_box(archive_name, "Copy error");
        release_unpack_memory();
        return 0;
    }

    g_archive_stream = stream_open(archive_name, "rb");
    if (!g_archive_stream) {
        release_unpack_memory();
        fatal_error(TEXT_FILE_NOT_FOUND);
    }
    g_archive_buffer = static_cast<char*>(malloc(ARCHIVE_STREAM_BUFFER_SIZE));
    if (g_archive_buffer)
        stream_set_buffer(g_archive_stream, g_archive_buffer, ARCHIVE_STREAM_BUFFER_SIZE);

    const int32_t count = read_archive_directory(g_archive_stream);
    if (count == DIRECTORY_DAMAGED) fatal_error(TEXT_FILE_ERROR);
    if (!directory_checksum_matches()) fatal_error(TEXT_FILE_ERROR);
    g_member_crc_wanted = archive_has_checksums();

    char path[PATH_SLOT];
    for (int32_t i = 0; i < count; ++i) {
        const ArchiveEntry& entry = g_entry_table[i];
        if (kind >= NT_KIND_FIRST && name_is_left_out_on_nt(entry.name, path)) continue;
        write_member(entry, saved_folder, path);
    }

    close_archive_stream();
    if (!g_archive_is_original) file_delete(archive_name);
    release_unpack_memory();
    return 1;
}

void release_unpack_memory() {
    if (g_entry_table) {
        release_entry_names();
        free(g_entry_table);
        g_entry_table = nullptr;
    }
    if (!g_archive_stream) { // its buffer is released with the stream only
        free(g_archive_buffer);
        g_archive_buffer = nullptr;
    }
}
