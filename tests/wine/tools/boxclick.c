/*
 * boxclick - answers message boxes for the Wine tests.
 *
 *   boxclick LOG RULES [STOPFILE] TIMEOUT_S
 *
 * Every 50 ms it looks at the top-level windows of class "#32770" (the
 * dialog class MessageBoxA uses).  Each box it has not seen before gets one
 * line appended to LOG, then the button chosen by RULES is pressed.
 *
 * RULES: "caption=ACTION;caption=ACTION;*=ACTION"
 *   caption   exact caption bytes; a trailing '*' makes it a prefix match;
 *             "*" alone is the default.  \xNN escapes give raw bytes (for
 *             CP949 captions when the command line cannot carry them).
 *             The rule splits at the LAST '=' so captions may contain '='.
 *   ACTION    OK | YES | NO | CANCEL | ABORT | RETRY | IGNORE | a decimal
 *             control id | NONE (log it, never press it).
 *             "ACTION@MS" presses only after the box has been up MS ms
 *             (gives a test time for a screenshot).
 *   A box whose caption matches no rule and with no "*" rule is logged
 *   with press=NONE and left alone.
 *
 * LOG line (fields separated by TAB, LF-terminated, one line per box,
 * written and flushed at once):
 *   caption  text  owner=<u>  icon=<name>  buttons=<A,B>  press=<what>  pid=<u>  t=<ms>
 *   caption and text are the raw bytes GetWindowTextA / GetDlgItemTextA
 *   give (ANSI code page of this process: run it under the same locale as
 *   the program under test to get CP949 bytes back).  CR LF and LF become
 *   the two characters "\n", a lone CR "\r", TAB "\t"; nothing else is
 *   escaped (a CP949 trail byte may be 0x5C).
 *   owner is GetWindow(box, GW_OWNER) as unsigned decimal (0 = none).
 *   icon is none (the icon control holds no icon) / information /
 *   question / warning / error / unknown (some other icon), found by
 *   comparing the icon control's pixels on screen with the stock icons
 *   drawn by this process.
 *   press is the button pressed, "NONE", or "X!missing->Y" when the
 *   rule's button is not in the box and the default button Y (the
 *   BS_DEFPUSHBUTTON one, else the first) was pressed instead.
 *
 * STOPFILE (optional; "-" for none): when the file exists boxclick exits 0.
 * TIMEOUT_S: boxclick exits 2 after that many seconds.  Bad arguments: 3;
 * log cannot be opened: 4.
 */
#define WIN32_LEAN_AND_MEAN
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#define POLL_MS 50
#define MAX_RULES 32
#define MAX_BOXES 256
#define ICON_CTL_ID 0x0440 /* id of the icon static in a message box */
#define TEXT_CTL_ID 0xFFFF /* id of the text static in a message box */

struct rule {
    char caption[512];
    int prefix;    /* caption ends with '*' */
    int any;       /* the "*" rule */
    int id;        /* control id to press, 0 = NONE */
    char name[16]; /* for the log */
    DWORD delay_ms;
};

struct box {
    HWND hwnd;
    int state; /* 0 seen, 1 logged (press after delay), 2 pressed, 3 never press */
    DWORD first_seen;
    DWORD pressed_at;
    DWORD delay_ms;
    int id;    /* id to press */
    int alive; /* found in the current poll */
};

static struct rule g_rules[MAX_RULES];
static int g_nrules;
static struct box g_boxes[MAX_BOXES];
static int g_nboxes;
static HANDLE g_log = INVALID_HANDLE_VALUE;
static DWORD g_start;

static const struct {
    const char* name;
    int id;
} g_buttons[] = {
    {"OK", IDOK},         {"CANCEL", IDCANCEL}, {"ABORT", IDABORT}, {"RETRY", IDRETRY},
    {"IGNORE", IDIGNORE}, {"YES", IDYES},       {"NO", IDNO},       {"CLOSE", 8},
    {"HELP", 9},          {"TRYAGAIN", 10},     {"CONTINUE", 11},
};

