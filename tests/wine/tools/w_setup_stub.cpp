// w_setup_stub - stands in for W_SETUP.EXE in the Wine tests.
//
// The bootstrapper starts it as
//     W_SETUP.EXE <token> <hwnd as unsigned decimal> <bootstrapper path>
// The stub writes what it saw to a record file, then tells the window to
// close the way the test asks.
//
// Environment (Wine hands the bootstrapper's environment down, so set these
// on the wine call that starts the bootstrapper):
//   WSTUB_RECORD         record file (default C:\wstub_record.txt)
//   WSTUB_MODE           close        post WM_CLOSE to the window, exit (default)
//                        wait:MS      sleep MS, then as close
//                        hold:NAME:MS open NAME (in the current folder) with no
//                                     sharing, post WM_CLOSE, keep it open MS,
//                                     close it, exit
//                        none         never post anything, just exit
//   WSTUB_HIDE_CHECK_MS  wait before reading target_visible (default 300)
//   WSTUB_EXIT_CODE      exit code of the stub (default 0)
//   WSTUB_IDLE           1 (default): look at the message queue first thing,
//                        as a real setup program does when it opens its
//                        window.  WinExec waits (WaitForInputIdle, up to
//                        30 s) until the started program does that or exits,
//                        so with 0 the bootstrapper stays inside WinExec
//                        until the stub has finished.  WSTUB_IDLE=0 with
//                        WSTUB_MODE=wait:2000 keeps the splash on screen
//                        (still painted) for about two seconds: time for a
//                        screenshot.
//
// Record lines (LF-terminated), in this order, each written and flushed at
// once so a test can see how far the stub got:
//   idle=<0|1>
//   cmdline=<GetCommandLineA()>
//   exe=<GetModuleFileNameA>
//   cwd=<GetCurrentDirectoryA>
//   argc=<n>  and  arg1=..., arg2=..., ... (split like the C runtime does)
//   file=<path relative to cwd, backslashes>\t<size>   sorted, recursive
//   dir=<path relative to cwd>                         sorted, recursive
//   exefile=... / exedir=...  the same for the stub's own folder, only when
//                             that is not the current folder
//   list_truncated=1          when a listing stopped at 5000 entries
//   target_hwnd=<u>  target_valid=<0|1>  target_class=  target_title=
//   target_visible=<0|1>      after WSTUB_HIDE_CHECK_MS
//   mode=<WSTUB_MODE>
//   hold_open=1 | hold_error=<GetLastError>, posted=<0|1>, hold_closed=1
//   done=1
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

HANDLE g_record = INVALID_HANDLE_VALUE;

void put(const std::string& line) {
    if (g_record == INVALID_HANDLE_VALUE) return;
    std::string l = line + "\n";
    DWORD done = 0;
    WriteFile(g_record, l.data(), static_cast<DWORD>(l.size()), &done, nullptr);
    FlushFileBuffers(g_record);
}

std::string env(const char* name, const char* fallback) {
    char buf[1024];
    DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    if (n == 0 || n >= sizeof buf) return fallback;
    return std::string(buf, n);
}

// Splits a command line the way the C runtime builds argv.
std::vector<std::string> split_args(const char* p) {
    std::vector<std::string> out;
    for (;;) {
        while (*p == ' ' || *p == '\t') p++;
        if (!*p) break;
        std::string a;
        bool quoted = false;
        for (; *p; p++) {
            if (*p == '\\') {
                size_t n = 0;
                while (p[n] == '\\') n++;
                if (p[n] == '"') {
                    a.append(n / 2, '\\');
                    p += n;
                    if (n % 2) {
                        a += '"';
                        continue;
                    }
                    quoted = !quoted;
                    continue;
                }
                a.append(n, '\\');
                p += n - 1;
                continue;
            }
            if (*p == '"') {
                quoted = !quoted;
                continue;
            }
            if (!quoted && (*p == ' ' || *p == '\t')) break;
            a += *p;
        }
        out.push_back(a);
    }
    return out;
}

struct entry {
    std::string rel;
    bool is_dir;
    unsigned long long size;
};

const size_t kMaxEntries = 5000;

