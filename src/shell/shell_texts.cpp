#include "shell/shell_texts.h"

UiLanguage g_ui_language = UI_ENGLISH;

const PortTexts PORT_TEXTS[2] = {
    {
        "COM port description modified !!\nYou should restart window !!\n\nRestart window now ?",
        "Notice from Wendle : restarting window",
        "After install Wendle, you should restart window !\n\nOr you can't continue communication "
        "!!",
        "Notice from Wendle",
    },
    {
        // "The communication port settings were changed, so Windows must be
        // restarted. Restart now?"
        "\xC5\xEB\xBD\xC5\xC6\xF7\xC6\xAE \xBB\xF3\xC5\xC2\xB8\xA6 \xB9\xD9\xB2\xD9\xBE\xFA\xC0\xB8"
        "\xB9\xC7\xB7\xCE, \xC0\xA9\xB5\xB5\xBF\xEC\xB8\xA6 \xC0\xE7\xBD\xC3\xB5\xBF \xC7\xD8\xBE"
        "\xDF\xC7\xD5\xB4\xCF\xB4\xD9.!!\n\n\xC1\xF6\xB1\xDD \xC0\xE7\xBD\xC3\xB5\xBF \xC7\xD2\xB1"
        "\xEE\xBF\xE4 ?",
        // "Wendle installer : restarting Windows"
        "Wendle \xBC\xB3\xC4\xA1\xC0\xDA : \xC0\xA9\xB5\xB5\xBF\xEC\xC0\xC7 "
        "\xC0\xE7\xBD\xC3\xB5\xBF",
        // "After installing Wendle, restart Windows before use! Otherwise
        // communication may not work!!"
        "Wendle\xC0\xC7 \xBC\xB3\xC4\xA1 \xC8\xC4, \xB9\xDD\xB5\xE5\xBD\xC3 "
        "\xC0\xA9\xB5\xB5\xBF\xEC"
        "\xB8\xA6 \xC0\xE7\xBD\xC3\xB5\xBF\xC7\xCF\xB0\xED \xBB\xE7\xBF\xEB\xC7\xD8\xBE\xDF "
        "\xC7\xD5"
        "\xB4\xCF\xB4\xD9 !\n\n\xB1\xD7\xB7\xB8\xC1\xF6 \xBE\xCA\xC0\xB8\xB8\xE9 "
        "\xC5\xEB\xBD\xC5\xC0"
        "\xCC \xBE\xC8\xB5\xC9 \xBC\xF6 \xC0\xD6\xBD\xC0\xB4\xCF\xB4\xD9 !!",
        // "Wendle installer"
        "Wendle \xBC\xB3\xC4\xA1\xC0\xDA",
    },
};

const FailureTexts FAILURE_TEXTS[2] = {
    {"Can't continue Installation.", "Fatal error (Please check Disk)"},
    {
        // "Installation cannot continue."
        "\xBC\xB3\xC4\xA1\xB8\xA6 \xB0\xE8\xBC\xD3\xC7\xD2 \xBC\xF6 "
        "\xBE\xF8\xBD\xC0\xB4\xCF\xB4\xD9.",
        // "Fatal error (Please check the disk)"
        "\xC4\xA1\xB8\xED\xC0\xFB \xBF\xC0\xB7\xF9 (Disk\xB8\xA6 \xB0\xCB\xBB\xE7\xC7\xD8 "
        "\xC1\xD6\xBC"
        "\xBC\xBF\xE4)",
    },
};

const BannerTexts BANNER_TEXTS[2] = {
    {{"WENDLE", "for", "Windows"}, {"Running Setup program", "Please wait a moment."}},
    {
        {"Wendle", "for", "Windows"},
        {
            // "Preparing the installation."
            "\xBC\xB3\xC4\xA1\xB8\xA6 \xC1\xD8\xBA\xF1\xC1\xDF\xC0\xD4\xB4\xCF\xB4\xD9.",
            // "Please wait a moment."
            "\xC0\xE1\xBD\xC3\xB8\xB8 \xB1\xE2\xB4\xD9\xB8\xAE\xBC\xBC\xBF\xE4.",
        },
    },
};
