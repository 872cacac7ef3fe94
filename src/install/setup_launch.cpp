#include "install/setup_launch.h"

#include <cstring>

#include "archive/unpack.h"
#include "install/work_folder.h"

int32_t launch_token_from_seed(uint32_t seed) {
    uint32_t state = seed;
    int32_t number = 0;
    int32_t check = 0;
    for (int i = 0; i < 4; ++i) {
        state = state * 214013u + 2531011u;
        const int32_t digit = int32_t((state >> 16) & 0x7FFF) % 10;
        number = number * 10 + digit;
        check += 5 * digit / 3;
    }
    return number * 1000 + check;
}

int32_t make_launch_token() {
    return launch_token_from_seed(system_time_seconds());
}

bool format_setup_command(char* buffer, const char* work_path, int32_t token, uint32_t window,
                          const char* own_path) {
    // The system takes the program from the first word of the line, trying
    // each split at a space in turn: with a space in the work path an
    // unquoted line could start C:\DOCUMENTS.EXE instead of our setup
    // program. Such a path is quoted; any other line is left as it was.
    const char* format =
        strchr(work_path, ' ') ? "\"%s\\%s\\%s\" %ld %u %s" : "%s\\%s\\%s %ld %u %s";
    return text_format(buffer, COMMAND_LINE_SIZE, format, work_path, WORK_SUBFOLDER,
                       SETUP_PROGRAM_NAME, long(token), unsigned(window), own_path) > 0;
}

bool launch_setup(WindowHandle window) {
    const int32_t token = make_launch_token();
    char own_path[PATH_SLOT];
    char command[COMMAND_LINE_SIZE];
    if (!program_get_own_path(own_path, PATH_SLOT) ||
        !format_setup_command(command, g_work_path, token, uint32_t(uintptr_t(window)), own_path))
        return false;
    if (program_start(command) <= 31) return false;
    window_hide(window);
    return true;
}
