// The splash window's procedure: the window's life is the installation.
#pragma once

#include <cstdint>

#include "platform/platform.h"

constexpr uint32_t WM_CREATE_MESSAGE = 1;
constexpr uint32_t WM_DESTROY_MESSAGE = 2;
constexpr uint32_t WM_PAINT_MESSAGE = 15;
constexpr uint32_t WM_CLOSE_MESSAGE = 16;
// Posted to the window once, while it is created, to start the installation.
constexpr uint32_t MSG_START_INSTALL = 5327;

intptr_t splash_window_proc(WindowHandle window, uint32_t message, uintptr_t wparam,
                            intptr_t lparam);

// Unpacks, then starts the setup program; on any failure shows the failure
// box (owned by the window) and closes the window.
void run_installation_step(WindowHandle window);
