#!/bin/bash
# shellcheck disable=SC2317 # helpers are called through check()
# Checks the Wine harness itself with a throwaway program built on the fly:
# box answering, a full-screen gradient window checked pixel by pixel, the
# stand-in setup program started by WinExec with a window handle, win.ini
# seeding, the Windows version switch, and Hangul through "Times New Roman"
# with charset 0 in a Korean prefix.
#
#   tests/wine/selftest.sh            (WINE_KEEP=1 keeps the temp folder)
#
# Uses WINE_TOOLS_DIR's boxclick.exe / w_setup_stub.exe when both exist,
# otherwise builds them from tests/wine/tools.  Exits nonzero on any failure.
set -u

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lib.sh
. "$HERE/lib.sh"
PIX=(python3 "$HERE/pixels.py")

T0=$(date +%s.%N)
lap() { printf '  [%5.1fs] %s\n' "$(echo "$(date +%s.%N) - $T0" | bc)" "$*"; }

FAILS=0
ok() { echo "ok   - $*"; }
bad() { echo "FAIL - $*"; FAILS=$((FAILS + 1)); }
check() { # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then ok "$what"; else bad "$what"; fi
}
eq() { [ "$1" = "$2" ] || { echo "       got '$1', expected '$2'"; return 1; }; }
ge() { [ "$1" -ge "$2" ] 2>/dev/null || { echo "       got '$1', expected >= $2"; return 1; }; }
le() { [ "$1" -le "$2" ] 2>/dev/null || { echo "       got '$1', expected <= $2"; return 1; }; }
val() { tr -d '\r' <"$1" | sed -n "s/^$2=//p" | head -1; } # val FILE KEY: first value
vals() { tr -d '\r' <"$1" | sed -n "s/^$2=//p"; }            # vals FILE KEY: all values

TMP=$(mktemp -d "${TMPDIR:-/tmp}/wine-selftest.XXXXXX")
cleanup() {
    wine_session_stop
    if [ "${WINE_KEEP:-0}" = 1 ]; then echo "kept $TMP"; else rm -rf "$TMP"; fi
}
trap cleanup EXIT

# ---------------------------------------------------------------- build
mkdir -p "$TMP/bin" "$TMP/src" "$TMP/sig" "$TMP/work/sub"
if [ -n "${WINE_TOOLS_DIR:-}" ] && [ -f "$WINE_TOOLS_DIR/boxclick.exe" ] && [ -f "$WINE_TOOLS_DIR/w_setup_stub.exe" ]; then
    cp "$WINE_TOOLS_DIR/boxclick.exe" "$WINE_TOOLS_DIR/w_setup_stub.exe" "$TMP/bin/"
else
    wine_build_tools "$TMP/bin" || { echo "FAIL - building the tools"; exit 1; }
fi
WINE_TOOLS_DIR="$TMP/bin"

# The throwaway program: a box, a gradient splash, WinExec of the stub with
# the splash's handle, hide, wait for WM_CLOSE, a box owned by the splash.
cat >"$TMP/src/app.c" <<'EOF'
#include <windows.h>
#include <stdio.h>
#include <string.h>

static char g_dir[MAX_PATH], g_stub[MAX_PATH];
static int g_painted, g_closed, g_answer;
static FILE *g_rec;

static void rec(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vfprintf(g_rec, fmt, ap);
    fputs("\n", g_rec);
    fflush(g_rec);
    va_end(ap);
}

static int exists(const char *name)
{
    char p[MAX_PATH * 2];
    sprintf(p, "%s\\%s", g_dir, name);
    return GetFileAttributesA(p) != INVALID_FILE_ATTRIBUTES;
}

static void touch(const char *name)
{
    char p[MAX_PATH * 2];
    FILE *f;
    sprintf(p, "%s\\%s", g_dir, name);
    f = fopen(p, "w");
    if (f) fclose(f);
}

