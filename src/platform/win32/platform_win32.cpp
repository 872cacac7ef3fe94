// The operating-system services on Windows, each through the call the
// installer has always used for it.
#include <windows.h>

#include <cstdarg>
#include <cstring>

#include "platform/platform.h"
#include "platform/win32/command_line_win32.h"

FileHandle file_open_for_reading(const char* path) {
    return _lopen(path, OF_READ);
}

FileHandle file_create(const char* path) {
    return _lcreat(path, 0);
}

uint32_t file_read(FileHandle file, void* buffer, uint32_t size) {
    return _lread(file, buffer, size);
}

uint32_t file_write(FileHandle file, const void* buffer, uint32_t size) {
    return _lwrite(file, static_cast<LPCCH>(buffer), size);
}

int32_t file_seek(FileHandle file, int32_t distance, int origin) {
    return _llseek(file, distance, origin);
}

void file_close(FileHandle file) {
    _lclose(file);
}

bool file_is_same(FileHandle a, FileHandle b) {
    // A handle-based file is a system file handle under its integer form.
    BY_HANDLE_FILE_INFORMATION ia, ib;
    if (!GetFileInformationByHandle(LongToHandle(a), &ia) ||
        !GetFileInformationByHandle(LongToHandle(b), &ib))
        return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

bool folder_get_current(char* buffer, uint32_t size) {
    const DWORD n = GetCurrentDirectoryA(size, buffer);
    return n != 0 && n < size;
}

bool folder_set_current(const char* path) {
    return SetCurrentDirectoryA(path) != 0;
}

bool folder_create(const char* path) {
    return CreateDirectoryA(path, nullptr) != 0;
}

bool folder_remove(const char* path) {
    return RemoveDirectoryA(path) != 0;
}

bool file_delete(const char* path) {
    return DeleteFileA(path) != 0;
}

bool path_is_link(const char* path) {
    // Windows 95 and NT 4.0 know no reparse points and never set the bit.
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

namespace {
bool copy_name(const WIN32_FIND_DATAA& found, char* name, uint32_t size, bool* is_folder) {
    const size_t n = strlen(found.cFileName);
    if (n + 1 > size) return false;
    memcpy(name, found.cFileName, n + 1);
    *is_folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
}
} // namespace

FolderListing listing_start(const char* pattern, char* name, uint32_t size, bool* is_folder) {
    WIN32_FIND_DATAA found;
    const HANDLE listing = FindFirstFileA(pattern, &found);
    if (listing == INVALID_HANDLE_VALUE) return NO_LISTING;
    if (!copy_name(found, name, size, is_folder) && !listing_next(listing, name, size, is_folder)) {
        FindClose(listing);
        return NO_LISTING;
    }
    return listing;
}

bool listing_next(FolderListing listing, char* name, uint32_t size, bool* is_folder) {
    WIN32_FIND_DATAA found;
    while (FindNextFileA(listing, &found))
        if (copy_name(found, name, size, is_folder)) return true;
    return false;
}

void listing_end(FolderListing listing) {
    FindClose(listing);
}

void system_get_version(WindowsVersion* version) {
    OSVERSIONINFOA info;
    memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info; // 148
    GetVersionExA(&info);
    version->major = info.dwMajorVersion;
    version->minor = info.dwMinorVersion;
    version->platform_id = info.dwPlatformId;
    memcpy(version->service_pack, info.szCSDVersion, sizeof version->service_pack);
}

void system_get_temp_path(char* buffer, uint32_t size) {
    const DWORD n = GetTempPathA(size, buffer);
    if (n == 0 || n >= size) buffer[0] = '\0'; // did not fit: nothing
}

bool program_get_module_path(char* buffer, uint32_t size) {
    const DWORD n = GetModuleFileNameA(nullptr, buffer, size);
    return n != 0 && n < size;
}

namespace {
// The program's own path as remember_own_path found it; empty when it did
// not fit.
char g_own_path[MAX_PATH];
} // namespace

void remember_own_path() {
    // The program's name as the runtime start-up would give it in element 0
    // of the argument vector; the module's name when the command line has none.
    const CommandLineHead head = split_command_line(GetCommandLineA());
    if (head.name_length == 0) {
        if (!program_get_module_path(g_own_path, sizeof g_own_path)) g_own_path[0] = '\0';
        return;
    }
    char name[MAX_PATH];
    if (head.name_length + 1 > sizeof name) return;
    memcpy(name, head.name, head.name_length);
    name[head.name_length] = '\0';
    if (!own_path_is_relative(name, text_is_lead_byte)) {
        memcpy(g_own_path, name, head.name_length + 1);
        return;
    }
    // Relative to the folder current now, before anything changes it.
    const DWORD n = GetFullPathNameA(name, sizeof g_own_path, g_own_path, nullptr);
    if (n == 0 || n >= sizeof g_own_path) g_own_path[0] = '\0';
}

bool program_get_own_path(char* buffer, uint32_t size) {
    const size_t n = strlen(g_own_path);
    if (n == 0 || n + 1 > size) return false;
    memcpy(buffer, g_own_path, n + 1);
    return true;
}

bool text_is_lead_byte(uint8_t byte) {
    return IsDBCSLeadByte(byte) != 0;
}

uint32_t system_time_seconds() {
    SYSTEMTIME utc;
    GetSystemTime(&utc);
    const CalendarTime now = {utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute, utc.wSecond};
    return uint32_t(unix_from_calendar(now));
}

int text_format(char* buffer, uint32_t size, const char* format, ...) {
    // wvsprintfA writes at most 1024 bytes and knows no buffer size, so the
    // text is made in a buffer of that size and copied only when it fits.
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    const int n = wvsprintfA(text, format, arguments);
    va_end(arguments);
    if (n < 0 || uint32_t(n) + 1 > size || n >= int(sizeof text) - 1) {
        if (size > 0) buffer[0] = '\0';
        return -1;
    }
    memcpy(buffer, text, size_t(n) + 1);
    return n;
}

void system_pause(uint32_t milliseconds) {
    Sleep(milliseconds);
}

uint32_t program_start(const char* command_line) {
    return WinExec(command_line, SW_SHOW);
}

int show_message_box(WindowHandle owner, const char* text, const char* caption, uint32_t style) {
    return MessageBoxA(static_cast<HWND>(owner), text, caption, style);
}

void window_hide(WindowHandle window) {
    ShowWindow(static_cast<HWND>(window), SW_HIDE);
}

PendingMessage take_pending_message() {
    MSG message;
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return PendingMessage::NONE;
    if (message.message == WM_QUIT) return PendingMessage::QUIT;
    TranslateMessage(&message);
    DispatchMessageA(&message);
    return PendingMessage::HANDLED;
}

uint32_t system_oem_code_page() {
    return GetOEMCP();
}

uint32_t profile_read(const char* section, const char* key, char* buffer, uint32_t size) {
    return GetProfileStringA(section, key, "", buffer, size);
}

bool profile_write(const char* section, const char* key, const char* value) {
    return WriteProfileStringA(section, key, value) != 0;
}

void session_end(uint32_t flags, uint32_t reserved) {
    ExitWindowsEx(flags, reserved);
}

ScreenSize system_screen_size() {
    return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

namespace {
WindowProcedure g_window_procedure = nullptr;

// The system calls window procedures with its own types and convention.
LRESULT CALLBACK window_procedure_entry(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return g_window_procedure(window, message, wparam, lparam);
}

PAINTSTRUCT g_paint; // one painting at a time, on the one thread
} // namespace

bool window_register_class(ProgramInstance instance, const char* class_name,
                           WindowProcedure procedure, const char* icon_name) {
    g_window_procedure = procedure;
    WNDCLASSA wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = window_procedure_entry;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = static_cast<HINSTANCE>(instance);
    wc.hIcon = LoadIconA(static_cast<HINSTANCE>(instance), icon_name);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = nullptr;
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = class_name;
    return RegisterClassA(&wc) != 0;
}

WindowHandle window_create_popup(ProgramInstance instance, const char* class_name,
                                 const char* title, int32_t width, int32_t height) {
    return CreateWindowExA(0, class_name, title, WS_POPUP | WS_CLIPCHILDREN, 0, 0, width, height,
                           nullptr, nullptr, static_cast<HINSTANCE>(instance), nullptr);
}

void window_show(WindowHandle window) {
    ShowWindow(static_cast<HWND>(window), SW_SHOW);
}

void window_update(WindowHandle window) {
    UpdateWindow(static_cast<HWND>(window));
}

bool window_post_message(WindowHandle window, uint32_t message) {
    return PostMessageA(static_cast<HWND>(window), message, 0, 0) != 0;
}

void window_destroy(WindowHandle window) {
    DestroyWindow(static_cast<HWND>(window));
}

void message_post_quit(int exit_code) {
    PostQuitMessage(exit_code);
}

intptr_t window_default_procedure(WindowHandle window, uint32_t message, uintptr_t wparam,
                                  intptr_t lparam) {
    return DefWindowProcA(static_cast<HWND>(window), message, wparam, lparam);
}

void run_message_loop() {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

DrawingContext paint_begin(WindowHandle window, PaintArea* area) {
    const HDC context = BeginPaint(static_cast<HWND>(window), &g_paint);
    *area = {g_paint.rcPaint.left, g_paint.rcPaint.top, g_paint.rcPaint.right,
             g_paint.rcPaint.bottom};
    return context;
}

void paint_end(WindowHandle window) {
    EndPaint(static_cast<HWND>(window), &g_paint);
}

DrawingObject pen_create_null() {
    return CreatePen(PS_NULL, 1, 0);
}

DrawingObject brush_create_solid(uint32_t color) {
    return CreateSolidBrush(color);
}

DrawingObject font_create(const FontDescription& f) {
    LOGFONTA lf;
    lf.lfHeight = f.height;
    lf.lfWidth = f.width;
    lf.lfEscapement = f.escapement;
    lf.lfOrientation = f.orientation;
    lf.lfWeight = f.weight;
    lf.lfItalic = f.italic;
    lf.lfUnderline = f.underline;
    lf.lfStrikeOut = f.strike_out;
    lf.lfCharSet = f.char_set;
    lf.lfOutPrecision = f.out_precision;
    lf.lfClipPrecision = f.clip_precision;
    lf.lfQuality = f.quality;
    lf.lfPitchAndFamily = f.pitch_and_family;
    memcpy(lf.lfFaceName, f.face_name, sizeof lf.lfFaceName);
    return CreateFontIndirectA(&lf);
}

DrawingObject object_select(DrawingContext context, DrawingObject object) {
    return SelectObject(static_cast<HDC>(context), static_cast<HGDIOBJ>(object));
}

void object_delete(DrawingObject object) {
    DeleteObject(static_cast<HGDIOBJ>(object));
}

void draw_rectangle(DrawingContext context, int32_t left, int32_t top, int32_t right,
                    int32_t bottom) {
    Rectangle(static_cast<HDC>(context), left, top, right, bottom);
}

void text_set_color(DrawingContext context, uint32_t color) {
    SetTextColor(static_cast<HDC>(context), color);
}

void text_set_transparent(DrawingContext context) {
    SetBkMode(static_cast<HDC>(context), TRANSPARENT);
}

TextExtent text_measure(DrawingContext context, const char* text, int length) {
    SIZE size = {0, 0};
    GetTextExtentPoint32A(static_cast<HDC>(context), text, length, &size);
    return {size.cx, size.cy};
}

void text_draw(DrawingContext context, int32_t x, int32_t y, const char* text, int length) {
    TextOutA(static_cast<HDC>(context), x, y, text, length);
}
