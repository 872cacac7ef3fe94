#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "platform_stand_in.h"
#include "shell/shell_texts.h"
#include "shell/splash_layout.h"
#include "shell/splash_paint.h"
#include "test_support.h"

namespace {

TEST(SplashLayout, Bands) {
    EXPECT_EQ(band_count(0, 480), 241);
    EXPECT_EQ(last_band_row(480), 480);
    EXPECT_EQ(band_blue(0, 480), 0);
    EXPECT_EQ(band_blue(240, 480), 128);
    EXPECT_EQ(band_blue(478, 480), 254);
    EXPECT_EQ(band_blue(480, 480), 0); // below the screen: wraps, unseen
    EXPECT_EQ(first_band_row(5), 4);
    EXPECT_EQ(last_band_row(10), 10);
    EXPECT_EQ(band_count(5, 10), 4);
    EXPECT_EQ(band_blue(767, 768), 255);
}

class Painting : public ::testing::Test {
  protected:
    void SetUp() override {
        g_screen_size = {640, 480};
        g_ui_language = UI_ENGLISH;
    }
    void TearDown() override { g_ui_language = UI_ENGLISH; }
    std::vector<std::string> lines_starting(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const std::string& line : g_posix.drawing)
            if (line.rfind(prefix, 0) == 0) out.push_back(line);
        return out;
    }
    FakeMachine machine_;
};

TEST_F(Painting, FullPaintingDrawsEveryBandThenTheText) {
    paint_splash(POSIX_WINDOW);
    const std::vector<std::string>& d = g_posix.drawing;
    ASSERT_GE(d.size(), 3u);
    EXPECT_EQ(d.front(), "begin");
    EXPECT_EQ(d.back(), "end");
    const std::vector<std::string> rects = lines_starting("rect ");
    ASSERT_EQ(rects.size(), 241u);
    EXPECT_EQ(rects[0], "rect 0 0 641 3");
    EXPECT_EQ(rects[120], "rect 0 240 641 243");
    EXPECT_EQ(rects[240], "rect 0 480 641 483");
    const std::vector<std::string> brushes = lines_starting("select brush");
    ASSERT_EQ(brushes.size(), 241u);
    EXPECT_EQ(brushes[0], "select brush 000000");
    EXPECT_EQ(brushes[120], "select brush 800000"); // blue 128 in the high byte
    EXPECT_EQ(brushes[239], "select brush fe0000");
    EXPECT_EQ(lines_starting("delete brush").size(), 241u);
    EXPECT_EQ(lines_starting("delete pen null").size(), 1u);
    // Every band is drawn before any text.
    size_t last_rect = 0, first_text = d.size();
    for (size_t i = 0; i < d.size(); ++i) {
        if (d[i].rfind("rect", 0) == 0) last_rect = i;
        if (d[i].rfind("text", 0) == 0 && first_text == d.size()) first_text = i;
    }
    EXPECT_LT(last_rect, first_text);
}

TEST_F(Painting, PartialPaintingDrawsOnlyItsBandsWithFixedColours) {
    g_posix.paint_area = {10, 5, 300, 11}; // bands from even(5) up to even(11 + 1)
    paint_splash(POSIX_WINDOW);
    EXPECT_EQ(lines_starting("rect "),
              (std::vector<std::string>{"rect 10 4 301 7", "rect 10 6 301 9", "rect 10 8 301 11",
                                        "rect 10 10 301 13", "rect 10 12 301 15"}));
    EXPECT_EQ(lines_starting("select brush")[1], "select brush 030000"); // 6 * 256 / 480 = 3
    EXPECT_EQ(lines_starting("text ").size(), 5u); // the text is drawn whole every time
}

TEST_F(Painting, TextLinesFontsAndColours) {
    // Each line measured with its own width and height on a screen 800 wide;
    // worked by hand: title i at 40 + i (h - 4i - 10), so 40, 40 + 46 and
    // 40 + 2 * 32; the note base 80 + 3 * (50 - 22) = 164, the second note
    // one note height (24) lower; x = (800 - width) / 2, toward zero.
    g_screen_size = {800, 600};
    g_posix.paint_area = {0, 0, 800, 600};
    const std::map<std::string, TextExtent> extents = {{"WENDLE", {300, 100}},
                                                       {"for", {101, 60}},
                                                       {"Windows", {805, 50}},
                                                       {"Running Setup program", {400, 30}},
                                                       {"Please wait a moment.", {33, 24}}};
    g_posix.measure = [&](const std::string& text, int) { return extents.at(text); };
    paint_splash(POSIX_WINDOW);
    EXPECT_EQ(lines_starting("text "),
              (std::vector<std::string>{"text 250 40 WENDLE", "text 349 86 for",
                                        "text -2 104 Windows", "text 200 164 Running Setup program",
                                        "text 383 188 Please wait a moment."}));
    EXPECT_EQ(lines_starting("select brush").at(150), "select brush 800000"); // row 300 of 600
    EXPECT_EQ(lines_starting("select brush").at(299), "select brush ff0000"); // row 598: 255
    const std::vector<std::string> fonts = lines_starting("select font");
    ASSERT_EQ(fonts.size(), 2u);
    EXPECT_EQ(fonts[0],
              "select font Times New Roman h120 w40 e0 o0 wt100 i1 u0 s0 c0 op0 cp0 q2 pf18");
    EXPECT_EQ(fonts[1],
              "select font Times New Roman h40 w20 e0 o0 wt100 i0 u0 s0 c0 op0 cp0 q2 pf18");
    EXPECT_EQ(lines_starting("color "), (std::vector<std::string>{"color ffffff", "color 00ffff"}));
    EXPECT_EQ(lines_starting("transparent").size(), 1u);
    EXPECT_EQ(lines_starting("delete font").size(), 2u);
}

TEST_F(Painting, KoreanLinesWithTheSameRules) {
    g_ui_language = UI_KOREAN;
    paint_splash(POSIX_WINDOW);
    const std::vector<std::string> texts = lines_starting("text ");
    ASSERT_EQ(texts.size(), 5u);
    EXPECT_NE(texts[0].find("Wendle"), std::string::npos);
    EXPECT_NE(texts[3].find(BANNER_TEXTS[UI_KOREAN].notes[0]), std::string::npos);
    // Measured in bytes: 20 bytes at 10 pixels each, centred on 640.
    EXPECT_EQ(texts[3].substr(0, 9), "text 220 ");
    for (const std::string& font : lines_starting("select font")) // still character set 0
        EXPECT_NE(font.find(" c0 "), std::string::npos);
}

} // namespace
