#include "shell/program_main.h"

#include "shell/serial_ports.h"
#include "shell/shell_texts.h"
#include "shell/splash_paint.h"
#include "shell/splash_window.h"

int program_main(ProgramInstance instance, ProgramInstance, const char*, int) {
    g_ui_language = system_oem_code_page() == KOREAN_OEM_CODE_PAGE ? UI_KOREAN : UI_ENGLISH;

    if (check_serial_ports()) {
        const PortTexts& texts = PORT_TEXTS[g_ui_language];
        if (show_message_box(NO_OWNER, texts.question_text, texts.question_caption,
                             BOX_YES_NO | BOX_ICON_QUESTION) == ANSWER_YES) {
            session_end(SESSION_LOGOFF, SESSION_RESERVED);
            return 0;
        }
        show_message_box(NO_OWNER, texts.notice_text, texts.notice_caption,
                         BOX_OK | BOX_ICON_INFORMATION);
    }

    if (!window_register_class(instance, SPLASH_CLASS_NAME, splash_window_proc, ICON_RESOURCE_NAME))
        return 0;
    g_screen_size = system_screen_size();
    const WindowHandle window =
        window_create_popup(instance, SPLASH_CLASS_NAME, SPLASH_WINDOW_TITLE, g_screen_size.width,
                            g_screen_size.height);
    if (!window) return 0;
    window_show(window);
    window_update(window); // the splash is on the screen before the unpack starts
    run_message_loop();
    return 0;
}