static const char* button_name(int id, char* buf) {
    size_t i;
    for (i = 0; i < sizeof g_buttons / sizeof g_buttons[0]; i++)
        if (g_buttons[i].id == id) return g_buttons[i].name;
    sprintf(buf, "%d", id);
    return buf;
}

static int hexval(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

/* Copies src to dst turning \xNN into bytes. */
static void unescape(char* dst, size_t cap, const char* src, size_t len) {
    size_t o = 0, i = 0;
    while (i < len && o + 1 < cap) {
        if (src[i] == '\\' && i + 3 < len && src[i + 1] == 'x' && hexval(src[i + 2]) >= 0 &&
            hexval(src[i + 3]) >= 0) {
            dst[o++] = (char)(hexval(src[i + 2]) * 16 + hexval(src[i + 3]));
            i += 4;
        } else {
            dst[o++] = src[i++];
        }
    }
    dst[o] = 0;
}

static int parse_action(struct rule* r, const char* s, size_t len) {
    char word[32];
    const char* at;
    size_t wl, i;

    at = (const char*)memchr(s, '@', len);
    wl = at ? (size_t)(at - s) : len;
    if (wl == 0 || wl >= sizeof word) return 0;
    for (i = 0; i < wl; i++) word[i] = (char)toupper((unsigned char)s[i]);
    word[wl] = 0;
    r->delay_ms = at ? (DWORD)strtoul(at + 1, NULL, 10) : 0;
    if (!strcmp(word, "NONE")) {
        r->id = 0;
        strcpy(r->name, "NONE");
        return 1;
    }
    for (i = 0; i < sizeof g_buttons / sizeof g_buttons[0]; i++) {
        if (!strcmp(word, g_buttons[i].name)) {
            r->id = g_buttons[i].id;
            strcpy(r->name, g_buttons[i].name);
            return 1;
        }
    }
    if (word[0] >= '0' && word[0] <= '9') {
        r->id = atoi(word);
        strcpy(r->name, word);
        return 1;
    }
    return 0;
}

static int parse_rules(const char* s) {
    while (*s) {
        const char* end = strchr(s, ';');
        const char *eq, *p;
        size_t len = end ? (size_t)(end - s) : strlen(s);
        struct rule* r;

        if (len == 0) {
            s += 1;
            continue;
        }
        if (g_nrules >= MAX_RULES) return 0;
        eq = NULL;
        for (p = s; p < s + len; p++)
            if (*p == '=') eq = p;
        if (!eq) return 0;
        r = &g_rules[g_nrules];
        memset(r, 0, sizeof *r);
        unescape(r->caption, sizeof r->caption, s, (size_t)(eq - s));
        if (!strcmp(r->caption, "*")) {
            r->any = 1;
        } else {
            size_t cl = strlen(r->caption);
            if (cl && r->caption[cl - 1] == '*') {
                r->prefix = 1;
                r->caption[cl - 1] = 0;
            }
        }
        if (!parse_action(r, eq + 1, len - (size_t)(eq + 1 - s))) return 0;
        g_nrules++;
        s += len;
        if (*s == ';') s++;
    }
    return 1;
}

static const struct rule* match_rule(const char* caption) {
    int i;
    for (i = 0; i < g_nrules; i++) {
        const struct rule* r = &g_rules[i];
        if (r->any) continue;
        if (r->prefix ? !strncmp(caption, r->caption, strlen(r->caption))
                      : !strcmp(caption, r->caption))
            return r;
    }
    for (i = 0; i < g_nrules; i++)
        if (g_rules[i].any) return &g_rules[i];
    return NULL;
}

/* Appends src to dst with CR/LF/TAB escaped. */
static void append_escaped(char* dst, size_t cap, const char* src) {
    size_t o = strlen(dst);
    for (; *src && o + 3 < cap; src++) {
        if (src[0] == '\r' && src[1] == '\n') {
            dst[o++] = '\\';
            dst[o++] = 'n';
            src++;
        } else if (*src == '\n') {
            dst[o++] = '\\';
            dst[o++] = 'n';
        } else if (*src == '\r') {
            dst[o++] = '\\';
            dst[o++] = 'r';
        } else if (*src == '\t') {
            dst[o++] = '\\';
            dst[o++] = 't';
        } else {
            dst[o++] = *src;
        }
    }
    dst[o] = 0;
}

static void log_line(const char* line) {
    DWORD done;
    WriteFile(g_log, line, (DWORD)strlen(line), &done, NULL);
    FlushFileBuffers(g_log);
}

/* ---- icon recognition ------------------------------------------------- */

/* Reads w x h pixels at (x, y) from dc into a top-down 32-bit buffer. */
static DWORD* grab(HDC src, int x, int y, int w, int h) {
    BITMAPINFO bi;
    HDC mem;
    HBITMAP bmp, old;
    void* bits = NULL;
    DWORD* copy;

    memset(&bi, 0, sizeof bi);
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    mem = CreateCompatibleDC(src);
    bmp = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, NULL, 0);
    if (!bmp) {
        DeleteDC(mem);
        return NULL;
    }
    old = (HBITMAP)SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, src, x, y, SRCCOPY);
    GdiFlush();
    copy = (DWORD*)malloc((size_t)w * h * 4);
    if (copy) memcpy(copy, bits, (size_t)w * h * 4);
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    return copy;
}

