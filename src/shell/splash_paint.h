// Painting of the splash: the black-to-blue gradient and the banner text.
#pragma once

#include "platform/platform.h"

extern ScreenSize g_screen_size; // set once before the window is created

constexpr uint32_t TITLE_COLOR = rgb(255, 255, 255);
constexpr uint32_t NOTE_COLOR = rgb(255, 255, 0);

// The two fonts: Times New Roman, thin, proof quality, variable pitch roman,
// character set 0; the title font italic.
FontDescription title_font();
FontDescription note_font();

// Paints the part of the window that needs it: the gradient in bands two
// rows high, then the text over it.
void paint_splash(WindowHandle window);

// Draws the three title lines and the two note lines, centred.
void draw_banner_text(DrawingContext context);
