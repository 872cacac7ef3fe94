// Times the installer's unpack on the real system: run beside a W_SETUP.WPK,
// it unpacks into %TEMP%\W80_INST exactly as the bootstrapper does and
// prints the milliseconds it took.
#include <windows.h>

#include <cstdio>

#include "install/work_folder.h"

int main() {
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    prepare_and_unpack();
    QueryPerformanceCounter(&end);
    printf("unpack_ms=%.1f ready=%ld\n",
           1000.0 * double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart),
           long(g_install_ready));
    return g_install_ready ? 0 : 1;
}
