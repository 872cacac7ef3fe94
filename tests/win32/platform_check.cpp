// Checks of the installation steps on a real Win32 implementation: the
// unpack into %TEMP%\W80_INST, the member time conversion, the setup
// launch, and the cleanup with a file held open by another process.
//
// Run beside a W_SETUP.WPK that holds W_SETUP.EXE (the test stand-in) and
// SUB\DEEP\DATA.TXT. Writes "ok ..." / "FAIL ..." lines to the report file
// named by its first argument and exits with the number of failures.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "archive/unpack.h"
#include "install/setup_launch.h"
#include "install/work_cleanup.h"
#include "install/work_folder.h"
#include "platform/win32/command_line_win32.h"

namespace {

FILE* g_report = nullptr;
int g_failures = 0;
bool g_close_requested = false;

void check(bool ok, const std::string& what) {
    fprintf(g_report, "%s %s\n", ok ? "ok" : "FAIL", what.c_str());
    fflush(g_report);
    if (!ok) ++g_failures;
}

bool exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

LRESULT CALLBACK test_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_CLOSE) {
        g_close_requested = true;
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

HWND make_window() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = test_window_proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "PLATFORM_CHECK";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, "PLATFORM_CHECK", "platform check", WS_POPUP, 0, 0, 50, 50,
                                  nullptr, nullptr, wc.hInstance, nullptr);
    ShowWindow(window, SW_SHOW);
    return window;
}

// Pumps messages until the stand-in's close request arrives (or times out).
bool wait_for_close(DWORD timeout_ms) {
    const DWORD start = GetTickCount();
    while (!g_close_requested && GetTickCount() - start < timeout_ms) {
        pump_pending_messages();
        Sleep(20);
    }
    return g_close_requested;
}

void check_time_conversion() {
    // 2000-05-17 10:30:42 UTC: seconds field 21, year field 20.
    const uint8_t valid[4] = {0xD5, 0x53, 0xB1, 0x28};
    const uint8_t invalid[4] = {0x00, 0x00, 0xB1, 0x29}; // month 13
    Stream* f = stream_open("TIME.TST", "wb");
    stream_write(f, "x", 1);
    stream_flush(f);
    check(set_file_time_from_dos(f, valid), "creation time set from a valid packed time");
    check(!set_file_time_from_dos(f, invalid), "an invalid packed time is not applied");
    stream_close(f);
    HANDLE h =
        CreateFileA("TIME.TST", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME created, accessed, written;
    GetFileTime(h, &created, &accessed, &written);
    CloseHandle(h);
    DeleteFileA("TIME.TST");
    const ULONGLONG expected = (958559442ULL + 11644473600ULL) * 10000000ULL;
    const ULONGLONG got = ULONGLONG(created.dwHighDateTime) << 32 | created.dwLowDateTime;
    // Some systems keep no creation time and report the last write instead.
    fprintf(g_report, "info creation time %s\n",
            got == expected ? "kept" : "not kept by this system");
    SYSTEMTIME st = {2000, 5, 0, 17, 10, 30, 42, 0};
    FILETIME converted;
    SystemTimeToFileTime(&st, &converted);
    check((ULONGLONG(converted.dwHighDateTime) << 32 | converted.dwLowDateTime) == expected,
          "packed time converts as UTC");
}

// The cleanup leaves subfolders where they are, by design; they are cleared
// here so that the timing shows only the held file's attempts.
void remove_member_folders() {
    DeleteFileA("SUB\\DEEP\\DATA.TXT");
    RemoveDirectoryA("SUB\\DEEP");
    RemoveDirectoryA("SUB");
}

void check_cleanup(HWND window, const char* hold, bool expect_removed, DWORD min_ms, DWORD max_ms) {
    remove_member_folders();
    g_close_requested = false;
    SetEnvironmentVariableA("WSTUB_MODE", hold);
    check(launch_setup(window), std::string("setup started for ") + hold);
    check(!IsWindowVisible(window), "window hidden after the start");
    check(wait_for_close(20000), "close request received");
    Sleep(200); // the stand-in opens its file before it posts
    const DWORD start = GetTickCount();
    clean_work_folder();
    const DWORD took = GetTickCount() - start;
    const std::string work = std::string(g_work_path) + "\\W80_INST";
    fprintf(g_report, "info cleanup with %s took %lu ms\n", hold, (unsigned long)took);
    check(exists(work) != expect_removed,
          std::string("work folder ") + (expect_removed ? "removed" : "kept"));
    check(took >= min_ms && took <= max_ms, "cleanup time " + std::to_string(took) + " ms within " +
                                                std::to_string(min_ms) + ".." +
                                                std::to_string(max_ms));
    ShowWindow(window, SW_SHOW);
}

} // namespace

int main(int argc, char** argv) {
    remember_own_path(); // as the program's entry does, before the folder changes
    g_report = fopen(argc > 1 ? argv[1] : "platform_check.txt", "w");
    if (!g_report) return 99;
    HWND window = make_window();

    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    prepare_and_unpack();
    check(g_install_ready == 1, "unpacked");
    char expected[WORK_PATH_SIZE];
    derive_work_path(temp, expected, text_is_lead_byte);
    check(strcmp(g_work_path, expected) == 0, std::string("work path ") + g_work_path);
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(sizeof cwd, cwd);
    check(std::string(cwd) == std::string(g_work_path) + "\\W80_INST",
          std::string("current folder ") + cwd);
    check(exists("W_SETUP.EXE") && exists("SUB\\DEEP\\DATA.TXT"),
          "members written with their folders");
    check(!exists("W_SETUP.WPK"), "archive copy deleted");
    check_time_conversion();

    // The launch and the cleanup: a file released while its attempts run
    // (the stand-in ends then too), then one held past all ten attempts; the
    // running stand-in's own W_SETUP.EXE then fails its ten as well, so 20
    // pauses of 300 ms in all.
    check_cleanup(window, "hold:SUB.TXT:1000", true, 300, 2900);
    prepare_and_unpack();
    check(g_install_ready == 1, "unpacked again");
    check_cleanup(window, "hold:SUB.TXT:8000", false, 6000, 7900);
    fprintf(g_report, "done failures=%d\n", g_failures);
    fclose(g_report);
    return g_failures;
}
