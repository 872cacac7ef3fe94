// Work folder preparation: the work path under the temporary folder, the
// work subfolder W80_INST made current, and the unpack into it.
#pragma once

#include <cstdint>

#include "archive/path_text.h"

constexpr const char* WORK_SUBFOLDER = "W80_INST";
constexpr uint32_t WORK_PATH_SIZE = 260;
constexpr uint32_t TEMP_PATH_LENGTH = 259; // offered to the system, terminator included

extern char g_work_path[WORK_PATH_SIZE]; // e.g. C:\WINDOWS\TEMP; empty when there is none
extern int32_t g_install_ready;          // 1 exactly when the unpack succeeded

// The work path of a temporary path: single-byte ASCII letters upper-cased,
// one trailing backslash removed; the double-byte characters that `is_lead`
// starts stay as they are. `work_path` holds WORK_PATH_SIZE bytes;
// `temp_path` is at most 258 characters.
void derive_work_path(const char* temp_path, char* work_path, LeadByteTest is_lead);

// Makes the folder g_work_path names current: for a work path that is a
// bare drive (D:, from a temporary folder at a drive's root) the root D:\,
// where the work subfolder and the setup command line place it.
bool enter_work_path();

// Derives g_work_path, makes its W80_INST subfolder current (never a link),
// deletes the files an earlier run left there and unpacks W_SETUP.WPK. Returns on every path, fatal
// errors included; afterwards g_install_ready says whether the unpack succeeded, and then the
// current folder is the work subfolder. Nothing is unpacked unless the work subfolder could be made
// current.
void prepare_and_unpack();
