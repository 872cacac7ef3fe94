// The GUI entry the runtime start-up calls.
#include <windows.h>

#include "shell/program_main.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show_command) {
    return program_main(instance, previous, command_line, show_command);
}
