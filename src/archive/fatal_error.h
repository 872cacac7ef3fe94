// The fatal-error exit of the unpack.
//
// fatal_error shows its text in a box captioned "Fatal Error", closes the
// archive and member streams, and leaves the unpack for good: it throws
// FatalUnpackExit, which only the caller that armed g_fatal_jump catches.
// No code of the unpack runs after it.
#pragma once

#include <cstdio>

constexpr const char* TEXT_FILE_ERROR = "File error !!";
constexpr const char* TEXT_CANT_WRITE = "Can't write !! Disk error !!";
constexpr const char* TEXT_FILE_NOT_FOUND = "File not found !!";
constexpr const char* CAPTION_FATAL_ERROR = "Fatal Error";

// The resumption point of fatal_error: armed (nonzero) while a caller that
// catches FatalUnpackExit is running the unpack.
struct FatalJump {
    int armed;
};

// Thrown by fatal_error; carries the text that was shown.
struct FatalUnpackExit {
    const char* text;
};

extern FatalJump g_fatal_jump;
extern FILE* g_archive_stream; // the archive copy, null when not open
extern FILE* g_output_stream;  // the member being written, null when not open

// Whether fatal_error shows its box. Host tools that report faults their own
// way (the wpk tool) turn it off; the installer never does.
extern bool g_fatal_error_shows_box;

// Arms g_fatal_jump for the lifetime of the object.
class FatalJumpScope {
  public:
    FatalJumpScope() { ++g_fatal_jump.armed; }
    ~FatalJumpScope() { --g_fatal_jump.armed; }
    FatalJumpScope(const FatalJumpScope&) = delete;
    FatalJumpScope& operator=(const FatalJumpScope&) = delete;
};

// Never returns. Aborts the process if nothing has armed g_fatal_jump, since
// there would be nowhere safe to resume.
[[noreturn]] void fatal_error(const char* text);
