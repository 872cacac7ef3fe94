// The whole unpack on the host stand-in of the platform: the input is the
// archive W_SETUP.WPK in C:\MEDIA of a scratch machine whose drive C is a
// private folder, the program started as C:\MEDIA\WBOOT.EXE, the temporary
// folder C:\TEMP\. prepare_and_unpack must return (fatal errors included),
// release everything, and write nothing outside that drive C.
//
// Writing outside drive C is caught as it happens: the link wraps the calls
// through which the stand-in creates or removes files and folders (see
// CMakeLists.txt), and while an input runs each of them is checked against
// drive C before it is let through. A member with a rooted folder may write
// anywhere under drive C; nothing may reach the host beyond it.
//
// The first of the two unused bytes after the signature picks the Windows
// the stand-in reports (the unpack never reads it), so both the NT filter of
// *.DL_* names and the other lines get inputs.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive_directory.h"
#include "archive/fatal_error.h"
#include "fuzz_support.h"
#include "install/work_folder.h"
#include "platform_stand_in.h"

namespace {

constexpr uint32_t MEMBER_LIMIT = 64 * 1024;
constexpr uint64_t TOTAL_LIMIT = 1024 * 1024;

std::string g_sandbox; // private; holds only the drive folder
std::string g_drive_c; // g_sandbox + "/c", resolved
std::string g_home;    // the process's current folder between inputs
bool g_guard_armed = false;

// The absolute, resolved path a call would create or remove, as far as it
// can be known beforehand: the resolved parent folder and the last component.
// Empty when the parent does not exist (the call fails on its own then).
std::string target_of(const char* path) {
    std::string p = path ? path : "";
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const size_t slash = p.rfind('/');
    const std::string parent = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : p.substr(0, slash);
    const std::string last = slash == std::string::npos ? p : p.substr(slash + 1);
    char resolved[PATH_MAX];
    if (last.empty() || last == "." || last == "..") {
        return realpath(p.empty() ? "." : p.c_str(), resolved) ? resolved : "";
    }
    if (!realpath(parent.c_str(), resolved)) return "";
    const std::string base = resolved;
    return (base == "/" ? "" : base) + "/" + last;
}

bool inside_drive_c(const std::string& target) {
    return target.empty() || target == g_drive_c ||
           target.compare(0, g_drive_c.size() + 1, g_drive_c + "/") == 0;
}

// True when the call may go ahead; otherwise the input has broken out.
bool allowed(const char* call, const char* path) {
    if (!g_guard_armed) return true;
    const std::string target = target_of(path);
    if (inside_drive_c(target)) return true;
    char cwd[PATH_MAX];
    g_guard_armed = false; // libFuzzer must still be able to save the input
    fuzz::fail("escape", "%s(\"%s\") would reach %s, outside drive C %s (current folder %s)", call,
               path, target.c_str(), g_drive_c.c_str(), getcwd(cwd, sizeof cwd) ? cwd : "?");
    g_guard_armed = true;
    errno = EACCES; // a known finding: refused, and the run goes on
    return false;
}

} // namespace

// The wrapped calls (linked with -Wl,--wrap=NAME for each).
extern "C" {
int __real_open(const char* path, int flags, ...);
FILE* __real_fopen(const char* path, const char* mode);
int __real_mkdir(const char* path, mode_t mode);
int __real_rmdir(const char* path);
int __real_unlink(const char* path);

int __wrap_open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list args;
        va_start(args, flags);
        mode = mode_t(va_arg(args, int));
        va_end(args);
    }
    const bool writes = (flags & (O_CREAT | O_TRUNC | O_WRONLY | O_RDWR | O_TMPFILE)) != 0;
    if (writes && !allowed("open", path)) return -1;
    return __real_open(path, flags, mode);
}

FILE* __wrap_fopen(const char* path, const char* mode) {
    const bool writes = mode && (strchr(mode, 'w') || strchr(mode, 'a') || strchr(mode, '+'));
    if (writes && !allowed("fopen", path)) return nullptr;
    return __real_fopen(path, mode);
}

int __wrap_mkdir(const char* path, mode_t mode) {
    return allowed("mkdir", path) ? __real_mkdir(path, mode) : -1;
}
int __wrap_rmdir(const char* path) {
    return allowed("rmdir", path) ? __real_rmdir(path) : -1;
}
int __wrap_unlink(const char* path) {
    return allowed("unlink", path) ? __real_unlink(path) : -1;
}
}

