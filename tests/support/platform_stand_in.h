// The recording stand-in of the platform that the unit tests and the unpack
// fuzz target link in place of the real one; it behaves as the program
// expects the Windows calls to behave. Its controls: what the Windows
// side would get from the system (version, temporary path, drives, answers to
// message boxes) is set here, and what the program asked of the system
// (boxes shown, programs started, pauses) is recorded here.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

struct RecordedBox {
    WindowHandle owner;
    std::string text;
    std::string caption;
    uint32_t style;
};

struct PosixPlatform {
    // Drive letters and the host folders that stand for their roots; a
    // Windows path "X:\A\B" is the host path root(X) + "/A/B". Drive C is the
    // host root unless a test maps it elsewhere.
    std::string drive_roots[26];

    std::vector<RecordedBox> boxes;
    std::vector<int> box_answers; // answers for the next boxes, in order
    bool boxes_to_stderr = true;

    WindowsVersion version{10, 0, 2, ""};
    bool has_temp_path = true;
    std::string temp_path = "C:\\TMP\\";
    std::string own_path = "WBOOT.EXE";
    // The lead bytes of the ANSI code page's double-byte characters (none:
    // a single-byte code page).
    std::string lead_bytes;
    std::string module_path = "C:\\WBOOT.EXE";
    std::vector<uint8_t> archive_digest; // 32 bytes: the program is bound to its archive
    uint32_t time_seconds = 0;           // 0: the real clock

    std::vector<uint32_t> pauses;
    bool real_pauses = true;

    std::vector<std::string> started;
    uint32_t start_result = 33;
    std::function<void(const std::string&)> on_start;

    std::vector<WindowHandle> hidden;

    // A file that is "in use": its deletion fails this many more times.
    std::string held_file;
    int held_attempts = 0;
    std::vector<std::string> delete_attempts;
    std::vector<std::string> folder_removals; // every path a folder removal was asked for

    // Pending window messages: a null function stands for the quit message.
    std::vector<std::function<void()>> messages;
    int messages_handled = 0;

    // Handle-based writes fail after this many more bytes (negative: never);
    // reads come up short the same way.
    int64_t write_budget = -1;
    int64_t read_budget = -1;

    // The shell's side of the system.
    uint32_t oem_code_page = 437;
    std::map<std::string, std::string> profile;              // "section/key" -> value
    bool profile_read_only = false;                          // every write refused
    std::vector<std::string> profile_writes;                 // "section/key=value"
    std::vector<std::pair<uint32_t, uint32_t>> session_ends; // flags and reserved value
    ScreenSize screen{640, 480};
    bool register_fails = false;
    bool create_fails = false;
    WindowProcedure procedure = nullptr;
    std::string class_name;
    std::string icon_name;
    std::vector<std::string>
        window_events; // "create", "show", "update", "destroy", "quit 0", "default 20"

    // Painting: the area BeginPaint reports, every drawing call in order, and
    // the extent a text measures (by default 10 pixels a byte, font height).
    PaintArea paint_area{0, 0, 640, 480};
    std::vector<std::string> drawing;
    std::function<TextExtent(const std::string& text, int font_height)> measure;
};

extern PosixPlatform g_posix;

// The one window the stand-in creates.
inline WindowHandle const POSIX_WINDOW = reinterpret_cast<WindowHandle>(uintptr_t(0x1234));

// Back to the defaults, with drive C mapped to `drive_c` (empty: host root).
void posix_reset(const std::string& drive_c = "");

// The host path that a Windows-form path names.
std::string posix_host_path(const char* path);
