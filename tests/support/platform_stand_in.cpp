#include "platform_stand_in.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

PosixPlatform g_posix;

namespace {

int drive_index(char letter) {
    return std::toupper(static_cast<unsigned char>(letter)) - 'A';
}

bool has_drive(const char* path) {
    return std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

// Backslashes become slashes; the second byte of a double-byte character
// (see PosixPlatform::lead_bytes) stays, whatever its value.
std::string slashes(const char* path) {
    std::string s(path);
    for (size_t i = 0; i < s.size(); ++i) {
        if (text_is_lead_byte(uint8_t(s[i])))
            ++i;
        else if (s[i] == '\\')
            s[i] = '/';
    }
    return s;
}

std::string drive_root(int index) {
    if (index < 0 || index >= 26) return "";
    const std::string& root = g_posix.drive_roots[index];
    return root.empty() && index == 2 ? "/" : root;
}

// The drive whose root holds the host's current folder (longest match).
int current_drive(std::string* rest) {
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) return -1;
    int best = -1;
    size_t best_len = 0;
    for (int i = 0; i < 26; ++i) {
        std::string root = drive_root(i);
        if (root.empty()) continue;
        if (root.size() > 1 && root.back() == '/') root.pop_back();
        const size_t n = root == "/" ? 0 : root.size();
        if (strncmp(cwd, root.c_str(), n) == 0 && (cwd[n] == '/' || cwd[n] == '\0') &&
            (best < 0 || n >= best_len)) {
            best = i;
            best_len = n;
        }
    }
    if (best >= 0 && rest) *rest = cwd + best_len;
    return best;
}

bool copy_out(const std::string& text, char* buffer, uint32_t size) {
    if (text.size() + 1 > size) return false;
    memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

} // namespace

void posix_reset(const std::string& drive_c) {
    g_posix = PosixPlatform();
    g_posix.drive_roots[2] = drive_c;
}

// Windows takes "/" for "\\", resolves "." and ".." itself and never climbs
// above the root of a drive ("C:\\..\\X" is "C:\\X"). The host path must do
// the same, or a path could leave the folder that stands for the drive.
std::string posix_host_path(const char* path) {
    const bool rooted = path[0] == '\\' || path[0] == '/';
    int drive;
    std::string start; // where the path starts, in host form below the drive's root
    const char* rest = path;
    if (has_drive(path)) {
        drive = drive_index(path[0]);
        rest = path + 2;
        // "X:NAME" (and "X:" alone) starts from the current folder when X
        // is the current drive; from the root of another drive, as the
        // stand-in keeps no current folder per drive.
        std::string here;
        if (rest[0] != '\\' && rest[0] != '/' && current_drive(&here) == drive) start = here;
    } else {
        drive = current_drive(&start);
        if (drive < 0) return rooted ? "" : slashes(path); // the host folder is on no drive
        if (rooted) start.clear();
    }
    const std::string root = drive_root(drive);
    if (root.empty()) return "";

    std::vector<std::string> parts;
    const std::string joined = start + "/" + slashes(rest);
    for (size_t at = 0; at <= joined.size();) {
        size_t end = joined.find('/', at);
        if (end == std::string::npos) end = joined.size();
        const std::string part = joined.substr(at, end - at);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back(); // at the root, ".." is the root
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = end + 1;
    }
    std::string host = root == "/" ? "" : root;
    if (!host.empty() && host.back() == '/') host.pop_back();
    for (const std::string& part : parts) host += "/" + part;
    return host.empty() ? "/" : host;
}

FileHandle file_open_for_reading(const char* path) {
    return open(posix_host_path(path).c_str(), O_RDONLY);
}

FileHandle file_create(const char* path) {
    return open(posix_host_path(path).c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
}

uint32_t file_read(FileHandle file, void* buffer, uint32_t size) {
    if (g_posix.read_budget >= 0) {
        if (g_posix.read_budget < int64_t(size)) size = uint32_t(g_posix.read_budget);
        g_posix.read_budget -= size;
    }
    const ssize_t n = read(file, buffer, size);
    return n < 0 ? FILE_IO_ERROR : uint32_t(n);
}

uint32_t file_write(FileHandle file, const void* buffer, uint32_t size) {
    uint32_t allowed = size;
    if (g_posix.write_budget >= 0) {
        if (g_posix.write_budget < int64_t(size)) allowed = uint32_t(g_posix.write_budget);
        g_posix.write_budget -= allowed;
    }
    const ssize_t n = write(file, buffer, allowed);
    return n < 0 ? FILE_IO_ERROR : uint32_t(n);
}

Stream* stream_open(const char* path, const char* mode) {
    const std::string host = posix_host_path(path);
    return host.empty() ? nullptr : fopen(host.c_str(), mode);
}

bool folder_get_current(char* buffer, uint32_t size) {
    std::string rest;
    const int drive = current_drive(&rest);
    if (drive < 0) return false;
    std::string path = std::string(1, char('A' + drive)) + ":" + (rest.empty() ? "/" : rest);
    for (char& c : path)
        if (c == '/') c = '\\';
    return copy_out(path, buffer, size);
}

bool folder_set_current(const char* path) {
    const std::string host = posix_host_path(path);
    return !host.empty() && chdir(host.c_str()) == 0;
}

bool folder_create(const char* path) {
    const std::string host = posix_host_path(path);
    return !host.empty() && mkdir(host.c_str(), 0755) == 0;
}

bool folder_remove(const char* path) {
    g_posix.folder_removals.push_back(path);
    const std::string host = posix_host_path(path);
    return !host.empty() && rmdir(host.c_str()) == 0;
}

bool file_delete(const char* path) {
    g_posix.delete_attempts.push_back(path);
    if (!g_posix.held_file.empty() && g_posix.held_file == path && g_posix.held_attempts > 0) {
        --g_posix.held_attempts;
        return false;
    }
    const std::string host = posix_host_path(path);
    struct stat st;
    // Like the Windows call, this deletes files only, never folders.
    if (host.empty() || lstat(host.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    return unlink(host.c_str()) == 0;
}

bool path_is_link(const char* path) {
    const std::string host = posix_host_path(path);
    struct stat st;
    return !host.empty() && lstat(host.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool text_is_lead_byte(uint8_t byte) {
    return g_posix.lead_bytes.find(char(byte)) != std::string::npos;
}

void system_get_version(WindowsVersion* version) {
    *version = g_posix.version;
}

void system_get_temp_path(char* buffer, uint32_t size) {
    if (g_posix.has_temp_path) copy_out(g_posix.temp_path, buffer, size);
}

bool program_get_own_path(char* buffer, uint32_t size) {
    return copy_out(g_posix.own_path, buffer, size);
}

bool program_get_module_path(char* buffer, uint32_t size) {
    return copy_out(g_posix.module_path, buffer, size);
}

bool program_get_archive_digest(uint8_t* digest) {
    if (g_posix.archive_digest.size() != 32) return false;
    memcpy(digest, g_posix.archive_digest.data(), 32);
    return true;
}

uint32_t system_time_seconds() {
    return g_posix.time_seconds ? g_posix.time_seconds : uint32_t(time(nullptr));
}

void system_pause(uint32_t milliseconds) {
    g_posix.pauses.push_back(milliseconds);
    if (g_posix.real_pauses) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

uint32_t program_start(const char* command_line) {
    g_posix.started.push_back(command_line);
    if (g_posix.on_start) g_posix.on_start(command_line);
    return g_posix.start_result;
}

int show_message_box(WindowHandle owner, const char* text, const char* caption, uint32_t style) {
    g_posix.boxes.push_back({owner, text, caption, style});
    if (g_posix.boxes_to_stderr) fprintf(stderr, "[%s] %s\n", caption, text);
    if (!g_posix.box_answers.empty()) {
        const int answer = g_posix.box_answers.front();
        g_posix.box_answers.erase(g_posix.box_answers.begin());
        return answer;
    }
    return (style & 0x0F) == BOX_YES_NO ? ANSWER_NO : ANSWER_OK;
}

void window_hide(WindowHandle window) {
    g_posix.hidden.push_back(window);
}

PendingMessage take_pending_message() {
    if (g_posix.messages.empty()) return PendingMessage::NONE;
    std::function<void()> message = g_posix.messages.front();
    g_posix.messages.erase(g_posix.messages.begin());
    if (!message) return PendingMessage::QUIT;
    ++g_posix.messages_handled;
    message();
    return PendingMessage::HANDLED;
}

// ---- The shell ----

uint32_t system_oem_code_page() {
    return g_posix.oem_code_page;
}

uint32_t profile_read(const char* section, const char* key, char* buffer, uint32_t size) {
    const auto it = g_posix.profile.find(std::string(section) + "/" + key);
    const std::string value = it == g_posix.profile.end() ? "" : it->second;
    const size_t n = size ? std::min<size_t>(value.size(), size - 1) : 0;
    if (size) {
        memcpy(buffer, value.data(), n);
        buffer[n] = '\0';
    }
    return uint32_t(n);
}

bool profile_write(const char* section, const char* key, const char* value) {
    if (g_posix.profile_read_only) return false;
    g_posix.profile[std::string(section) + "/" + key] = value;
    g_posix.profile_writes.push_back(std::string(section) + "/" + key + "=" + value);
    return true;
}

void session_end(uint32_t flags, uint32_t reserved) {
    g_posix.session_ends.emplace_back(flags, reserved);
}

ScreenSize system_screen_size() {
    return g_posix.screen;
}

bool window_register_class(ProgramInstance, const char* class_name, WindowProcedure procedure,
                           const char* icon_name) {
    if (g_posix.register_fails) return false;
    g_posix.procedure = procedure;
    g_posix.class_name = class_name;
    g_posix.icon_name = icon_name;
    return true;
}

WindowHandle window_create_popup(ProgramInstance, const char* class_name, const char*,
                                 int32_t width, int32_t height) {
    if (g_posix.create_fails || g_posix.class_name != class_name) return nullptr;
    g_posix.window_events.push_back("create " + std::to_string(width) + "x" +
                                    std::to_string(height));
    if (g_posix.procedure(POSIX_WINDOW, 1 /* create */, 0, 0) == -1) return nullptr;
    return POSIX_WINDOW;
}

void window_show(WindowHandle) {
    g_posix.window_events.push_back("show");
}

void window_update(WindowHandle window) {
    g_posix.window_events.push_back("update");
    g_posix.procedure(window, 15 /* paint */, 0, 0);
}

bool window_post_message(WindowHandle window, uint32_t message) {
    g_posix.messages.push_back([window, message] { g_posix.procedure(window, message, 0, 0); });
    return true;
}

void window_destroy(WindowHandle window) {
    g_posix.window_events.push_back("destroy");
    g_posix.procedure(window, 2 /* destroy */, 0, 0);
}

void message_post_quit(int exit_code) {
    g_posix.window_events.push_back("quit " + std::to_string(exit_code));
    g_posix.messages.push_back(nullptr);
}

intptr_t window_default_procedure(WindowHandle, uint32_t message, uintptr_t, intptr_t) {
    g_posix.window_events.push_back("default " + std::to_string(message));
    return 0;
}

void run_message_loop() {
    // The queue never waits here: an empty queue would wait forever on the
    // real system, so it ends the loop as well.
    while (!g_posix.messages.empty()) {
        std::function<void()> message = g_posix.messages.front();
        g_posix.messages.erase(g_posix.messages.begin());
        if (!message) return;
        message();
    }
}

// ---- Painting: every call recorded as a line of text ----

namespace {
std::vector<std::string> g_objects{"none"}; // index = object handle
int g_font_height = 16;

DrawingObject new_object(const std::string& description) {
    g_objects.push_back(description);
    return reinterpret_cast<DrawingObject>(uintptr_t(g_objects.size() - 1));
}

const std::string& describe(DrawingObject object) {
    const size_t index = size_t(reinterpret_cast<uintptr_t>(object));
    return g_objects[index < g_objects.size() ? index : 0];
}

std::string hex_color(uint32_t color) {
    char text[16];
    snprintf(text, sizeof text, "%06x", color);
    return text;
}
} // namespace

DrawingContext paint_begin(WindowHandle, PaintArea* area) {
    *area = g_posix.paint_area;
    g_posix.drawing.push_back("begin");
    return reinterpret_cast<DrawingContext>(uintptr_t(1));
}

void paint_end(WindowHandle) {
    g_posix.drawing.push_back("end");
}

DrawingObject pen_create_null() {
    return new_object("pen null");
}

DrawingObject brush_create_solid(uint32_t color) {
    return new_object("brush " + hex_color(color));
}

DrawingObject font_create(const FontDescription& f) {
    char text[160];
    snprintf(text, sizeof text, "font %s h%d w%d e%d o%d wt%d i%d u%d s%d c%d op%d cp%d q%d pf%d",
             f.face_name, f.height, f.width, f.escapement, f.orientation, f.weight, f.italic,
             f.underline, f.strike_out, f.char_set, f.out_precision, f.clip_precision, f.quality,
             f.pitch_and_family);
    DrawingObject font = new_object(text);
    return font;
}

DrawingObject object_select(DrawingContext, DrawingObject object) {
    g_posix.drawing.push_back("select " + describe(object));
    const std::string& d = describe(object);
    if (d.rfind("font ", 0) == 0) g_font_height = atoi(d.c_str() + d.find(" h") + 2);
    return new_object("previous");
}

void object_delete(DrawingObject object) {
    g_posix.drawing.push_back("delete " + describe(object));
}

void draw_rectangle(DrawingContext, int32_t left, int32_t top, int32_t right, int32_t bottom) {
    g_posix.drawing.push_back("rect " + std::to_string(left) + " " + std::to_string(top) + " " +
                              std::to_string(right) + " " + std::to_string(bottom));
}

void text_set_color(DrawingContext, uint32_t color) {
    g_posix.drawing.push_back("color " + hex_color(color));
}

void text_set_transparent(DrawingContext) {
    g_posix.drawing.push_back("transparent");
}

TextExtent text_measure(DrawingContext, const char* text, int length) {
    const std::string s(text, size_t(length));
    if (g_posix.measure) return g_posix.measure(s, g_font_height);
    return {10 * length, g_font_height};
}

void text_draw(DrawingContext, int32_t x, int32_t y, const char* text, int length) {
    g_posix.drawing.push_back("text " + std::to_string(x) + " " + std::to_string(y) + " " +
                              std::string(text, size_t(length)));
}
