/*
 * launch - starts a program the way a user at a command prompt would: from
 * a chosen current folder, by a command line taken as typed (a relative
 * program path stays relative), optionally with TEMP and TMP set to bytes of
 * the ANSI code page, which a Unix environment cannot carry into Wine.
 *
 *   launch FOLDER COMMAND [TEMP]
 *
 * FOLDER, COMMAND and TEMP are ANSI bytes; \xNN escapes give raw bytes.
 * Waits for the program and exits with its exit code; 120 for bad
 * arguments, 121 when the program cannot be started.
 */
#define WIN32_LEAN_AND_MEAN
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "unescape.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR line, int show) {
    char folder[MAX_PATH], command[1024], temp[MAX_PATH];
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    DWORD code = 121;
    (void)instance, (void)previous, (void)line, (void)show;
    if (__argc < 3) return 120;
    unescape(folder, sizeof folder, __argv[1]);
    unescape(command, sizeof command, __argv[2]);
    if (__argc > 3) {
        unescape(temp, sizeof temp, __argv[3]);
        SetEnvironmentVariableA("TEMP", temp);
        SetEnvironmentVariableA("TMP", temp);
    }
    if (!SetCurrentDirectoryA(folder)) return 120;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return 121;
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (int)code;
}
