/*
 * planted_dll - a DLL that proves it was loaded: DllMain writes the file
 * <its own path>.LOADED. The Wine tests place it beside WBOOT.EXE under the
 * names of DLLs that Windows would look for in the program's folder first
 * (CRTDLL.DLL, UXTHEME.DLL, DWMAPI.DLL). As CRTDLL.DLL it forwards the C
 * functions an earlier WBOOT.EXE imported to msvcrt (planted_crtdll.def),
 * so that a program importing them would run on as usual with it loaded.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    char path[MAX_PATH + 8];
    DWORD n;
    HANDLE marker;
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    n = GetModuleFileNameA(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return TRUE;
    lstrcatA(path, ".LOADED");
    marker = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    return TRUE;
}