/* Draws a stock icon on a background of colour bg the way the icon static
 * draws it, and returns the pixels. */
static DWORD* render_icon(LPCSTR which, int w, int h, DWORD bg) {
    BITMAPINFO bi;
    HDC screen, mem;
    HBITMAP bmp, old;
    void* bits = NULL;
    DWORD* copy = NULL;
    HICON icon = LoadIconA(NULL, which);
    int i;

    if (!icon) return NULL;
    memset(&bi, 0, sizeof bi);
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    screen = GetDC(NULL);
    mem = CreateCompatibleDC(screen);
    ReleaseDC(NULL, screen);
    bmp = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, NULL, 0);
    if (!bmp) {
        DeleteDC(mem);
        return NULL;
    }
    old = (HBITMAP)SelectObject(mem, bmp);
    for (i = 0; i < w * h; i++) ((DWORD*)bits)[i] = bg;
    DrawIconEx(mem, 0, 0, icon, 0, 0, 0, NULL, DI_NORMAL);
    GdiFlush();
    copy = (DWORD*)malloc((size_t)w * h * 4);
    if (copy) memcpy(copy, bits, (size_t)w * h * 4);
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    return copy;
}

static const char* identify_icon_once(HWND box) {
    static const struct {
        const char* name;
        LPCSTR id;
    } stock[] = {
        {"information", IDI_ASTERISK},
        {"question", IDI_QUESTION},
        {"warning", IDI_EXCLAMATION},
        {"error", IDI_HAND},
    };
    HWND ctl = GetDlgItem(box, ICON_CTL_ID);
    RECT rc;
    HDC screen;
    DWORD* shot;
    DWORD_PTR icon = 0;
    int w, h, i, k, best = -1;
    long best_diff = 0;

    if (!ctl || !IsWindowVisible(ctl)) return "none";
    /* With no icon the control stays (Wine lets it overlap the text) but
     * holds no icon handle. */
    if (!SendMessageTimeoutA(ctl, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 1000, &icon))
        return "unknown";
    if (!icon) return "none";
    if (!GetWindowRect(ctl, &rc)) return "unknown";
    w = rc.right - rc.left;
    h = rc.bottom - rc.top;
    if (w <= 0 || h <= 0 || w > 256 || h > 256) return "unknown";
    screen = GetDC(NULL);
    shot = grab(screen, rc.left, rc.top, w, h);
    ReleaseDC(NULL, screen);
    if (!shot) return "unknown";
    for (i = 0; i < 4; i++) {
        /* The corners of all stock icons are transparent, so the top-left
         * pixel on screen is the dialog background. */
        DWORD* ref = render_icon(stock[i].id, w, h, shot[0]);
        long diff = 0;
        if (!ref) continue;
        for (k = 0; k < w * h; k++)
            if ((ref[k] & 0xFFFFFF) != (shot[k] & 0xFFFFFF)) diff++;
        free(ref);
        if (best < 0 || diff < best_diff) {
            best = i;
            best_diff = diff;
        }
    }
    free(shot);
    if (best < 0 || best_diff * 10 > (long)w * h) return "unknown";
    return stock[best].name;
}

