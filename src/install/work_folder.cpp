#include "install/work_folder.h"

#include <cstring>

#include "archive/fatal_error.h"
#include "archive/path_text.h"
#include "archive/unpack.h"
#include "install/work_cleanup.h"
#include "platform/platform.h"

char g_work_path[WORK_PATH_SIZE];
int32_t g_install_ready = 0;

namespace {
char upper(char c) {
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

// Selects the work path's drive and confirms that it is now current.
bool select_work_drive() {
    const char letter = upper(g_work_path[0]);
    if (letter >= 'A' && letter <= 'Z') {
        const char drive[3] = {letter, ':', '\0'};
        folder_set_current(drive);
    }
    char current[WORK_PATH_SIZE];
    if (!folder_get_current(current, WORK_PATH_SIZE)) return false;
    return letter != '\0' && upper(current[0]) == letter && current[1] == ':';
}
} // namespace

bool enter_work_path() {
    // A bare drive "L:" names the current folder of drive L, not its root.
    if (g_work_path[0] != '\0' && g_work_path[1] == ':' && g_work_path[2] == '\0') {
        const char root[4] = {g_work_path[0], ':', '\\', '\0'};
        return folder_set_current(root);
    }
    return folder_set_current(g_work_path);
}

void derive_work_path(const char* temp_path, char* work_path, LeadByteTest is_lead) {
    size_t n = 0;
    for (; temp_path[n] && n + 1 < WORK_PATH_SIZE; ++n) work_path[n] = temp_path[n];
    work_path[n] = '\0';
    upper_case_ascii(work_path, is_lead);
    char* last = last_backslash(work_path, is_lead);
    if (last && last[1] == '\0') *last = '\0';
}

void prepare_and_unpack() {
    char temp_path[WORK_PATH_SIZE];
    temp_path[0] = '\0';
    system_get_temp_path(temp_path, TEMP_PATH_LENGTH);
    derive_work_path(temp_path, g_work_path, text_is_lead_byte);

    FatalJumpScope armed;
    if (FATAL_JUMP_SAVE()) {
        // fatal_error has shown its box and closed the streams; the memory
        // the unpack held is given back here.
        g_install_ready = 0;
        release_unpack_memory();
        return;
    }
    if (!select_work_drive()) return;
    // Unpacking anywhere but in the work subfolder could overwrite files of
    // the same names, so a folder that cannot be entered ends the step.
    if (!enter_work_path()) return;
    folder_create(WORK_SUBFOLDER);
    // A link in its place (a junction or symbolic link planted there) would
    // have the members written, and later the files deleted, wherever it
    // points: it is not entered.
    if (path_is_link(WORK_SUBFOLDER) || !folder_set_current(WORK_SUBFOLDER)) return;
    // Files an earlier run left (or someone planted) would lie beside the
    // setup program when it starts, and it loads DLLs from there.
    delete_work_files();
    if (unpack_archive(ARCHIVE_NAME) != 0) g_install_ready = 1;
}
