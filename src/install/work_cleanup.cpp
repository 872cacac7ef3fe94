#include "install/work_cleanup.h"

#include <cstring>

#include "install/work_folder.h"
#include "platform/platform.h"

namespace {

void delete_with_retries(const char* name) {
    for (int attempt = 0; attempt < DELETE_ATTEMPTS; ++attempt) {
        if (file_delete(name)) return;
        pump_pending_messages();
        system_pause(DELETE_RETRY_PAUSE_MS);
    }
}

void delete_listed_files() {
    char name[WORK_PATH_SIZE];
    const FolderListing listing = listing_start("*.*", name, sizeof name);
    if (listing == NO_LISTING) return;
    do {
        if (name[0] != '.') delete_with_retries(name);
    } while (listing_next(listing, name, sizeof name));
    listing_end(listing);
}

} // namespace

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
    const bool in_work_path = folder_set_current(g_work_path);
    if (in_work_path && folder_set_current(WORK_SUBFOLDER)) {
        delete_listed_files();
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