/* The icon is read from the screen, so give a box that has not painted
 * yet up to a second. */
static const char* identify_icon(HWND box) {
    const char* name = "unknown";
    int tries;
    for (tries = 0; tries < 20; tries++) {
        name = identify_icon_once(box);
        if (strcmp(name, "unknown") != 0 || !IsWindow(box)) break;
        Sleep(50);
    }
    return name;
}

/* ---- boxes ------------------------------------------------------------ */

static void list_buttons(HWND box, char* out, size_t cap) {
    HWND c;
    char cls[32], nb[16];
    out[0] = 0;
    for (c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        int id;
        if (!GetClassNameA(c, cls, sizeof cls) || lstrcmpiA(cls, "Button")) continue;
        if (!IsWindowVisible(c)) continue;
        id = GetDlgCtrlID(c);
        if (out[0] && strlen(out) + 1 < cap) strcat(out, ",");
        if (strlen(out) + 12 < cap) strcat(out, button_name(id, nb));
    }
}

/* The button Enter would press: the one styled BS_DEFPUSHBUTTON, else the
 * first visible button. */
static int default_button(HWND box) {
    HWND c;
    char cls[32];
    int first = 0;
    for (c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (!GetClassNameA(c, cls, sizeof cls) || lstrcmpiA(cls, "Button")) continue;
        if (!IsWindowVisible(c)) continue;
        if ((GetWindowLongA(c, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON) return GetDlgCtrlID(c);
        if (!first) first = GetDlgCtrlID(c);
    }
    return first ? first : IDOK;
}

static void press(HWND box, int id) {
    HWND btn = GetDlgItem(box, id);
    /* WM_COMMAND to the dialog is what a click ends in; posting it keeps
     * this loop from blocking on the box's thread. */
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)btn);
}

static struct box* find_box(HWND h) {
    int i;
    for (i = 0; i < g_nboxes; i++)
        if (g_boxes[i].hwnd == h) return &g_boxes[i];
    return NULL;
}

static void handle_new(struct box* b) {
    static char line[8192];
    char caption[1024], text[4096], buttons[128], nb[16], pressbuf[64];
    const struct rule* r;
    HWND owner;
    DWORD pid = 0;
    const char* icon;
    int id;

    caption[0] = text[0] = 0;
    GetWindowTextA(b->hwnd, caption, sizeof caption);
    GetDlgItemTextA(b->hwnd, TEXT_CTL_ID, text, sizeof text);
    owner = GetWindow(b->hwnd, GW_OWNER);
    GetWindowThreadProcessId(b->hwnd, &pid);
    list_buttons(b->hwnd, buttons, sizeof buttons);
    icon = identify_icon(b->hwnd);

    r = match_rule(caption);
    id = r ? r->id : 0;
    if (id && !GetDlgItem(b->hwnd, id)) {
        int def = default_button(b->hwnd);
        sprintf(pressbuf, "%s!missing->", r->name);
        strcat(pressbuf, button_name(def, nb));
        id = def;
    } else if (id) {
        strcpy(pressbuf, button_name(id, nb));
    } else {
        strcpy(pressbuf, "NONE");
    }

    line[0] = 0;
    append_escaped(line, sizeof line, caption);
    strcat(line, "\t");
    append_escaped(line, sizeof line, text);
    sprintf(line + strlen(line), "\towner=%lu\ticon=%s\tbuttons=%s\tpress=%s\tpid=%lu\tt=%lu\n",
            (unsigned long)(ULONG_PTR)owner, icon, buttons, pressbuf, (unsigned long)pid,
            (unsigned long)(GetTickCount() - g_start));
    log_line(line);

    b->id = id;
    b->state = id ? 1 : 3;          /* 3: never pressed */
    b->first_seen = GetTickCount(); /* a delay counts from here */
    b->delay_ms = r ? r->delay_ms : 0;
}

