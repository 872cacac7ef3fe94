// Work folder cleanup: the unpacked files deleted (retrying files still in
// use) and the work subfolder removed.
#pragma once

constexpr int DELETE_ATTEMPTS = 10;
constexpr unsigned DELETE_RETRY_PAUSE_MS = 300;

// Hands every pending message of the thread to its window procedure without
// waiting. Returns 1 when it met (and dropped) the quit message, 0 when the
// queue ran empty.
int pump_pending_messages();

// Deletes every file of the work subfolder under g_work_path and removes the
// subfolder. Deletes nothing unless the work subfolder could be made current,
// and never the running program or the archive beside it (both there when
// the program was started from the work subfolder).
void clean_work_folder();
