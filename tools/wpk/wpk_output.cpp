#include "wpk_output.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#ifdef _WIN32
#include <io.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#endif

namespace fs = std::filesystem;

namespace {

// The registered temporaries, in fixed storage that a signal handler can
// read: a slot is used while `count` is not -1.
constexpr int TEMPORARY_SLOTS = 16;
constexpr size_t TEMPORARY_PATH = 4096;
struct TemporarySlot {
    volatile sig_atomic_t count = -1; // files 0 to count - 1 inside a folder; 0: a file
    char path[TEMPORARY_PATH];
};
TemporarySlot g_temporaries[TEMPORARY_SLOTS];

// The workers running, ended first by the handler so that none writes on
// into a scratch folder being removed.
constexpr int WORKER_SLOTS = 1024;
volatile sig_atomic_t g_workers[WORKER_SLOTS];
volatile sig_atomic_t g_worker_count = 0;

const int CLEANUP_SIGNALS[] = {
    SIGINT,
    SIGTERM,
#ifndef _WIN32
    SIGHUP,
    SIGPIPE,
#endif
};

// Only calls that are safe in a signal handler: unlink and rmdir over
// paths built in place.
void remove_slot(TemporarySlot& slot) {
    if (slot.count < 0) return;
    if (slot.count == 0) {
        unlink(slot.path);
    } else {
        char file[TEMPORARY_PATH + 16];
        const size_t length = strlen(slot.path);
        for (int i = 0; i < slot.count; ++i) {
            memcpy(file, slot.path, length);
            size_t at = length;
            file[at++] = '/';
            char digits[12];
            int n = 0;
            for (int v = i; n == 0 || v > 0; v /= 10) digits[n++] = char('0' + v % 10);
            while (n > 0) file[at++] = digits[--n];
            file[at] = '\0';
            unlink(file);
        }
        rmdir(slot.path);
    }
    slot.count = -1;
}

void on_signal(int signal_number) {
#ifndef _WIN32
    for (int i = 0; i < g_worker_count; ++i) {
        kill(pid_t(g_workers[i]), SIGKILL);
        waitpid(pid_t(g_workers[i]), nullptr, 0);
    }
#endif
    for (TemporarySlot& slot : g_temporaries) remove_slot(slot);
    ::signal(signal_number, SIG_DFL);
    raise(signal_number);
}

const char* kind_of(fs::file_type type) {
    switch (type) {
    case fs::file_type::directory:
        return "a folder";
    case fs::file_type::block:
    case fs::file_type::character:
        return "a device";
    case fs::file_type::fifo:
        return "a FIFO";
    case fs::file_type::socket:
        return "a socket";
    default:
        return "not a regular file";
    }
}

} // namespace

void register_temporary(const std::string& path, int count) {
    if (path.size() >= TEMPORARY_PATH) return;
    for (TemporarySlot& slot : g_temporaries) {
        if (slot.count >= 0) continue;
        memcpy(slot.path, path.c_str(), path.size() + 1);
        slot.count = count;
        return;
    }
}

void register_worker(int pid) {
    if (g_worker_count < WORKER_SLOTS) {
        g_workers[g_worker_count] = pid;
        g_worker_count = g_worker_count + 1;
    }
}

void forget_workers() {
    g_worker_count = 0;
}

void keep_temporary(const std::string& temporary) {
    for (TemporarySlot& slot : g_temporaries)
        if (slot.count >= 0 && temporary == slot.path) slot.count = -1;
}

void remove_temporary(const std::string& temporary) {
    for (TemporarySlot& slot : g_temporaries)
        if (slot.count >= 0 && temporary == slot.path) remove_slot(slot);
}

void remove_temporaries() {
    for (TemporarySlot& slot : g_temporaries) remove_slot(slot);
}

bool resolve_target(const std::string& path, std::string* resolved, std::string* error) {
    fs::path at = path;
    std::error_code ec;
    for (int hops = 0;; ++hops) {
        const fs::file_status link = fs::symlink_status(at, ec);
        if (ec || link.type() != fs::file_type::symlink) break;
        if (hops == 40) {
            *error = path + ": symbolic links go round";
            return false;
        }
        const fs::path to = fs::read_symlink(at, ec);
        if (ec) break;
        at = to.is_absolute() ? to : at.parent_path() / to;
    }
    const fs::file_status status = fs::status(at, ec);
    if (!ec && status.type() != fs::file_type::regular) {
        *error = path + (at.string() == path ? "" : " (" + at.string() + ")") + ": is " +
                 kind_of(status.type()) + ", not written";
        return false;
    }
    *resolved = at.string();
    return true;
}

FILE* create_temporary(const std::string& target, std::string* temporary, std::string* error) {
    const fs::path where = target;
    const fs::path folder = where.has_parent_path() ? where.parent_path() : fs::path(".");
    std::string name = (folder / ("." + where.filename().string() + ".XXXXXX")).string();
    const int fd = mkstemp(&name[0]);
    if (fd < 0) {
        *error = name + ": " + reason_of(errno);
        return nullptr;
    }
    register_temporary(name, 0);
    FILE* out = fdopen(fd, "wb");
    if (!out) {
        *error = name + ": " + reason_of(errno);
        close(fd);
        remove_temporary(name);
        return nullptr;
    }
#ifndef _WIN32
    // As a new file would be made: the umask's permissions, not mkstemp's 0600.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
#endif
    *temporary = name;
    return out;
}

void install_cleanup_handlers() {
    // SIGINT and SIGHUP ignored from the start (a background job of a
    // script, nohup) stay ignored, as the shell meant.
    for (int s : CLEANUP_SIGNALS)
        if (::signal(s, on_signal) == SIG_IGN && s != SIGTERM
#ifndef _WIN32
            && s != SIGPIPE
#endif
        )
            ::signal(s, SIG_IGN);
}

void become_worker() {
    for (int s : CLEANUP_SIGNALS) ::signal(s, SIG_DFL);
    for (TemporarySlot& slot : g_temporaries) slot.count = -1; // the parent's to remove
    g_worker_count = 0;
#ifdef __linux__
    const pid_t parent = getppid();
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(0); // the parent ended before the line above
#endif
}

FileIdentity identity_of(const std::string& path) {
    FileIdentity id;
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0) return id;
    id.device = uint64_t(st.st_dev);
    id.inode = uint64_t(st.st_ino);
    return id;
}

std::string reason_of(int error) {
    const std::string text = strerror(error);
    if (error == ENOSPC) return text + " (the disk is full)";
#ifdef EDQUOT
    if (error == EDQUOT) return text + " (the disk quota is used up)";
#endif
    return text;
}
