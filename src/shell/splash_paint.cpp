#include "shell/splash_paint.h"

#include <cstring>

#include "shell/shell_texts.h"
#include "shell/splash_layout.h"

ScreenSize g_screen_size;

FontDescription title_font() {
    FontDescription f = {};
    f.height = 120;
    f.width = 40;
    f.weight = 100; // thin
    f.italic = 1;
    f.char_set = 0;
    f.quality = 2;             // proof quality
    f.pitch_and_family = 0x12; // variable pitch, roman family
    strcpy(f.face_name, "Times New Roman");
    return f;
}

FontDescription note_font() {
    FontDescription f = title_font();
    f.height = 40;
    f.width = 20;
    f.italic = 0;
    return f;
}

void draw_banner_text(DrawingContext context) {
    const BannerTexts& texts = BANNER_TEXTS[g_ui_language];

    DrawingObject font = font_create(title_font());
    DrawingObject previous = object_select(context, font);
    text_set_color(context, TITLE_COLOR);
    text_set_transparent(context);
    int32_t title2_height = 0;
    for (int32_t i = 0; i < 3; ++i) {
        const int length = int(strlen(texts.titles[i]));
        const TextExtent extent = text_measure(context, texts.titles[i], length);
        text_draw(context, centred_x(g_screen_size.width, extent.width), title_y(i, extent.height),
                  texts.titles[i], length);
        title2_height = extent.height;
    }
    object_select(context, previous);
    object_delete(font);

    font = font_create(note_font());
    previous = object_select(context, font);
    text_set_color(context, NOTE_COLOR);
    const int32_t base = note_base(title2_height);
    for (int32_t j = 0; j < 2; ++j) {
        const int length = int(strlen(texts.notes[j]));
        const TextExtent extent = text_measure(context, texts.notes[j], length);
        text_draw(context, centred_x(g_screen_size.width, extent.width),
                  note_y(base, j, extent.height), texts.notes[j], length);
    }
    object_select(context, previous);
    object_delete(font);
}

void paint_splash(WindowHandle window) {
    PaintArea area;
    DrawingContext context = paint_begin(window, &area);

    DrawingObject pen = pen_create_null();
    DrawingObject previous_pen = object_select(context, pen);
    // With the null pen a rectangle fills one pixel less each way: each band
    // covers rows y and y + 1 from left to right - 1.
    for (int32_t y = first_band_row(area.top); y <= last_band_row(area.bottom); y += 2) {
        DrawingObject brush =
            brush_create_solid(rgb(0, 0, uint32_t(band_blue(y, g_screen_size.height))));
        DrawingObject previous_brush = object_select(context, brush);
        draw_rectangle(context, area.left, y, area.right + 1, y + 3);
        object_select(context, previous_brush);
        object_delete(brush);
    }
    object_select(context, previous_pen);
    object_delete(pen);

    draw_banner_text(context);
    paint_end(window);
}
