// What wpk writes: the target of a command checked before any work, and the
// temporary files it writes first, each under a unique name beside its
// target, removed on every failure and when the run is interrupted (SIGINT,
// SIGTERM, SIGHUP, a closed pipe), so that nothing but the target is ever
// replaced or deleted.
#pragma once

#include <cstdint>
#include <string>

// Where a target path is written: the path itself, or where it points when
// it is a symbolic link (followed as far as it goes, so a dangling link's
// final name is made). False with `error` set when that is a folder, a
// device, a FIFO or a socket, or the links go round.
bool resolve_target(const std::string& path, std::string* resolved, std::string* error);

// A new temporary file beside `target` (".NAME.XXXXXX" in its folder),
// open for writing and registered for removal; null with `error` set.
FILE* create_temporary(const std::string& target, std::string* temporary, std::string* error);
// A registered temporary is left alone once renamed into place...
void keep_temporary(const std::string& temporary);
// ...or removed now.
void remove_temporary(const std::string& temporary);
// A temporary made by other means (a folder holding files named 0 to
// count - 1, or a file when count is 0), removed like the others.
void register_temporary(const std::string& path, int count);
// Removes every registered temporary; main calls it when a command returns.
void remove_temporaries();

// Installs the handlers that remove the temporaries when the run is
// interrupted, then end it by the same signal.
void install_cleanup_handlers();
// A worker process started, which an interrupted run ends before removing
// its temporaries; forgotten once they have all been waited for.
void register_worker(int pid);
void forget_workers();
// In a worker process: the default handlers again, and the worker ends when
// its parent does.
void become_worker();

// The identity of a file (device and inode), to leave the outputs out of the
// trees being packed; all zero when it does not exist.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const FileIdentity& o) const {
        return device == o.device && inode == o.inode && inode != 0;
    }
};
FileIdentity identity_of(const std::string& path);

// "No space left on device (the disk is full)" and the like: strerror, with
// a word more where the reason is the disk's.
std::string reason_of(int error);
