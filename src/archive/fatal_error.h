// The fatal-error exit of the unpack.
//
// fatal_error shows its text in a box captioned "Fatal Error", closes the
// archive and member streams, and leaves the unpack for good: it resumes the
// function that saved g_fatal_jump, the one that runs the unpack. No code of
// the unpack runs after it. The jump needs no runtime support (no C++
// exceptions, no runtime library's setjmp), so the Windows program links
// without either.
//
// A caller arms the exit like this, in the function that stays on the stack
// while the unpack runs:
//
//     FatalJumpScope armed;
//     if (FATAL_JUMP_SAVE()) {
//         ... fatal_error came back here; g_fatal_jump.text says why ...
//     } else {
//         ... run the unpack ...
//     }
//
// The point is saved and resumed within one call of the caller, so on Windows
// the jump never crosses a frame of the system's (a window procedure's caller).
// Nor does it need to unwind the system's chain of exception handlers: the
// compiler's code registers none, and the runtime and system calls that do
// have returned before fatal_error jumps.
#pragma once

#include "platform/platform.h"

constexpr const char* TEXT_FILE_ERROR = "File error !!";
constexpr const char* TEXT_CANT_WRITE = "Can't write !! Disk error !!";
constexpr const char* TEXT_FILE_NOT_FOUND = "File not found !!";
constexpr const char* CAPTION_FATAL_ERROR = "Fatal Error";

// The resumption point of fatal_error.
struct FatalJump {
    void* context[5]; // the compiler's jump buffer: frame, resumption address, stack
    int armed;        // nonzero while a caller's context is saved and its frame is live
    const char* text; // the text of the last fatal error, null before one
};

extern FatalJump g_fatal_jump;
extern Stream* g_archive_stream; // the archive copy, null when not open
extern Stream* g_output_stream;  // the member being written, null when not open

// Whether fatal_error shows its box. Host tools that report faults their own
// way (the wpk tool) turn it off; the installer never does.
extern bool g_fatal_error_shows_box;

// Saves the resumption point in the calling function's frame: 0 now, 1 when
// fatal_error resumes there. A macro because the point must lie in the
// caller's own frame; only under a live FatalJumpScope of that same function.
#define FATAL_JUMP_SAVE() __builtin_setjmp(g_fatal_jump.context)

// Marks g_fatal_jump armed for the lifetime of the object, and puts back
// whatever was armed before when it ends (an enclosing caller's point).
class FatalJumpScope {
  public:
    FatalJumpScope() : outer_(g_fatal_jump) {
        g_fatal_jump.armed = 1;
        g_fatal_jump.text = nullptr;
    }
    ~FatalJumpScope() { g_fatal_jump = outer_; }
    FatalJumpScope(const FatalJumpScope&) = delete;
    FatalJumpScope& operator=(const FatalJumpScope&) = delete;

  private:
    FatalJump outer_;
};

// Never returns. Aborts the process if nothing has armed g_fatal_jump, since
// there would be nowhere safe to resume.
[[noreturn]] void fatal_error(const char* text);
