// The operating-system services on a POSIX host, for the host tools. Paths
// arrive in Windows form: backslashes become slashes; a host has no drive
// letters, so a path that names one is refused. Message boxes are written as
// text to stderr. Windows and painting are not provided here: no host tool
// shows a window.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/platform.h"

extern char** environ;

namespace {

// The host path of a Windows-form path; empty when it names a drive.
std::string host_path(const char* path) {
    if (std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') return "";
    std::string s(path);
    for (char& c : s)
        if (c == '\\') c = '/';
    return s;
}

bool copy_out(const std::string& text, char* buffer, uint32_t size) {
    if (text.size() + 1 > size) return false;
    memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

std::string windows_form(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

} // namespace

FileHandle file_open_for_reading(const char* path) {
    const std::string host = host_path(path);
    return host.empty() ? FILE_HANDLE_ERROR : open(host.c_str(), O_RDONLY);
}

FileHandle file_create(const char* path) {
    const std::string host = host_path(path);
    return host.empty() ? FILE_HANDLE_ERROR : open(host.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
}

uint32_t file_read(FileHandle file, void* buffer, uint32_t size) {
    const ssize_t n = read(file, buffer, size);
    return n < 0 ? FILE_IO_ERROR : uint32_t(n);
}

uint32_t file_write(FileHandle file, const void* buffer, uint32_t size) {
    const ssize_t n = write(file, buffer, size);
    return n < 0 ? FILE_IO_ERROR : uint32_t(n);
}

FILE* stream_open(const char* path, const char* mode) {
    const std::string host = host_path(path);
    return host.empty() ? nullptr : fopen(host.c_str(), mode);
}

bool folder_get_current(char* buffer, uint32_t size) {
    char cwd[PATH_MAX];
    return getcwd(cwd, sizeof cwd) && copy_out(windows_form(cwd), buffer, size);
}

bool folder_set_current(const char* path) {
    const std::string host = host_path(path);
    return !host.empty() && chdir(host.c_str()) == 0;
}

bool folder_create(const char* path) {
    const std::string host = host_path(path);
    return !host.empty() && mkdir(host.c_str(), 0755) == 0;
}

bool folder_remove(const char* path) {
    const std::string host = host_path(path);
    return !host.empty() && rmdir(host.c_str()) == 0;
}

bool file_delete(const char* path) {
    const std::string host = host_path(path);
    struct stat st;
    // Like the Windows call, this deletes files only, never folders.
    if (host.empty() || lstat(host.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    return unlink(host.c_str()) == 0;
}

bool path_is_link(const char* path) {
    const std::string host = host_path(path);
    struct stat st;
    return !host.empty() && lstat(host.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

void system_get_version(WindowsVersion* version) {
    // A host is no Windows version; it reports the NT line without a number.
    *version = WindowsVersion{0, 0, 2, ""};
}

void system_get_temp_path(char* buffer, uint32_t size) {
    const char* tmp = getenv("TMPDIR");
    std::string path = tmp && *tmp ? tmp : "/tmp";
    if (path.back() != '/') path += '/';
    copy_out(windows_form(path), buffer, size);
}

bool program_get_module_path(char* buffer, uint32_t size) {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return false;
    path[n] = '\0';
    return copy_out(windows_form(path), buffer, size);
}

bool program_get_archive_digest(uint8_t*) {
    return false; // a host tool carries no archive of its own
}

bool program_get_own_path(char* buffer, uint32_t size) {
    // The first word of the command line, as the program was started.
    char first[PATH_MAX] = "";
    FILE* cmdline = fopen("/proc/self/cmdline", "rb");
    if (cmdline) {
        const size_t n = fread(first, 1, sizeof first - 1, cmdline);
        first[n] = '\0';
        fclose(cmdline);
    }
    if (!first[0]) return program_get_module_path(buffer, size);
    return copy_out(windows_form(first), buffer, size);
}

bool text_is_lead_byte(uint8_t) {
    return false; // host paths are UTF-8, which has no double-byte characters
}

uint32_t system_time_seconds() {
    return uint32_t(time(nullptr));
}

void system_pause(uint32_t milliseconds) {
    struct timespec wait;
    wait.tv_sec = time_t(milliseconds / 1000);
    wait.tv_nsec = long(milliseconds % 1000) * 1000000L;
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

uint32_t program_start(const char* command_line) {
    // Run by the shell from the current folder, not waited for. The Windows
    // call's results: 33 started, 2 could not be started.
    const char* argv[] = {"/bin/sh", "-c", command_line, nullptr};
    pid_t child;
    return posix_spawn(&child, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) == 0
               ? 33
               : 2;
}

int show_message_box(WindowHandle, const char* text, const char* caption, uint32_t style) {
    // Nobody answers on a host: a question gets "no", a notice "ok".
    fprintf(stderr, "[%s] %s\n", caption, text);
    return (style & 0x0F) == BOX_YES_NO ? ANSWER_NO : ANSWER_OK;
}

void window_hide(WindowHandle) {
    // No window is ever shown on a host.
}

PendingMessage take_pending_message() {
    return PendingMessage::NONE; // no window, so no messages
}
