// Setup program launch: W_SETUP.EXE from the work subfolder, with a launch
// token, the splash window's handle and the bootstrapper's own path.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

constexpr const char* SETUP_PROGRAM_NAME = "W_SETUP.EXE";
constexpr size_t COMMAND_LINE_SIZE = 520; // 519 characters and the terminator

// The launch token of the four digits drawn from a generator seeded with
// `seed`: V (the digits as a number) × 1000 + S (the sum of 5d/3 over the
// digits).
int32_t launch_token_from_seed(uint32_t seed);

// The token seeded with the current time.
int32_t make_launch_token();

// Formats "<work path>\W80_INST\W_SETUP.EXE <token> <handle> <own path>" into
// `buffer` (COMMAND_LINE_SIZE bytes); the program's path is quoted when the
// work path holds a space. False, with nothing started, when it would not fit.
bool format_setup_command(char* buffer, const char* work_path, int32_t token, uint32_t window,
                          const char* own_path);

// Starts the setup program and hides the window. Returns false, leaving the
// window shown, when the command line does not fit or the start failed.
bool launch_setup(WindowHandle window);
