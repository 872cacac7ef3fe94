// The operating-system services the bootstrapper uses, named in its own
// terms. win32/ implements them with the Windows calls. posix/ implements the
// services that the archive, install and pack layers use (files, folders, the
// system, message boxes as text) on the host for the wpk tool; the window and
// painting services exist only on Windows. The unit tests link a recording
// stand-in instead (tests/support).
//
// Paths are byte strings in Windows form: backslashes, an optional drive
// letter and colon.
#pragma once

#include <cstddef>
#include <cstdint>
#if !defined(_WIN32)
#include <cstdio>
#endif

#include "platform/calendar_time.h"

using WindowHandle = void*;
constexpr WindowHandle NO_OWNER = nullptr;

// ---- Handle-based files (the block copy of the archive) ----

using FileHandle = int32_t;
constexpr FileHandle FILE_HANDLE_ERROR = -1;
constexpr uint32_t FILE_IO_ERROR = 0xFFFFFFFF;
constexpr int FILE_FROM_START = 0;
constexpr int FILE_FROM_CURRENT = 1;
constexpr int FILE_FROM_END = 2;

// Opens an existing file for reading; FILE_HANDLE_ERROR on failure.
FileHandle file_open_for_reading(const char* path);
// Creates a file with normal attributes, truncating an existing one.
FileHandle file_create(const char* path);
// Reads up to `size` bytes; the count read (0 at the end), or FILE_IO_ERROR.
uint32_t file_read(FileHandle file, void* buffer, uint32_t size);
// Writes `size` bytes; the count written, or FILE_IO_ERROR.
uint32_t file_write(FileHandle file, const void* buffer, uint32_t size);
// Moves the file position; the new offset from the start, or -1.
int32_t file_seek(FileHandle file, int32_t distance, int origin);
void file_close(FileHandle file);
// True when both open handles refer to the same file on disk.
bool file_is_same(FileHandle a, FileHandle b);

// ---- Buffered streams (the archive copy and the member files) ----

// On Windows a stream is the program's own, on the system's file handles
// (the program links no C runtime); on a host it is the C library's.
#if defined(_WIN32)
struct Stream;
#else
using Stream = FILE;
#endif

// Opens a stream: "rb" an existing file for reading, "wb" a file created or
// truncated for writing. Null on failure.
Stream* stream_open(const char* path, const char* mode);
// Gives a reading stream `size` bytes at `buffer` as its buffer (full
// buffering), before the first read. The caller keeps the memory.
void stream_set_buffer(Stream* stream, char* buffer, uint32_t size);
// Reads up to `size` bytes; fewer only at the end of the file or on an error.
size_t stream_read(Stream* stream, void* buffer, size_t size);
// Writes `size` bytes; the count taken, fewer on an error.
size_t stream_write(Stream* stream, const void* buffer, size_t size);
// Moves to `offset` bytes from the start of the file. False on failure.
bool stream_seek(Stream* stream, uint32_t offset);
// Writes out what the stream holds. False when the file refused it.
bool stream_flush(Stream* stream);
// Flushes and closes the stream, releasing it. False when the flush failed.
bool stream_close(Stream* stream);
// Sets the creation time of the file under an open, flushed output stream.
// Returns the platform's success flag. On a platform that keeps no creation
// time, the modification time stands in for it.
bool stream_set_creation_time(Stream* stream, const CalendarTime& utc);

// ---- Folders ----

// Copies the current folder (with drive) into `buffer`; false when it does
// not fit in `size` bytes with its terminator.
bool folder_get_current(char* buffer, uint32_t size);
// Makes a folder current; "X:" selects drive X.
bool folder_set_current(const char* path);
bool folder_create(const char* path);
bool folder_remove(const char* path);
bool file_delete(const char* path);
// True when `path` names a link: a junction, a symbolic link or a mount
// point (on Windows a reparse point). Nothing is written or deleted through
// one inside the work folder. False for anything else, and when it does not
// exist.
bool path_is_link(const char* path);

// Lists the current folder: the first entry matching `pattern` ("*.*" for
// all, including "." and ".."), then the next ones. `is_folder` says whether
// the entry is a folder (a link to one included).
using FolderListing = void*;
constexpr FolderListing NO_LISTING = nullptr;
FolderListing listing_start(const char* pattern, char* name, uint32_t size, bool* is_folder);
bool listing_next(FolderListing listing, char* name, uint32_t size, bool* is_folder);
void listing_end(FolderListing listing);

// ---- The system ----

struct WindowsVersion {
    uint32_t major;
    uint32_t minor;
    uint32_t platform_id; // 0 Win32s, 1 the Windows 95 line, 2 NT
    char service_pack[128];
};
void system_get_version(WindowsVersion* version);

// Writes the temporary folder with its trailing backslash into `buffer` when
// it fits in `size` bytes with its terminator; otherwise writes nothing.
void system_get_temp_path(char* buffer, uint32_t size);

// The path the program was started by: the first token of its command line
// with surrounding quotes removed (the module's file name when the command
// line is empty). A relative path with a folder part (DISK1\WBOOT.EXE,
// .\WBOOT.EXE, \WBOOT.EXE) comes made absolute against the folder that was
// current when the program started; an absolute path and a bare name come
// as given. False when it does not fit.
bool program_get_own_path(char* buffer, uint32_t size);
// The full file name of the running module. False when it does not fit.
bool program_get_module_path(char* buffer, uint32_t size);
// The SHA-256 of its archive that the program file carries (the resource
// ARCHIVE_DIGEST, which wpk medium fills in before the program is signed),
// into `digest` (32 bytes). False when the program carries none: no such
// resource, or all zeros, as the build leaves it.
bool program_get_archive_digest(uint8_t* digest);