static LRESULT CALLBACK wndproc(HWND h, UINT m, WPARAM w, LPARAM l)
{
    switch (m) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        RECT rc;
        int y, H;
        HFONT f, old;
        HDC dc = BeginPaint(h, &ps);
        GetClientRect(h, &rc);
        H = rc.bottom;
        for (y = 0; y < H; y++) {
            RECT r = {0, y, rc.right, y + 1};
            int b = y * 256 / H;
            HBRUSH br = CreateSolidBrush(RGB(0, 0, b > 255 ? 255 : b));
            FillRect(dc, &r, br);
            DeleteObject(br);
        }
        f = CreateFontA(40, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, 0, 0, NONANTIALIASED_QUALITY, 0,
                        "Times New Roman");
        old = SelectObject(dc, f);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(255, 255, 255));
        TextOutA(dc, 40, 100, "Selftest Title", 14);
        SetTextColor(dc, RGB(255, 255, 0));
        TextOutA(dc, 40, 300, "Yellow note", 11);
        SelectObject(dc, old);
        DeleteObject(f);
        EndPaint(h, &ps);
        GdiFlush();
        if (!g_painted) {
            g_painted = 1;
            touch("painted");
        }
        return 0;
    }
    case WM_TIMER:
        if (w == 1 && g_painted && exists("go")) {
            char cmd[1024], self[MAX_PATH];
            UINT r;
            KillTimer(h, 1);
            GetModuleFileNameA(NULL, self, sizeof self);
            sprintf(cmd, "%s TOKEN42 %lu %s", g_stub, (unsigned long)(ULONG_PTR)h, self);
            rec("hwnd=%lu", (unsigned long)(ULONG_PTR)h);
            r = WinExec(cmd, SW_SHOWNORMAL);
            rec("winexec=%u", r);
            ShowWindow(h, SW_HIDE);
        } else if (w == 2) {
            rec("timeout=1");
            PostQuitMessage(3);
        }
        return 0;
    case WM_CLOSE:
        g_closed = 1;
        rec("got_close=1");
        MessageBoxA(h, "All done", "Selftest end", MB_OK | MB_ICONINFORMATION);
        DestroyWindow(h);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(h, m, w, l);
}

int WINAPI WinMain(HINSTANCE inst, HINSTANCE prev, LPSTR cmd, int show)
{
    char path[MAX_PATH * 2], v[64];
    WNDCLASSA wc;
    HWND h;
    MSG msg;
    int i;
    (void)prev;
    (void)cmd;
    (void)show;
    if (__argc < 3) return 99;
    strcpy(g_dir, __argv[1]);
    strcpy(g_stub, __argv[2]);
    sprintf(path, "%s\\app_record.txt", g_dir);
    g_rec = fopen(path, "w");
    if (!g_rec) return 98;
    rec("version=%08lx", (unsigned long)GetVersion());
    rec("oemcp=%u", GetOEMCP());
    for (i = 1; i <= 4; i++) {
        char key[8];
        sprintf(key, "COM%d:", i);
        GetProfileStringA("ports", key, "<missing>", v, sizeof v);
        rec("port%d=%s", i, v);
    }
    g_answer = MessageBoxA(NULL, "Selftest text\r\nsecond line", "Selftest question", MB_YESNO | MB_ICONQUESTION);
    rec("answer=%d", g_answer);

    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = wndproc;
    wc.hInstance = inst;
    wc.lpszClassName = "SELFTEST_SPLASH";
    wc.hCursor = LoadCursor(NULL, IDC_ARROW);
    RegisterClassA(&wc);
    h = CreateWindowExA(0, "SELFTEST_SPLASH", "Selftest Splash", WS_POPUP, 0, 0, GetSystemMetrics(SM_CXSCREEN),
                        GetSystemMetrics(SM_CYSCREEN), NULL, NULL, inst, NULL);
    if (!h) {
        rec("create_failed=1");
        return 97;
    }
    ShowWindow(h, SW_SHOW);
    UpdateWindow(h);
    SetTimer(h, 1, 50, NULL);
    SetTimer(h, 2, 30000, NULL);
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    rec("exit=%d", (int)msg.wParam);
    if (msg.wParam) return (int)msg.wParam;
    if (!g_closed) return 4;
    return g_answer == IDNO ? 0 : 10 + g_answer;
}
EOF