static BOOL CALLBACK enum_proc(HWND h, LPARAM lp) {
    char cls[16];
    struct box* b;
    (void)lp;
    if (!GetClassNameA(h, cls, sizeof cls) || strcmp(cls, "#32770")) return TRUE;
    b = find_box(h);
    if (!b) {
        if (!IsWindowVisible(h) || g_nboxes >= MAX_BOXES) return TRUE;
        b = &g_boxes[g_nboxes++];
        memset(b, 0, sizeof *b);
        b->hwnd = h;
        b->state = 0; /* read it on the next poll, after it has painted */
    }
    b->alive = 1;
    return TRUE;
}

static void poll_once(void) {
    int i;
    for (i = 0; i < g_nboxes; i++) g_boxes[i].alive = 0;
    EnumWindows(enum_proc, 0);
    /* forget boxes that are gone (handles can be reused) */
    for (i = 0; i < g_nboxes;) {
        if (!g_boxes[i].alive || !IsWindow(g_boxes[i].hwnd)) {
            g_boxes[i] = g_boxes[--g_nboxes];
            continue;
        }
        i++;
    }
    for (i = 0; i < g_nboxes; i++) {
        struct box* b = &g_boxes[i];
        DWORD now = GetTickCount();
        if (b->state == 0) {
            if (!b->first_seen) {
                b->first_seen = now ? now : 1;
                continue;
            }
            handle_new(b);
            now = GetTickCount();
        }
        if (b->state == 1 && now - b->first_seen >= b->delay_ms) {
            press(b->hwnd, b->id);
            b->state = 2;
            b->pressed_at = now;
        } else if (b->state == 2 && now - b->pressed_at >= 1000) {
            /* still there a second after the press: press again */
            press(b->hwnd, b->id);
            b->pressed_at = now;
        }
    }
}

int main(int argc, char** argv) {
    const char *log_path, *rules, *stop = NULL;
    double timeout_s;
    DWORD limit;

    if (argc != 4 && argc != 5) {
        fprintf(stderr, "usage: boxclick LOG RULES [STOPFILE] TIMEOUT_S\n");
        return 3;
    }
    log_path = argv[1];
    rules = argv[2];
    if (argc == 5 && strcmp(argv[3], "-") != 0) stop = argv[3];
    timeout_s = atof(argv[argc - 1]);
    if (timeout_s <= 0 || !parse_rules(rules)) {
        fprintf(stderr, "boxclick: bad rules or timeout\n");
        return 3;
    }
    g_log = CreateFileA(log_path, FILE_APPEND_DATA,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, NULL);
    if (g_log == INVALID_HANDLE_VALUE) return 4;

    g_start = GetTickCount();
    limit = (DWORD)(timeout_s * 1000.0);
    for (;;) {
        poll_once();
        if (stop && GetFileAttributesA(stop) != INVALID_FILE_ATTRIBUTES) break;
        if (GetTickCount() - g_start >= limit) {
            CloseHandle(g_log);
            return 2;
        }
        Sleep(POLL_MS);
    }
    CloseHandle(g_log);
    return 0;
}
