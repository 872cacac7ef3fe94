// A demonstration setup program for the medium the main job builds. It shows
// what the setup starter handed it, writes the same to %TEMP%\W_SETUP_DEMO.TXT,
// and after a few seconds sends the close request to the starter's window.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string g_text;
HWND g_starter = nullptr;

std::string describe() {
    std::string out = "W_SETUP.EXE received:\r\n  ";
    out += GetCommandLineA();
    out += "\r\n";
    if (__argc >= 4) {
        const long token = strtol(__argv[1], nullptr, 10);
        int digits = int(token / 1000), sum = 0;
        for (int i = 0; i < 4; ++i, digits /= 10) sum += 5 * (digits % 10) / 3;
        char line[600];
        snprintf(line, sizeof line,
                 "launch token %ld: digits %04ld, check sum %ld (%s)\r\nstarter window %s\r\n"
                 "starter path %s\r\n",
                 token, token / 1000, token % 1000, sum == token % 1000 ? "valid" : "INVALID",
                 __argv[2], __argv[3]);
        out += line;
        g_starter = reinterpret_cast<HWND>(uintptr_t(strtoul(__argv[2], nullptr, 10)));
    }
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(sizeof cwd, cwd);
    out += std::string("current folder ") + cwd + "\r\n";
    return out;
}

LRESULT CALLBACK demo_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        RECT r;
        GetClientRect(window, &r);
        InflateRect(&r, -10, -10);
        DrawTextA(dc, g_text.c_str(), -1, &r, DT_LEFT | DT_WORDBREAK);
        EndPaint(window, &ps);
        return 0;
    }
    case WM_TIMER:
        if (g_starter) PostMessageA(g_starter, WM_CLOSE, 0, 0);
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    g_text = describe();
    char path[MAX_PATH];
    GetTempPathA(sizeof path, path);
    strcat(path, "W_SETUP_DEMO.TXT");
    if (FILE* f = fopen(path, "wb")) {
        fputs(g_text.c_str(), f);
        fclose(f);
    }
    WNDCLASSA wc = {};
    wc.lpfnWndProc = demo_proc;
    wc.hInstance = instance;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = "W_SETUP_DEMO";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, "W_SETUP_DEMO", "Wendle Setup (demonstration)",
                                  WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE, 40, 120, 560, 220,
                                  nullptr, nullptr, instance, nullptr);
    SetTimer(window, 1, 3000, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
