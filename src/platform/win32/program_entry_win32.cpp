// The process entry of WBOOT.EXE. The program links no start-up code of a
// compiler's runtime and no C runtime DLL (its few C functions are its own),
// so the entry has to keep later DLL loads out of the program's folder, take
// its own path while the start folder is still current, run the
// constructors of static objects, hand program_main what WinMain would get,
// and end the process with its result.
#include <windows.h>

#include "platform/win32/command_line_win32.h"
#include "shell/program_main.h"

// The constructor table the linker gathers: -1, the constructors, 0.
extern "C" void (*__CTOR_LIST__[])();

namespace {

// The system loads some DLLs on the program's behalf later on (theming when
// the first window is created, for one). Windows looks for a DLL that is not
// one of its known DLLs in the program's folder first, and a medium's folder
// may be a Downloads folder where a web page can leave a file. So before
// anything else the search is narrowed to the system folder where the system
// can (Windows 8, and 7 with its update), or the current folder is taken out
// of it (XP SP1 and later). Windows 95 and NT 4.0 have neither call; both are
// looked up, never imported.
constexpr DWORD SEARCH_SYSTEM32 = 0x00000800; // LOAD_LIBRARY_SEARCH_SYSTEM32

void restrict_library_search() {
    const HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    if (!kernel) return;
    using SetDefaultDllDirectoriesCall = BOOL(WINAPI*)(DWORD);
    using SetDllDirectoryCall = BOOL(WINAPI*)(LPCSTR);
    const auto set_default = reinterpret_cast<SetDefaultDllDirectoriesCall>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (set_default && set_default(SEARCH_SYSTEM32)) return;
    const auto set_directory = reinterpret_cast<SetDllDirectoryCall>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryA")));
    if (set_directory) set_directory("");
}

void run_static_constructors() {
    size_t count = 0;
    while (__CTOR_LIST__[count + 1]) ++count;
    while (count > 0) __CTOR_LIST__[count--]();
}
} // namespace

// The system enters here with only 4-byte stack alignment.
extern "C" __attribute__((force_align_arg_pointer, noreturn)) void WinMainCRTStartup() {
    restrict_library_search();
    remember_own_path();
    run_static_constructors();
    const CommandLineHead head = split_command_line(GetCommandLineA());
    STARTUPINFOA startup;
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    const int show =
        (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
    const int code = program_main(GetModuleHandleA(nullptr), nullptr, head.arguments, show);
    ExitProcess(UINT(code));
}
