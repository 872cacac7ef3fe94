// The process entry of WBOOT.EXE. The program links no start-up code of a
// compiler's runtime: its C runtime is the system's CRTDLL.DLL, which sets
// itself up when it is loaded, so the entry only has to run the constructors
// of static objects, hand program_main what WinMain would get, and end the
// process with its result.
#include <windows.h>

#include "platform/win32/command_line_win32.h"
#include "shell/program_main.h"

// The constructor table the linker gathers: -1, the constructors, 0.
extern "C" void (*__CTOR_LIST__[])();

namespace {
void run_static_constructors() {
    size_t count = 0;
    while (__CTOR_LIST__[count + 1]) ++count;
    while (count > 0) __CTOR_LIST__[count--]();
}
} // namespace

// The system enters here with only 4-byte stack alignment.
extern "C" __attribute__((force_align_arg_pointer, noreturn)) void WinMainCRTStartup() {
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
