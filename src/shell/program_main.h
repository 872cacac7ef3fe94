// The program's entry: language, serial-port check, the splash window and
// the message loop.
#pragma once

#include "platform/platform.h"

constexpr const char* SPLASH_CLASS_NAME = "FIRST_INSTALL";
constexpr const char* SPLASH_WINDOW_TITLE = "Wendle Install";
constexpr const char* ICON_RESOURCE_NAME = "INSTALL_ICON";

// Runs the whole program; returns its exit code, 0 on every path.
int program_main(ProgramInstance instance, ProgramInstance previous, const char* command_line,
                 int show_command);