# Font probe: CP949 text drawn with "Times New Roman" charset 0 (row 0) and
# with NanumGothic HANGUL_CHARSET (row 1, the reference), then a message box
# with a CP949 caption.
cat >"$TMP/src/font.c" <<'EOF'
#include <windows.h>
#include <stdio.h>

static const char kText[] = "\xc7\xd1\xb1\xdb \xc5\xd7\xbd\xba\xc6\xae"; /* Hangul, CP949 */
static FILE *g_rec;
static const char *g_sig;

static LRESULT CALLBACK wp(HWND h, UINT m, WPARAM w, LPARAM l)
{
    if (m == WM_PAINT) {
        static const struct { int y, charset; const char *face; } rows[] = {
            {20, ANSI_CHARSET, "Times New Roman"}, {80, HANGUL_CHARSET, "NanumGothic"}};
        PAINTSTRUCT ps;
        RECT rc;
        int i;
        HDC dc = BeginPaint(h, &ps);
        GetClientRect(h, &rc);
        FillRect(dc, &rc, GetStockObject(WHITE_BRUSH));
        SetBkMode(dc, TRANSPARENT);
        for (i = 0; i < 2; i++) {
            char face[64];
            HFONT f = CreateFontA(32, 0, 0, 0, FW_NORMAL, 0, 0, 0, rows[i].charset, 0, 0, NONANTIALIASED_QUALITY, 0,
                                  rows[i].face);
            HFONT o = SelectObject(dc, f);
            TextOutA(dc, 20, rows[i].y, kText, sizeof kText - 1);
            GetTextFaceA(dc, sizeof face, face);
            if (g_rec) fprintf(g_rec, "row%d_charset=%d\n", i, GetTextCharset(dc));
            SelectObject(dc, o);
            DeleteObject(f);
        }
        EndPaint(h, &ps);
        GdiFlush();
        if (g_rec) {
            fprintf(g_rec, "acp=%u\noemcp=%u\n", GetACP(), GetOEMCP());
            fclose(g_rec);
            g_rec = NULL;
            fclose(fopen(g_sig, "w"));
        }
        return 0;
    }
    if (m == WM_TIMER) {
        KillTimer(h, 1);
        MessageBoxA(NULL, kText, "Wendle \xbe\xcb\xb8\xb2", MB_OK | MB_ICONWARNING);
        DestroyWindow(h);
        return 0;
    }
    if (m == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(h, m, w, l);
}

int WINAPI WinMain(HINSTANCE inst, HINSTANCE p, LPSTR c, int s)
{
    WNDCLASSA wc = {0};
    MSG msg;
    HWND h;
    (void)p;
    (void)c;
    (void)s;
    if (__argc < 4) return 99;
    g_rec = fopen(__argv[1], "w");
    g_sig = __argv[2];
    wc.lpfnWndProc = wp;
    wc.hInstance = inst;
    wc.lpszClassName = "FONTPROBE";
    RegisterClassA(&wc);
    h = CreateWindowExA(0, "FONTPROBE", "Font probe", WS_POPUP, 0, 0, 640, 480, NULL, NULL, inst, NULL);
    ShowWindow(h, SW_SHOW);
    UpdateWindow(h);
    SetTimer(h, 1, atoi(__argv[3]), NULL);
    while (GetMessageA(&msg, NULL, 0, 0) > 0) DispatchMessageA(&msg);
    return 0;
}
EOF
if ! i686-w64-mingw32-gcc -O2 -static -mwindows "$TMP/src/app.c" -o "$TMP/bin/app.exe" ||
    ! i686-w64-mingw32-gcc -O2 -static -mwindows "$TMP/src/font.c" -o "$TMP/bin/font.exe"; then
    echo "FAIL - building the throwaway programs"
    exit 1
fi
lap "built"

# ---------------------------------------------------------------- session, prefix
check "Xvfb session starts" wine_session_start
lap "session on $DISPLAY"
check "prefix from template" wine_prefix_init "$TMP/pfx"
lap "prefix ready"
check "Windows version set" wine_set_version "$TMP/pfx" win95
check "ports seeded" wine_seed_ports "$TMP/pfx" "COM1:=9600,n,8,1" "COM3:="
check "wine_read_ports" eq "$(wine_read_ports "$TMP/pfx" | tr '\n' '|')" "COM1:=9600,n,8,1|COM3:=|"
lap "registry and win.ini"

# ---------------------------------------------------------------- main flow
printf 'hello' >"$TMP/work/a.txt"
head -c 1234 /dev/zero >"$TMP/work/sub/b.bin"
STUB_REC="$TMP/stub_record.txt"
check "boxclick starts" boxclick_start "$TMP/boxes.log" "Selftest question=NO;*=OK" 40
cd "$TMP/work" || exit 1
WSTUB_RECORD=$(wine_winpath "$STUB_REC") WSTUB_HIDE_CHECK_MS=300 \
    wine_start "$TMP/bin/app.exe" "$(wine_winpath "$TMP/sig")" "$(wine_winpath "$TMP/bin/w_setup_stub.exe")"
APP_PID=$WINE_PID
cd "$HERE" || exit 1
check "splash painted" wait_for_file "$TMP/sig/painted" 20
check "splash is a mapped X window" wait_x_window "Selftest Splash" 5
sleep 0.3
check "screenshot" screenshot "$TMP/shot.png"
lap "splash screenshot"
touch "$TMP/sig/go"
wine_wait "$APP_PID"
check "program exit code 0" eq "$WINE_RC" 0
lap "program ended"
boxclick_stop
check "boxclick stopped by its stop file" eq "$?" 0

APP_REC="$TMP/sig/app_record.txt"
HWND=$(val "$APP_REC" hwnd)
check "window handle recorded" ge "${HWND:-0}" 1
# GetVersion: high bit set on the Windows 9x line, low byte the major version
VER=$(val "$APP_REC" version)
check "GetVersion says Windows 95" eq "${VER:0:1}${VER:6:2}" "c04"
check "OEM code page 437" eq "$(val "$APP_REC" oemcp)" 437
check "COM1: seeded" eq "$(val "$APP_REC" port1)" "9600,n,8,1"
check "COM2: missing" eq "$(val "$APP_REC" port2)" "<missing>"
check "COM3: empty" eq "$(val "$APP_REC" port3)" ""
check "box answered No" eq "$(val "$APP_REC" answer)" 7
check "WinExec succeeded" ge "$(val "$APP_REC" winexec)" 32
check "WM_CLOSE reached the program" eq "$(val "$APP_REC" got_close)" 1

TAB=$'\t'
L1=$(sed -n 1p "$TMP/boxes.log" | tr -d '\r' | cut -f1-6)
L2=$(sed -n 2p "$TMP/boxes.log" | tr -d '\r' | cut -f1-6)
check "box 1 logged" eq "$L1" "Selftest question${TAB}Selftest text\\nsecond line${TAB}owner=0${TAB}icon=question${TAB}buttons=YES,NO${TAB}press=NO"
check "box 2 logged with its owner" eq "$L2" "Selftest end${TAB}All done${TAB}owner=$HWND${TAB}icon=information${TAB}buttons=OK${TAB}press=OK"
check "exactly two boxes" eq "$(wc -l <"$TMP/boxes.log")" 2

check "stub arg1" eq "$(val "$STUB_REC" arg1)" TOKEN42
check "stub arg2 is the handle" eq "$(val "$STUB_REC" arg2)" "$HWND"
check "stub arg3 is the program" eq "$(val "$STUB_REC" arg3)" "$(wine_winpath "$TMP/bin/app.exe")"
check "stub cwd" eq "$(val "$STUB_REC" cwd)" "$(wine_winpath "$TMP/work")"
check "stub sees sub\\b.bin" eq "$(vals "$STUB_REC" file | grep -F 'sub\b.bin')" "sub\\b.bin${TAB}1234"
check "stub sees a.txt" eq "$(vals "$STUB_REC" file | grep -F 'a.txt')" "a.txt${TAB}5"
check "stub lists folder sub" eq "$(val "$STUB_REC" dir)" "sub"
check "target class" eq "$(val "$STUB_REC" target_class)" SELFTEST_SPLASH
check "target title" eq "$(val "$STUB_REC" target_title)" "Selftest Splash"
check "target hidden after WinExec" eq "$(val "$STUB_REC" target_visible)" 0
check "WM_CLOSE posted" eq "$(val "$STUB_REC" posted)" 1
check "stub finished" eq "$(val "$STUB_REC" "done")" 1
check "stub signalled input idle" eq "$(val "$STUB_REC" idle)" 1

SHOT="$TMP/shot.png"
check "screenshot is 640x480" eq "$("${PIX[@]}" size "$SHOT")" "640 480"
check "gradient y*256/H in every row" "${PIX[@]}" gradient "$SHOT"
check "row 0 is black" eq "$("${PIX[@]}" rgb "$SHOT" 5 0)" "0 0 0"
check "row 479 blue 255" eq "$("${PIX[@]}" row-blue "$SHOT" 479)" 255
check "row 240 blue 128" eq "$("${PIX[@]}" row-blue "$SHOT" 240)" 128
check "white title text near y=100" ge "$("${PIX[@]}" count "$SHOT" 95 150 255 255 255)" 200
check "no white outside the title band" eq "$("${PIX[@]}" count "$SHOT" 151 479 255 255 255)" 0
check "yellow note text near y=300" ge "$("${PIX[@]}" count "$SHOT" 295 350 255 255 0)" 200
check "no yellow outside the note band" eq "$("${PIX[@]}" count "$SHOT" 0 294 255 255 0)" 0
lap "main flow checked"

# ---------------------------------------------------------------- Korean
# Row 0 (Times New Roman, charset 0) against row 1 (NanumGothic, Hangul
# charset): identical pixels in the Korean prefix, empty boxes without it.
font_probe() { # font_probe NAME -> $TMP/NAME.png, $TMP/NAME.txt, $TMP/NAME.boxes
    local n=$1
    rm -f "$TMP/sig/$n.painted"
    # the rule names the CP949 caption in UTF-8: it reaches boxclick as CP949
    WINE_LC_ALL=ko_KR.UTF-8 boxclick_start "$TMP/$n.boxes" 'Wendle 알림=OK;*=NO' 30 || return 1
    WINE_LC_ALL=ko_KR.UTF-8 wine_start "$TMP/bin/font.exe" "$(wine_winpath "$TMP/$n.txt")" \
        "$(wine_winpath "$TMP/sig/$n.painted")" 1500
    local pid=$WINE_PID
    wait_for_file "$TMP/sig/$n.painted" 20 || return 1
    sleep 0.3
    screenshot "$TMP/$n.png" || return 1
    wine_wait "$pid" || return 1
    boxclick_stop
}

check "Korean prefix" wine_prefix_init "$TMP/pko"
check "Korean font setting" wine_prefix_korean "$TMP/pko"
check "font probe, Korean prefix" font_probe ko
check "ACP 949 under LC_ALL=ko_KR.UTF-8" eq "$(val "$TMP/ko.txt" acp)" 949
check "OEM code page 949" eq "$(val "$TMP/ko.txt" oemcp)" 949
check "Times New Roman charset 0 draws exactly like NanumGothic" eq "$("${PIX[@]}" diff "$TMP/ko.png" 0 18 0 78 640 44)" 0
check "...and draws something" ge "$("${PIX[@]}" dark "$TMP/ko.png" 0 18 639 61)" 500
# caption "Wendle " + CP949 "알림", text CP949 "한글 테스트", raw bytes in the log
KO_WANT=$(printf 'Wendle \xbe\xcb\xb8\xb2\t\xc7\xd1\xb1\xdb \xc5\xd7\xbd\xba\xc6\xae\towner=0\ticon=warning\tbuttons=OK\tpress=OK')
check "CP949 box caption and text logged as raw bytes" eq "$(tr -d '\r' <"$TMP/ko.boxes" | cut -f1-6)" "$KO_WANT"
lap "Korean prefix checked"

WINE_TIMEOUT=30 wine_env "$TMP/pfx"
check "font probe, plain prefix" font_probe plain
check "without the setting the same text differs (empty boxes)" ge "$("${PIX[@]}" diff "$TMP/plain.png" 0 18 0 78 640 44)" 300
lap "plain prefix checked"

# ---------------------------------------------------------------- stub modes
# hold: the stub keeps a file open with no sharing after posting WM_CLOSE.
printf 'x' >"$TMP/work/held.txt"
cat >"$TMP/src/holdcheck.c" <<'EOF'
#include <windows.h>
#include <stdio.h>
/* Starts the stub and, once the window got WM_CLOSE, tries to delete a file
 * the stub holds: prints the error code of the first try and how many
 * 100 ms retries it took. */
static int g_closed;
static LRESULT CALLBACK wp(HWND h, UINT m, WPARAM w, LPARAM l)
{
    if (m == WM_CLOSE) { g_closed = 1; PostQuitMessage(0); return 0; }
    return DefWindowProcA(h, m, w, l);
}
int WINAPI WinMain(HINSTANCE inst, HINSTANCE p, LPSTR c, int s)
{
    WNDCLASSA wc = {0};
    HWND h;
    MSG msg;
    char cmd[1024];
    int tries = 0;
    DWORD first = 0;
    FILE *out;
    (void)p; (void)c; (void)s;
    wc.lpfnWndProc = wp; wc.hInstance = inst; wc.lpszClassName = "HOLDCHECK";
    RegisterClassA(&wc);
    h = CreateWindowExA(0, "HOLDCHECK", "Hold check", WS_POPUP, 0, 0, 10, 10, NULL, NULL, inst, NULL);
    sprintf(cmd, "%s T %lu X", __argv[1], (unsigned long)(ULONG_PTR)h);
    WinExec(cmd, SW_SHOWNORMAL);
    SetTimer(h, 1, 15000, NULL);
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        if (msg.message == WM_TIMER) break;
        DispatchMessageA(&msg);
    }
    while (!DeleteFileA("held.txt")) {
        if (!tries) first = GetLastError();
        if (++tries > 50) break;
        Sleep(100);
    }
    out = fopen(__argv[2], "w");
    fprintf(out, "closed=%d\nfirst_error=%lu\ntries=%d\n", g_closed, first, tries);
    fclose(out);
    return 0;
}
EOF
if i686-w64-mingw32-gcc -O2 -static -mwindows "$TMP/src/holdcheck.c" -o "$TMP/bin/holdcheck.exe"; then
    wine_env "$TMP/pfx"
    cd "$TMP/work" || exit 1
    WSTUB_RECORD=$(wine_winpath "$TMP/hold_record.txt") WSTUB_MODE=hold:held.txt:800 WSTUB_HIDE_CHECK_MS=0 \
        wine_run "$TMP/bin/holdcheck.exe" "$(wine_winpath "$TMP/bin/w_setup_stub.exe")" "$(wine_winpath "$TMP/hold.txt")"
    cd "$HERE" || exit 1
    check "hold: program ended" eq "$WINE_RC" 0
    check "hold: WM_CLOSE arrived" eq "$(val "$TMP/hold.txt" closed)" 1
    check "hold: stub opened the file" eq "$(val "$TMP/hold_record.txt" hold_open)" 1
    check "hold: delete failed with sharing violation" eq "$(val "$TMP/hold.txt" first_error)" 32
    T=$(val "$TMP/hold.txt" tries)
    check "hold: delete worked after the stub let go (~0.8 s)" ge "$T" 4
    check "hold: ...but not never" le "$T" 50
    check "hold: stub finished" eq "$(val "$TMP/hold_record.txt" "done")" 1
    check "hold: file deleted" test ! -e "$TMP/work/held.txt"
else
    bad "building holdcheck"
fi
lap "stub hold mode checked"

echo
if [ "$FAILS" -ne 0 ]; then
    echo "selftest: $FAILS check(s) failed"
    exit 1
fi
echo "selftest: all checks passed"
exit 0
