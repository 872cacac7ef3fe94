#include "archive/fatal_error.h"

#include <cstdlib>

#include "platform/platform.h"

FatalJump g_fatal_jump;
Stream* g_archive_stream = nullptr;
Stream* g_output_stream = nullptr;
bool g_fatal_error_shows_box = true;

void fatal_error(const char* text) {
    if (g_fatal_error_shows_box) show_message_box(NO_OWNER, text, CAPTION_FATAL_ERROR, BOX_OK);
    if (g_archive_stream) {
        stream_close(g_archive_stream);
        g_archive_stream = nullptr;
    }
    if (g_output_stream) {
        stream_close(g_output_stream);
        g_output_stream = nullptr;
    }
    if (!g_fatal_jump.armed) abort();
    g_fatal_jump.text = text;
    __builtin_longjmp(g_fatal_jump.context, 1);
}
