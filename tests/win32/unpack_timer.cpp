// Times the installer's unpack on the real system: run beside a W_SETUP.WPK,
// it unpacks into %TEMP%\W80_INST exactly as the bootstrapper does and
// prints the milliseconds it took. With ARCHIVE_SHA256 set (64 hex digits)
// it is bound to that digest, as a bound WBOOT.EXE is, and hashes the
// archive while it copies it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "install/work_folder.h"
#include "platform/win32/command_line_win32.h"

// Takes the place of the program file's own digest (the platform's
// archive_digest_win32.cpp is then not linked).
bool program_get_archive_digest(uint8_t* digest) {
    const char* hex = getenv("ARCHIVE_SHA256");
    if (!hex) return false;
    for (int i = 0; i < 32; ++i) {
        unsigned byte;
        if (sscanf(hex + 2 * i, "%2x", &byte) != 1) return false;
        digest[i] = uint8_t(byte);
    }
    return true;
}

int main() {
    remember_own_path(); // as the program's entry does, before the folder changes
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    prepare_and_unpack();
    QueryPerformanceCounter(&end);
    // The processor time too: on a busy machine it varies much less.
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    const double cpu_ticks = double(uint64_t(kernel.dwHighDateTime) << 32 | kernel.dwLowDateTime) +
                             double(uint64_t(user.dwHighDateTime) << 32 | user.dwLowDateTime);
    printf("unpack_ms=%.1f ready=%ld cpu_ms=%.0f\n",
           1000.0 * double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart),
           long(g_install_ready), cpu_ticks / 10000.0);
    return g_install_ready ? 0 : 1;
}