void walk(const std::string& root, const std::string& rel, std::vector<entry>& out) {
    if (out.size() >= kMaxEntries) return;
    std::string pattern = root;
    if (!rel.empty()) pattern += "\\" + rel;
    pattern += "\\*";
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    std::vector<entry> here;
    do {
        if (!strcmp(fd.cFileName, ".") || !strcmp(fd.cFileName, "..")) continue;
        entry e;
        e.rel = rel.empty() ? std::string(fd.cFileName) : rel + "\\" + fd.cFileName;
        e.is_dir = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        e.size = (static_cast<unsigned long long>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
        here.push_back(e);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    for (const entry& e : here) {
        if (out.size() >= kMaxEntries) return;
        out.push_back(e);
        // Do not follow links: the Wine drive roots link into the host.
        if (e.is_dir) {
            DWORD attr = GetFileAttributesA((root + "\\" + e.rel).c_str());
            if (attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_REPARSE_POINT))
                walk(root, e.rel, out);
        }
    }
}

void list_tree(const std::string& root, const char* file_key, const char* dir_key) {
    std::vector<entry> all;
    std::string r = root;
    while (r.size() > 3 && (r.back() == '\\' || r.back() == '/')) r.pop_back();
    if (r.size() == 3 && r[2] == '\\') r.pop_back(); // "C:\" -> "C:" so "C:\*" is built
    walk(r, "", all);
    bool truncated = all.size() >= kMaxEntries;
    std::sort(all.begin(), all.end(), [](const entry& a, const entry& b) { return a.rel < b.rel; });
    for (const entry& e : all) {
        if (e.is_dir) continue;
        char size[32];
        snprintf(size, sizeof size, "%llu", e.size);
        put(std::string(file_key) + "=" + e.rel + "\t" + size);
    }
    for (const entry& e : all)
        if (e.is_dir) put(std::string(dir_key) + "=" + e.rel);
    if (truncated) put("list_truncated=1");
}

std::string lower(std::string s) {
    if (!s.empty()) CharLowerBuffA(&s[0], static_cast<DWORD>(s.size()));
    return s;
}

} // namespace

int main() {
    // First of all, so that the WinExec in the bootstrapper returns now.
    bool idle = env("WSTUB_IDLE", "1") != "0";
    if (idle) {
        // A short wait for input with an empty queue is what marks the
        // process idle for WaitForInputIdle (a PeekMessage alone does not
        // under Wine).
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    }

    std::string record = env("WSTUB_RECORD", "C:\\wstub_record.txt");
    g_record = CreateFileA(record.c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);

    put(std::string("idle=") + (idle ? "1" : "0"));
    const char* cmdline = GetCommandLineA();
    put(std::string("cmdline=") + cmdline);

    char buf[MAX_PATH * 2];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    std::string exe(buf, n);
    put("exe=" + exe);

    n = GetCurrentDirectoryA(sizeof buf, buf);
    std::string cwd(buf, n);
    put("cwd=" + cwd);

    std::vector<std::string> args = split_args(cmdline);
    put("argc=" + std::to_string(args.size()));
    for (size_t i = 1; i < args.size(); i++) put("arg" + std::to_string(i) + "=" + args[i]);

    list_tree(cwd, "file", "dir");
    std::string exedir = exe.substr(0, exe.find_last_of('\\'));
    std::string cwd_trim = cwd;
    while (cwd_trim.size() > 3 && cwd_trim.back() == '\\') cwd_trim.pop_back();
    if (lower(exedir) != lower(cwd_trim)) list_tree(exedir, "exefile", "exedir");

    HWND target = nullptr;
    if (args.size() >= 3) {
        char* end = nullptr;
        unsigned long v = strtoul(args[2].c_str(), &end, 10);
        if (end && *end == 0 && !args[2].empty())
            target = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(v));
    }
    put("target_hwnd=" + std::to_string(reinterpret_cast<ULONG_PTR>(target)));
    bool valid = target && IsWindow(target);
    put(std::string("target_valid=") + (valid ? "1" : "0"));
    char cls[256] = "", title[512] = "";
    if (valid) {
        GetClassNameA(target, cls, sizeof cls);
        GetWindowTextA(target, title, sizeof title);
    }
    put(std::string("target_class=") + cls);
    put(std::string("target_title=") + title);

    Sleep(static_cast<DWORD>(atoi(env("WSTUB_HIDE_CHECK_MS", "300").c_str())));
    put(std::string("target_visible=") + (valid && IsWindowVisible(target) ? "1" : "0"));

    std::string mode = env("WSTUB_MODE", "close");
    put("mode=" + mode);

    auto post_close = [&]() {
        BOOL ok = valid && PostMessageA(target, WM_CLOSE, 0, 0);
        put(std::string("posted=") + (ok ? "1" : "0"));
    };

    if (mode == "close") {
        post_close();
    } else if (mode.compare(0, 5, "wait:") == 0) {
        Sleep(static_cast<DWORD>(atoi(mode.c_str() + 5)));
        post_close();
    } else if (mode.compare(0, 5, "hold:") == 0) {
        std::string rest = mode.substr(5);
        size_t colon = rest.rfind(':');
        std::string name = colon == std::string::npos ? rest : rest.substr(0, colon);
        DWORD ms =
            colon == std::string::npos ? 3000 : static_cast<DWORD>(atoi(rest.c_str() + colon + 1));
        HANDLE h = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            put("hold_error=" + std::to_string(GetLastError()));
        else
            put("hold_open=1");
        post_close();
        Sleep(ms);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
            put("hold_closed=1");
        }
    } else if (mode != "none") {
        put("mode_error=unknown");
    }

    put("done=1");
    if (g_record != INVALID_HANDLE_VALUE) CloseHandle(g_record);
    return atoi(env("WSTUB_EXIT_CODE", "0").c_str());
}
