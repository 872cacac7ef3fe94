#include "install/work_cleanup.h"

#include <cstring>

#include "archive/unpack.h"
#include "install/work_folder.h"
#include "platform/platform.h"

namespace {

// The program's own files, open for comparison: started from the work
// subfolder itself, the archive beside the program is the medium's only copy
// (the unpack kept it) and the program is running from there; neither is
// deleted.
struct OwnFiles {
    FileHandle program;
    FileHandle archive;
};

OwnFiles open_own_files() {
    OwnFiles own = {FILE_HANDLE_ERROR, FILE_HANDLE_ERROR};
    char path[PATH_SLOT];
    if (program_get_module_path(path, PATH_SLOT)) own.program = file_open_for_reading(path);
    if (archive_source_path(ARCHIVE_NAME, path)) own.archive = file_open_for_reading(path);
    return own;
}

void close_own_files(const OwnFiles& own) {
    if (own.program != FILE_HANDLE_ERROR) file_close(own.program);
    if (own.archive != FILE_HANDLE_ERROR) file_close(own.archive);
}

bool is_own_file(const OwnFiles& own, const char* name) {
    const FileHandle file = file_open_for_reading(name);
    if (file == FILE_HANDLE_ERROR) return false; // held by another process: not ours to keep
    const bool same = (own.program != FILE_HANDLE_ERROR && file_is_same(file, own.program)) ||
                      (own.archive != FILE_HANDLE_ERROR && file_is_same(file, own.archive));
    file_close(file);
    return same;
}

void delete_with_retries(const char* name) {
    for (int attempt = 0; attempt < DELETE_ATTEMPTS; ++attempt) {
        if (file_delete(name)) return;
        pump_pending_messages();
        system_pause(DELETE_RETRY_PAUSE_MS);
    }
}

} // namespace

void delete_work_files() {
    char name[WORK_PATH_SIZE];
    bool is_folder = false;
    const FolderListing listing = listing_start("*.*", name, sizeof name, &is_folder);
    if (listing == NO_LISTING) return;
    const OwnFiles own = open_own_files();
    do {
        if (name[0] != '.' && !is_folder && !is_own_file(own, name)) delete_with_retries(name);
    } while (listing_next(listing, name, sizeof name, &is_folder));
    close_own_files(own);
    listing_end(listing);
}

int pump_pending_messages() {
    for (;;) {
        switch (take_pending_message()) {
        case PendingMessage::NONE:
            return 0;
        case PendingMessage::QUIT:
            return 1;
        case PendingMessage::HANDLED:
            break;
        }
    }
}

void clean_work_folder() {
    char letter = g_work_path[0];
    if (letter >= 'a' && letter <= 'z') letter = char(letter - 'a' + 'A');
    const char drive[3] = {letter, ':', '\0'};
    folder_set_current(drive);

    // The deletion pass runs only inside the work subfolder; anywhere else it
    // would delete files that are not ours.
    const bool in_work_path = enter_work_path();
    if (in_work_path && !path_is_link(WORK_SUBFOLDER) && folder_set_current(WORK_SUBFOLDER)) {
        delete_work_files();
        folder_set_current("..");
        folder_remove(WORK_SUBFOLDER);
    } else if (in_work_path) {
        folder_remove(WORK_SUBFOLDER);
    }

    char full_path[WORK_PATH_SIZE];
    if (strlen(g_work_path) + 1 + strlen(WORK_SUBFOLDER) < sizeof full_path) {
        text_format(full_path, sizeof full_path, "%s\\%s", g_work_path, WORK_SUBFOLDER);
        folder_remove(full_path);
    }
}
