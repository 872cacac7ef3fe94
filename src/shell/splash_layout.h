// The arithmetic of the splash: band rows and colours of the gradient and the
// positions of the text lines. Divisions drop the fraction (toward zero).
#pragma once

#include <cstdint>

constexpr int32_t even(int32_t v) {
    return v / 2 * 2;
}

// Bands start at even(top), every 2 rows, up to and including even(bottom + 1).
constexpr int32_t first_band_row(int32_t top) {
    return even(top);
}
constexpr int32_t last_band_row(int32_t bottom) {
    return even(bottom + 1);
}
constexpr int32_t band_count(int32_t top, int32_t bottom) {
    return (last_band_row(bottom) - first_band_row(top)) / 2 + 1;
}

// Blue level of the band that starts at row y on a screen `height` rows high.
constexpr int32_t band_blue(int32_t y, int32_t height) {
    return y * 256 / height % 256;
}

// Left edge of a line `width` pixels wide centred on a screen `screen_width` wide.
constexpr int32_t centred_x(int32_t screen_width, int32_t width) {
    return (screen_width - width) / 2;
}

// Top of title line i (0 to 2), measured `height` pixels high.
constexpr int32_t title_y(int32_t i, int32_t height) {
    return 40 + i * (height - 4 * i - 10);
}

// The notes start below title line 2, measured `title2_height` high.
constexpr int32_t note_base(int32_t title2_height) {
    return 80 + 3 * (title2_height - 22);
}

// Top of note line j (0 or 1), measured `height` pixels high.
constexpr int32_t note_y(int32_t base, int32_t j, int32_t height) {
    return base + j * height;
}
