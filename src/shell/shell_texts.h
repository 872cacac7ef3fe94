// The texts of the shell in both languages. Korean texts are code page 949
// bytes, written as escapes so the source file's encoding cannot change them.
#pragma once

#include <cstdint>

enum UiLanguage : int32_t { UI_ENGLISH = 0, UI_KOREAN = 1 };

constexpr uint32_t KOREAN_OEM_CODE_PAGE = 949;

extern UiLanguage g_ui_language;

// The serial-port question and notice, in this order per language.
struct PortTexts {
    const char* question_text;
    const char* question_caption;
    const char* notice_text;
    const char* notice_caption;
};
extern const PortTexts PORT_TEXTS[2];

// The box shown when the installation cannot go on.
struct FailureTexts {
    const char* text;
    const char* caption;
};
extern const FailureTexts FAILURE_TEXTS[2];

// The splash: three title lines and two note lines.
struct BannerTexts {
    const char* titles[3];
    const char* notes[2];
};
extern const BannerTexts BANNER_TEXTS[2];
