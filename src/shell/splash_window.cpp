#include "shell/splash_window.h"

#include "install/setup_launch.h"
#include "install/work_cleanup.h"
#include "install/work_folder.h"
#include "shell/shell_texts.h"
#include "shell/splash_paint.h"

namespace {
// Set from the start of the window's destruction. The cleanup hands pending
// messages to this procedure while it waits for a file, so a close request
// still queued then would otherwise destroy the window again from inside its
// own destruction and run the cleanup nested: such a request does nothing.
bool g_window_destroying = false;
// Set when the installation step starts. MSG_START_INSTALL is posted once,
// but any process may post it again, and the cleanup's message pump may
// deliver it inside the step: the step runs once.
bool g_installation_started = false;
} // namespace

void run_installation_step(WindowHandle window) {
    if (g_installation_started) return;
    g_installation_started = true;
    prepare_and_unpack();
    if (g_install_ready && launch_setup(window)) return; // hidden; waits for the close request
    const FailureTexts& failure = FAILURE_TEXTS[g_ui_language];
    show_message_box(window, failure.text, failure.caption, BOX_OK);
    window_post_message(window, WM_CLOSE_MESSAGE);
}

intptr_t splash_window_proc(WindowHandle window, uint32_t message, uintptr_t wparam,
                            intptr_t lparam) {
    switch (message) {
    case WM_CREATE_MESSAGE:
        g_window_destroying = false;
        g_installation_started = false;
        window_post_message(window, MSG_START_INSTALL);
        return 0;
    case WM_DESTROY_MESSAGE:
        g_window_destroying = true;
        if (g_install_ready) clean_work_folder();
        message_post_quit(0);
        return 0;
    case WM_PAINT_MESSAGE:
        paint_splash(window);
        return 0;
    case WM_CLOSE_MESSAGE:
        if (!g_window_destroying) window_destroy(window);
        return 0;
    case MSG_START_INSTALL:
        run_installation_step(window);
        return 0;
    default:
        return window_default_procedure(window, message, wparam, lparam);
    }
}