// True when `byte` starts a double-byte character in the system's ANSI code
// page (932, 936, 949 and 950 have them): the byte after it is the second
// half of the character, whatever its value, a backslash or a letter too.
bool text_is_lead_byte(uint8_t byte);

// Seconds since 1970-01-01 00:00 UTC.
uint32_t system_time_seconds();

void system_pause(uint32_t milliseconds);

// Formats text with the conversions %s, %d, %ld and %u into `buffer` of
// `size` bytes. Returns the length, or -1 (and an empty text) when it does
// not fit. On Windows the system's formatter does the work, which caps any
// text at 1023 characters.
int text_format(char* buffer, uint32_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Starts a program from the current folder with the given command line,
// shown normally. Returns the platform's result: above 31 means started.
uint32_t program_start(const char* command_line);

// ---- User interface ----

constexpr uint32_t BOX_OK = 0x00;
constexpr uint32_t BOX_YES_NO = 0x04;
constexpr uint32_t BOX_ICON_QUESTION = 0x20;
constexpr uint32_t BOX_ICON_INFORMATION = 0x40;
constexpr int ANSWER_OK = 1;
constexpr int ANSWER_YES = 6;
constexpr int ANSWER_NO = 7;

// Shows a modal message box and waits for the answer.
int show_message_box(WindowHandle owner, const char* text, const char* caption, uint32_t style);

void window_hide(WindowHandle window);

enum class PendingMessage { NONE, QUIT, HANDLED };
// Takes the next pending message of the thread off its queue without waiting:
// NONE when there is none, QUIT (dropped) for the quit message, otherwise
// hands it to its window procedure and says HANDLED.
PendingMessage take_pending_message();

// ---- The shell: system profile, logon, the splash window ----

uint32_t system_oem_code_page();

// Reads a key of a section of the system profile into `buffer` (at most
// `size` - 1 characters); the number of characters copied, 0 when the key
// is absent or empty.
uint32_t profile_read(const char* section, const char* key, char* buffer, uint32_t size);
// False when the system refused the write (on NT the section is the
// machine's, which a standard user may not change).
bool profile_write(const char* section, const char* key, const char* value);

// Asks the system to end the user's session as `flags` say; the request's
// outcome is not reported.
constexpr uint32_t SESSION_LOGOFF = 0x00; // log the interactive user off
constexpr uint32_t SESSION_RESERVED = 0xFFFFFFFF;
void session_end(uint32_t flags, uint32_t reserved);

struct ScreenSize {
    int32_t width;
    int32_t height;
};
ScreenSize system_screen_size();

using ProgramInstance = void*;
using WindowProcedure = intptr_t (*)(WindowHandle window, uint32_t message, uintptr_t wparam,
                                     intptr_t lparam);

// Registers the window class of the splash: redrawn on resize, no
// background brush, the program's icon resource and the arrow cursor.
bool window_register_class(ProgramInstance instance, const char* class_name,
                           WindowProcedure procedure, const char* icon_name);
// Creates a pop-up window without caption or border, not yet visible.
WindowHandle window_create_popup(ProgramInstance instance, const char* class_name,
                                 const char* title, int32_t width, int32_t height);
void window_show(WindowHandle window);
// Paints the window at once if it needs painting.
void window_update(WindowHandle window);
bool window_post_message(WindowHandle window, uint32_t message);
void window_destroy(WindowHandle window);
void message_post_quit(int exit_code);
intptr_t window_default_procedure(WindowHandle window, uint32_t message, uintptr_t wparam,
                                  intptr_t lparam);
// Waits for and dispatches messages until the quit message arrives.
void run_message_loop();

// ---- Painting ----

using DrawingContext = void*;
using DrawingObject = void*;

struct PaintArea {
    int32_t left, top, right, bottom; // right and bottom exclusive
};

// Starts painting the part of the window that needs it.
DrawingContext paint_begin(WindowHandle window, PaintArea* area);
void paint_end(WindowHandle window);

constexpr uint32_t rgb(uint32_t red, uint32_t green, uint32_t blue) {
    return red | green << 8 | blue << 16;
}

struct FontDescription {
    int32_t height;
    int32_t width;
    int32_t escapement;
    int32_t orientation;
    int32_t weight;
    uint8_t italic;
    uint8_t underline;
    uint8_t strike_out;
    uint8_t char_set;
    uint8_t out_precision;
    uint8_t clip_precision;
    uint8_t quality;
    uint8_t pitch_and_family;
    char face_name[32];
};

DrawingObject pen_create_null();
DrawingObject brush_create_solid(uint32_t color);
DrawingObject font_create(const FontDescription& font);
// Selects an object into the context; returns the one it replaces.
DrawingObject object_select(DrawingContext context, DrawingObject object);
void object_delete(DrawingObject object);
// Draws a rectangle with the selected pen and brush.
void draw_rectangle(DrawingContext context, int32_t left, int32_t top, int32_t right,
                    int32_t bottom);
void text_set_color(DrawingContext context, uint32_t color);
void text_set_transparent(DrawingContext context);

struct TextExtent {
    int32_t width;
    int32_t height;
};
TextExtent text_measure(DrawingContext context, const char* text, int length);
void text_draw(DrawingContext context, int32_t x, int32_t y, const char* text, int length);
