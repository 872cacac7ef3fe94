// Work folder cleanup: the unpacked files deleted (retrying files still in
// use) and the work subfolder removed.
#pragma once

constexpr int DELETE_ATTEMPTS = 10;
constexpr unsigned DELETE_RETRY_PAUSE_MS = 300;

// Hands every pending message of the thread to its window procedure without
// waiting. Returns 1 when it met (and dropped) the quit message, 0 when the
// queue ran empty.
int pump_pending_messages();

// Deletes the files of the current folder, the work subfolder, each retried
// while it is in use as above. Folders (and links to them) are skipped at
// once; so are names that begin with a full stop, and the running program
// and the archive beside it (both there when the program was started from
// the work subfolder). Run before the unpack too, so that the setup program
// starts beside nothing but what the archive brought.
void delete_work_files();

// Deletes every file of the work subfolder under g_work_path and removes the
// subfolder. Deletes nothing unless the work subfolder could be made current
// and is no link, and never the running program or the archive beside it (both there when
// the program was started from the work subfolder).
void clean_work_folder();