namespace {

void setup_once() {
    if (!g_sandbox.empty()) return;
    char cwd[PATH_MAX];
    g_home = getcwd(cwd, sizeof cwd) ? cwd : "/";
    g_sandbox = fuzz::make_scratch_folder("unpack");
    g_drive_c = g_sandbox + "/c";
}

void write_whole(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f || (size && fwrite(data, 1, size, f) != size) || fclose(f) != 0)
        fuzz::fail("setup", "cannot write %s", path.c_str());
}

// Anything in the sandbox beside drive C came from a write that got past the
// guard (a path the guard could not foresee).
void check_sandbox() {
    DIR* dir = opendir(g_sandbox.c_str());
    if (!dir) fuzz::fail("setup", "cannot list %s", g_sandbox.c_str());
    while (const dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name != "." && name != ".." && name != "c")
            fuzz::fail("escape", "%s/%s appeared beside drive C", g_sandbox.c_str(), name.c_str());
    }
    closedir(dir);
}

WindowsVersion version_for(const std::vector<uint8_t>& archive) {
    static const WindowsVersion versions[] = {
        {10, 0, 2, ""}, // NT line: *.DL_* names left out
        {4, 10, 1, ""}, // the Windows 95 line
        {3, 51, 2, ""}, // early NT
        {3, 11, 0, ""}, // Win32s
    };
    const uint8_t pick = archive.size() > 54 ? archive[54] : 0;
    return versions[pick & 3];
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setup_once();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024) return -1;
    std::vector<uint8_t> archive(data, data + size);
    if (!fuzz::cap_member_sizes(archive, MEMBER_LIMIT, TOTAL_LIMIT)) return -1;
    setup_once();

    std::error_code ec;
    std::filesystem::remove_all(g_drive_c, ec);
    std::filesystem::create_directories(g_drive_c + "/MEDIA", ec);
    std::filesystem::create_directories(g_drive_c + "/TEMP", ec);
    write_whole(g_drive_c + "/MEDIA/W_SETUP.WPK", archive.data(), archive.size());

    posix_reset(g_drive_c);
    g_posix.boxes_to_stderr = false;
    g_posix.real_pauses = false;
    g_posix.own_path = "C:\\MEDIA\\WBOOT.EXE";
    g_posix.module_path = "C:\\MEDIA\\WBOOT.EXE";
    g_posix.temp_path = "C:\\TEMP\\";
    g_posix.version = version_for(archive);
    g_fatal_error_shows_box = true; // as in the installer: the box is recorded
    g_install_ready = 0;
    if (chdir(g_drive_c.c_str()) != 0) fuzz::fail("setup", "cannot enter %s", g_drive_c.c_str());

    g_guard_armed = true;
    prepare_and_unpack();
    g_guard_armed = false;

    if (chdir(g_home.c_str()) != 0) fuzz::fail("setup", "cannot return to %s", g_home.c_str());
    if (g_entry_table) fuzz::fail("release", "the entry table is still allocated");
    if (g_archive_stream || g_output_stream) fuzz::fail("release", "a stream is still open");
    if (g_fatal_jump.armed != 0)
        fuzz::fail("fatal-jump", "g_fatal_jump left armed (%d)", g_fatal_jump.armed);
    if (g_install_ready != 0 && g_install_ready != 1)
        fuzz::fail("ready", "g_install_ready %d", g_install_ready);
    if (strcmp(g_work_path, "C:\\TEMP") != 0)
        fuzz::fail("work-path", "work path '%s'", g_work_path);
    // A fatal error shows exactly one box and ends the step; a clean run shows none.
    size_t fatal_boxes = 0;
    for (const RecordedBox& b : g_posix.boxes) fatal_boxes += b.caption == CAPTION_FATAL_ERROR;
    if (fatal_boxes > 1) fuzz::fail("boxes", "%zu fatal error boxes", fatal_boxes);
    if (g_install_ready == 1 && !g_posix.boxes.empty())
        fuzz::fail("boxes", "a box '%s' in a successful unpack", g_posix.boxes[0].text.c_str());
    check_sandbox();

    std::filesystem::remove_all(g_drive_c, ec);
    posix_reset();
    return 0;
}
