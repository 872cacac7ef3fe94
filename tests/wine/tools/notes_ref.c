/*
 * notes_ref - draws the two note lines of the splash on their own, laid out
 * the way the splash lays them out, so a test can compare the note lines of
 * a splash screenshot with this rendering of the texts it expects.
 *
 *   notes_ref STOPFILE SECONDS TITLE2 NOTE0 NOTE1
 *
 * A full-screen pop-up window titled "Notes Reference", black, with NOTE0
 * and NOTE1 in yellow (255,255,0) on a transparent background, in the note
 * font (Times New Roman, height 40, width 20, weight 100, character set 0,
 * proof quality, variable pitch roman), each centred across the screen,
 * note j at y = base + j * (its measured height), with
 * base = 80 + 3 * (h2 - 22) and h2 the height TITLE2 measures in the title
 * font (the same, height 120, width 40, italic). The texts are bytes of the
 * ANSI code page; \xNN escapes give raw bytes.
 *
 * Exits 0 when STOPFILE exists, 2 after SECONDS; 3 for bad arguments.
 */
#define WIN32_LEAN_AND_MEAN
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "unescape.h"

static char g_title2[512], g_notes[2][512];
static const char* g_stop;

static HFONT make_font(int height, int width, int italic) {
    LOGFONTA lf;
    memset(&lf, 0, sizeof lf);
    lf.lfHeight = height;
    lf.lfWidth = width;
    lf.lfWeight = 100;
    lf.lfItalic = (BYTE)italic;
    lf.lfCharSet = 0;
    lf.lfQuality = 2;
    lf.lfPitchAndFamily = 0x12;
    strcpy(lf.lfFaceName, "Times New Roman");
    return CreateFontIndirectA(&lf);
}

static void paint(HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT all;
    SIZE size;
    HFONT font, old;
    int j, base, y, screen_width = GetSystemMetrics(SM_CXSCREEN);

    GetClientRect(window, &all);
    FillRect(dc, &all, (HBRUSH)GetStockObject(BLACK_BRUSH));
    SetBkMode(dc, TRANSPARENT);

    font = make_font(120, 40, 1);
    old = (HFONT)SelectObject(dc, font);
    GetTextExtentPoint32A(dc, g_title2, (int)strlen(g_title2), &size);
    base = 80 + 3 * (size.cy - 22);
    SelectObject(dc, old);
    DeleteObject(font);

    font = make_font(40, 20, 0);
    old = (HFONT)SelectObject(dc, font);
    SetTextColor(dc, RGB(255, 255, 0));
    for (j = 0; j < 2; j++) {
        const int n = (int)strlen(g_notes[j]);
        GetTextExtentPoint32A(dc, g_notes[j], n, &size);
        y = base + j * size.cy;
        TextOutA(dc, (screen_width - size.cx) / 2, y, g_notes[j], n);
    }
    SelectObject(dc, old);
    DeleteObject(font);
    EndPaint(window, &ps);
}

static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_PAINT:
        paint(window);
        return 0;
    case WM_TIMER:
        if (GetFileAttributesA(g_stop) != INVALID_FILE_ATTRIBUTES) PostQuitMessage(0);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

int main(int argc, char** argv) {
    WNDCLASSA wc;
    HWND window;
    MSG msg;
    DWORD limit;

    if (argc != 6) return 3;
    g_stop = argv[1];
    limit = GetTickCount() + (DWORD)atoi(argv[2]) * 1000;
    unescape(g_title2, sizeof g_title2, argv[3]);
    unescape(g_notes[0], sizeof g_notes[0], argv[4]);
    unescape(g_notes[1], sizeof g_notes[1], argv[5]);

    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = procedure;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    wc.lpszClassName = "NOTES_REFERENCE";
    if (!RegisterClassA(&wc)) return 3;
    window = CreateWindowExA(0, wc.lpszClassName, "Notes Reference", WS_POPUP, 0, 0,
                             GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), NULL,
                             NULL, wc.hInstance, NULL);
    if (!window) return 3;
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    SetTimer(window, 1, 50, NULL);
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        if ((LONG)(GetTickCount() - limit) >= 0) return 2;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
