#include "corpus.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <initializer_list>

namespace corpus {

namespace {

using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------------------
// Picking things with skewed frequencies

// Picks an index with weight proportional to SCALE / (index + offset): a
// Zipf-like skew, the way words and opcodes are really used.
class Skewed {
  public:
    Skewed(size_t count, uint32_t offset) {
        uint32_t total = 0;
        for (size_t i = 0; i < count; ++i) {
            total += 1000000u / uint32_t(i + offset);
            cumulative_.push_back(total);
        }
    }
    size_t pick(Rng& rng) const {
        const uint32_t x = rng.below(cumulative_.back());
        return size_t(std::upper_bound(cumulative_.begin(), cumulative_.end(), x) -
                      cumulative_.begin());
    }

  private:
    std::vector<uint32_t> cumulative_;
};

template <size_t N>
const char* pick_from(Rng& rng, const char* const (&list)[N]) {
    return list[rng.below(N)];
}

uint64_t seed_for(uint64_t seed, const std::string& path) {
    uint64_t h = 0xCBF29CE484222325ull; // FNV-1a
    for (char c : path) h = (h ^ uint8_t(c)) * 0x100000001B3ull;
    Rng mix(seed ^ h);
    return mix.next();
}

void put_u16(Bytes& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void put_u32(Bytes& out, uint32_t v) {
    put_u16(out, v & 0xFFFF);
    put_u16(out, v >> 16);
}
void put_text(Bytes& out, const std::string& s) {
    out.insert(out.end(), s.begin(), s.end());
}

// Joins its parts. The parts of a braced list are evaluated strictly left to
// right, unlike the operands of '+' or a function's arguments, so pieces that
// draw from the generator must be joined with this to come out the same under
// every compiler.
std::string cat(std::initializer_list<std::string> parts) {
    std::string s;
    for (const std::string& p : parts) s += p;
    return s;
}

// ---------------------------------------------------------------------------
// Word lists

// Roughly in order of how often they turn up in a program's manual.
const char* const WORDS[] = {
    "the",         "of",           "to",        "and",       "a",
    "in",          "is",           "you",       "that",      "for",
    "it",          "be",           "on",        "with",      "as",
    "this",        "are",          "or",        "by",        "can",
    "file",        "not",          "from",      "your",      "at",
    "if",          "will",         "an",        "have",      "all",
    "program",     "which",        "when",      "disk",      "one",
    "more",        "has",          "files",     "use",       "there",
    "must",        "into",         "directory", "drive",     "may",
    "setup",       "other",        "each",      "then",      "new",
    "also",        "do",           "any",       "these",     "only",
    "them",        "their",        "but",       "was",       "its",
    "data",        "installation", "system",    "we",        "some",
    "make",        "so",           "time",      "would",     "press",
    "out",         "up",           "first",     "than",      "been",
    "memory",      "select",       "see",       "two",       "way",
    "how",         "menu",         "most",      "screen",    "option",
    "information", "could",        "should",    "after",     "before",
    "name",        "about",        "computer",  "over",      "such",
    "where",       "through",      "default",   "version",   "following",
    "window",      "text",         "copy",      "install",   "user",
    "change",      "list",         "same",      "what",      "under",
    "used",        "network",      "printer",   "settings",  "key",
    "command",     "while",        "path",      "between",   "enter",
    "type",        "dialog",       "box",       "button",    "click",
    "read",        "write",        "display",   "run",       "start",
    "save",        "open",         "close",     "load",      "configuration",
    "software",    "hardware",     "card",      "mode",      "space",
    "free",        "required",     "available", "current",   "display",
    "section",     "chapter",      "page",      "manual",    "example",
    "note",        "error",        "message",   "problem",   "work",
    "works",       "need",         "needs",     "without",   "again",
    "also",        "very",         "many",      "much",      "because",
    "those",       "well",         "just",      "still",     "both",
    "three",       "second",       "next",      "last",      "previous",
    "number",      "value",        "values",    "line",      "lines",
    "character",   "characters",   "format",    "formats",   "driver",
    "drivers",     "sound",        "video",     "graphics",  "resolution",
    "color",       "colors",       "mouse",     "keyboard",  "joystick",
    "port",        "address",      "interrupt", "channel",   "device",
    "devices",     "control",      "panel",     "group",     "icon",
    "icons",       "item",         "items",     "field",     "fields",
    "record",      "records",      "database",  "report",    "reports",
    "table",       "tables",       "column",    "columns",   "row",
    "rows",        "document",     "documents", "font",      "fonts",
    "size",        "sizes",        "large",     "small",     "high",
    "low",         "fast",         "slow",      "better",    "best",
    "easy",        "simple",       "complete",  "full",      "partial",
    "automatic",   "manual",       "custom",    "standard",  "typical",
    "minimum",     "maximum",      "original",  "backup",    "restore",
    "update",      "upgrade",      "remove",    "delete",    "replace",
    "create",      "created",      "contains",  "include",   "includes",
    "included",    "provides",     "allows",    "requires",  "supports",
    "appears",     "described",    "shown",     "below",     "above",
    "left",        "right",        "top",       "bottom",    "upper",
    "lower",       "previously",   "already",   "usually",   "normally",
    "always",      "never",        "often",     "sometimes", "however",
    "therefore",   "instead",      "otherwise", "although",  "unless",
};
constexpr size_t WORD_COUNT = sizeof WORDS / sizeof WORDS[0];

const char* const PHRASES[] = {
    "in the",
    "of the",
    "to the",
    "on the",
    "for the",
    "from the",
    "with the",
    "at the",
    "you can",
    "you must",
    "you want to",
    "if you",
    "make sure that",
    "for example",
    "the setup program",
    "the installation program",
    "your hard disk",
    "the current directory",
    "press ENTER",
    "press ESC to cancel",
    "the Control Panel",
    "see also",
    "as shown below",
    "in this chapter",
    "for more information",
    "the following table",
    "by default",
    "is not available",
    "cannot be found",
    "the file name",
    "the disk drive",
    "the sound card",
    "the video mode",
    "is installed",
    "on your computer",
};

const char* const NAMES[] = {
    "Windows",
    "DOS",
    "SETUP.EXE",
    "CONFIG.SYS",
    "AUTOEXEC.BAT",
    "README.TXT",
    "Program Manager",
    "File Manager",
    "SoundBlaster",
    "VGA",
    "SVGA",
    "EMS",
    "XMS",
    "HIMEM.SYS",
    "SMARTDRV",
    "WIN.INI",
    "SYSTEM.INI",
    "Appendix",
    "Table",
    "Figure",
    "Help",
};

const char* const IDENT_PARTS[] = {
    "buf",   "len",   "count",  "index",  "file",   "name",   "path",   "size",  "data",   "ptr",
    "node",  "list",  "next",   "prev",   "head",   "tail",   "key",    "value", "flags",  "mode",
    "state", "error", "result", "offset", "pos",    "block",  "entry",  "table", "item",   "char",
    "byte",  "word",  "line",   "text",   "read",   "write",  "open",   "close", "init",   "free",
    "alloc", "copy",  "find",   "load",   "save",   "parse",  "print",  "check", "update", "reset",
    "get",   "set",   "make",   "add",    "remove", "window", "screen", "draw",  "pixel",  "color",
    "font",  "menu",  "dialog", "disk",   "drive",
};

const char* const C_TYPES[] = {
    "int",          "int",    "int",    "unsigned",      "long",   "char *",
    "const char *", "void *", "short",  "unsigned char", "size_t", "BOOL",
    "WORD",         "DWORD",  "HANDLE", "struct node *",
};

const char* const EXTENSIONS[] = {"DLL", "EXE", "DAT", "HLP", "INI", "TXT", "FON", "DRV",
                                  "BMP", "WAV", "CFG", "OVL", "SYS", "COM", "LIB"};

const char* const SYLLABLES[] = {"WIN", "SYS", "SET", "UP",   "DRV",  "SND", "VID", "GFX", "MSG",
                                 "KRN", "USR", "GDI", "APP",  "CFG",  "LIB", "RES", "HLP", "FNT",
                                 "TMP", "DAT", "INS", "MAIN", "CORE", "NET", "PRN", "VGA"};

const char* const IMPORTS[] = {
    "GetProcAddress",
    "LoadLibraryA",
    "GetModuleHandleA",
    "CreateFileA",
    "ReadFile",
    "WriteFile",
    "CloseHandle",
    "GetLastError",
    "SetFilePointer",
    "GetFileSize",
    "GlobalAlloc",
    "GlobalFree",
    "GlobalLock",
    "GlobalUnlock",
    "LocalAlloc",
    "LocalFree",
    "lstrcpyA",
    "lstrcatA",
    "lstrlenA",
    "lstrcmpiA",
    "wsprintfA",
    "MessageBoxA",
    "CreateWindowExA",
    "ShowWindow",
    "UpdateWindow",
    "GetMessageA",
    "DispatchMessageA",
    "TranslateMessage",
    "DefWindowProcA",
    "RegisterClassA",
    "LoadIconA",
    "LoadCursorA",
    "BeginPaint",
    "EndPaint",
    "GetDC",
    "ReleaseDC",
    "SelectObject",
    "DeleteObject",
    "CreateSolidBrush",
    "TextOutA",
    "SetTextColor",
    "SetBkMode",
    "BitBlt",
    "StretchBlt",
    "GetSystemMetrics",
    "SendMessageA",
    "PostMessageA",
    "SetWindowTextA",
    "GetDlgItem",
    "EnableWindow",
    "DialogBoxParamA",
    "EndDialog",
    "GetPrivateProfileStringA",
    "WritePrivateProfileStringA",
    "GetWindowsDirectoryA",
    "GetSystemDirectoryA",
    "GetDiskFreeSpaceA",
    "CreateDirectoryA",
    "DeleteFileA",
    "CopyFileA",
    "MoveFileA",
    "FindFirstFileA",
    "FindNextFileA",
    "FindClose",
    "GetTickCount",
    "Sleep",
    "ExitProcess",
};

// ---------------------------------------------------------------------------
// Text

// Accumulates words into lines wrapped at a column, with CRLF endings.
class Wrapper {
  public:
    Wrapper(Bytes& out, size_t width) : out_(out), width_(width) {}
    void word(const std::string& w) {
        if (column_ && column_ + 1 + w.size() > width_) newline();
        if (column_) {
            out_.push_back(' ');
            ++column_;
        }
        put_text(out_, w);
        column_ += w.size();
    }
    void newline() {
        out_.push_back('\r');
        out_.push_back('\n');
        column_ = 0;
    }
    void end_paragraph() {
        if (column_) newline();
        newline();
    }

  private:
    Bytes& out_;
    size_t width_;
    size_t column_ = 0;
};

std::string capitalised(std::string w) {
    if (!w.empty() && w[0] >= 'a' && w[0] <= 'z') w[0] = char(w[0] - 'a' + 'A');
    return w;
}

std::string upper(std::string w) {
    for (char& c : w)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return w;
}

std::string dos_name(Rng& rng) {
    std::string n = pick_from(rng, SYLLABLES);
    if (rng.chance(2, 3)) n += pick_from(rng, SYLLABLES);
    if (n.size() > 8) n.resize(8);
    if (rng.chance(1, 3)) n += std::to_string(rng.below(100));
    if (n.size() > 8) n.resize(8);
    return n + "." + pick_from(rng, EXTENSIONS);
}

std::string dos_path(Rng& rng) {
    std::string p = rng.chance(3, 4) ? "C:\\" : "D:\\";
    const uint32_t depth = rng.range(1, 3);
    for (uint32_t i = 0; i < depth; ++i) {
        std::string part = pick_from(rng, SYLLABLES);
        if (rng.chance(1, 2)) part += pick_from(rng, SYLLABLES);
        p += part.substr(0, 8) + "\\";
    }
    return p;
}

void prose(Rng& rng, size_t size, Bytes& out) {
    static const Skewed words(WORD_COUNT, 6);
    Wrapper wrap(out, 72);
    uint32_t section = 1, subsection = 0;
    while (out.size() < size) {
        if (rng.chance(1, 12)) { // a heading
            std::string heading;
            if (rng.chance(1, 4)) {
                ++section;
                subsection = 0;
                heading = cat({"CHAPTER ", std::to_string(section), ": ",
                               upper(WORDS[words.pick(rng)]), " ", upper(WORDS[words.pick(rng)])});
            } else {
                ++subsection;
                heading =
                    cat({std::to_string(section), ".", std::to_string(subsection), " ",
                         capitalised(WORDS[words.pick(rng)]), " the ", WORDS[words.pick(rng)]});
            }
            put_text(out, heading);
            wrap.newline();
            put_text(out, std::string(heading.size(), rng.chance(1, 2) ? '-' : '='));
            wrap.end_paragraph();
        }
        const uint32_t sentences = rng.range(2, 8);
        for (uint32_t s = 0; s < sentences; ++s) {
            const uint32_t length = rng.range(4, 22);
            for (uint32_t i = 0; i < length; ++i) {
                std::string w;
                const uint32_t roll = rng.below(100);
                if (roll < 14)
                    w = pick_from(rng, PHRASES);
                else if (roll < 17)
                    w = pick_from(rng, NAMES);
                else if (roll < 19)
                    w = std::to_string(rng.below(rng.chance(1, 2) ? 100 : 65536));
                else
                    w = WORDS[words.pick(rng)];
                if (i == 0) w = capitalised(w);
                if (i + 1 == length) {
                    const uint32_t p = rng.below(20);
                    w += p == 0 ? "?" : p == 1 ? "!" : p == 2 ? ":" : ".";
                } else if (rng.chance(1, 10)) {
                    w += rng.chance(1, 6) ? ";" : ",";
                }
                // Spaces inside phrases are wrapped like any other.
                size_t start = 0;
                for (size_t sp; (sp = w.find(' ', start)) != std::string::npos; start = sp + 1)
                    wrap.word(w.substr(start, sp - start));
                wrap.word(w.substr(start));
            }
        }
        wrap.end_paragraph();
    }
}

std::string ident(Rng& rng, bool camel) {
    std::string name;
    const uint32_t parts = rng.range(1, 3);
    for (uint32_t i = 0; i < parts; ++i) {
        std::string p = pick_from(rng, IDENT_PARTS);
        if (camel) p = capitalised(p);
        if (i && !camel) name += "_";
        name += p;
    }
    return name;
}

void ini_text(Rng& rng, size_t size, Bytes& out) {
    static const Skewed words(WORD_COUNT, 6);
    std::string app = capitalised(ident(rng, true));
    while (out.size() < size) {
        std::string section = ident(rng, true);
        if (rng.chance(1, 3)) section += std::to_string(rng.below(16));
        put_text(out, "[" + section + "]\r\n");
        const uint32_t keys = rng.range(3, 16);
        for (uint32_t k = 0; k < keys; ++k) {
            if (rng.chance(1, 12)) {
                put_text(out, cat({"; ", capitalised(WORDS[words.pick(rng)]), " ",
                                   WORDS[words.pick(rng)], " ", WORDS[words.pick(rng)], "\r\n"}));
            }
            std::string line = ident(rng, true) + "=";
            switch (rng.below(8)) {
            case 0:
                line += std::to_string(rng.below(rng.chance(1, 2) ? 16 : 100000));
                break;
            case 1:
                line += dos_path(rng) + app.substr(0, 8);
                break;
            case 2:
                line += cat({dos_path(rng), dos_name(rng)});
                break;
            case 3:
                line += rng.chance(1, 2) ? (rng.chance(1, 2) ? "Yes" : "No")
                                         : (rng.chance(1, 2) ? "1" : "0");
                break;
            case 4: {
                char hex[16];
                snprintf(hex, sizeof hex, "0x%08X", unsigned(rng.next() & 0x00FFFFFF));
                line += hex;
                break;
            }
            case 5:
                line += cat({std::to_string(rng.range(1, 4)), ".", std::to_string(rng.below(20)),
                             ".", std::to_string(rng.below(1000))});
                break;
            case 6: {
                const uint32_t n = rng.range(2, 8);
                for (uint32_t i = 0; i < n; ++i)
                    line += (i ? "," : "") + std::to_string(rng.below(256));
                break;
            }
            default: {
                const uint32_t n = rng.range(1, 5);
                for (uint32_t i = 0; i < n; ++i)
                    line += std::string(i ? " " : "") +
                            (i ? WORDS[words.pick(rng)] : capitalised(WORDS[words.pick(rng)]));
                break;
            }
            }
            put_text(out, line + "\r\n");
        }
        put_text(out, "\r\n");
    }
}

void source_text(Rng& rng, size_t size, Bytes& out) {
    static const Skewed words(WORD_COUNT, 6);
    static const Skewed parts(sizeof IDENT_PARTS / sizeof IDENT_PARTS[0], 3);
    std::vector<std::string> functions = {"memcpy", "strlen", "malloc", "free", "printf"};
    std::vector<std::string> globals;
    put_text(out, "/*\n * " + capitalised(ident(rng, false)) + " module.\n */\n\n");
    for (const char* h : {"<stdio.h>", "<stdlib.h>", "<string.h>", "\"common.h\"", "\"screen.h\""})
        put_text(out, std::string("#include ") + h + "\n");
    put_text(out, "\n");
    auto expr = [&](const std::vector<std::string>& locals) {
        std::string e = locals[rng.below(uint32_t(locals.size()))];
        const uint32_t n = rng.below(3);
        static const char* const ops[] = {" + ", " - ", " * ", " & ", " | ", " >> ", " << "};
        for (uint32_t i = 0; i < n; ++i) {
            e += pick_from(rng, ops);
            e += rng.chance(1, 2) ? std::to_string(rng.below(rng.chance(1, 2) ? 16 : 4096))
                                  : locals[rng.below(uint32_t(locals.size()))];
        }
        return e;
    };
    while (out.size() < size) {
        if (rng.chance(1, 5)) {
            std::string g = ident(rng, false);
            globals.push_back(g);
            put_text(out,
                     cat({"static ", pick_from(rng, C_TYPES), " ", g,
                          rng.chance(1, 3) ? "[" + std::to_string(rng.range(4, 512)) + "]" : "",
                          ";\n\n"}));
        }
        if (rng.chance(1, 2)) {
            put_text(out,
                     cat({"/* ", capitalised(WORDS[words.pick(rng)]), " ", WORDS[words.pick(rng)],
                          " ", WORDS[words.pick(rng)], " ", WORDS[words.pick(rng)], ". */\n"}));
        }
        const std::string fname =
            cat({IDENT_PARTS[parts.pick(rng)], "_", IDENT_PARTS[parts.pick(rng)]});
        std::vector<std::string> locals;
        std::string params;
        const uint32_t nparams = rng.below(4);
        for (uint32_t i = 0; i < nparams; ++i) {
            const std::string p = IDENT_PARTS[parts.pick(rng)];
            locals.push_back(p);
            params += std::string(i ? ", " : "") + pick_from(rng, C_TYPES) + " " + p;
        }
        if (params.empty()) params = "void";
        put_text(out, cat({rng.chance(1, 2) ? "static " : "", pick_from(rng, C_TYPES), " ", fname,
                           "(", params, ")\n{\n"}));
        const uint32_t nlocals = rng.range(1, 4);
        for (uint32_t i = 0; i < nlocals; ++i) {
            const std::string l = IDENT_PARTS[parts.pick(rng)];
            locals.push_back(l);
            put_text(out, cat({"    ", pick_from(rng, C_TYPES), " ", l, " = ",
                               std::to_string(rng.below(3)), ";\n"}));
        }
        for (const std::string& g : globals) {
            if (rng.chance(1, 8)) locals.push_back(g);
        }
        put_text(out, "\n");
        int depth = 1;
        const uint32_t statements = rng.range(3, 30);
        for (uint32_t s = 0; s < statements; ++s) {
            const std::string indent(size_t(depth) * 4, ' ');
            const uint32_t roll = rng.below(100);
            if (roll < 15 && depth < 4) {
                put_text(out, cat({indent, "if (", locals[rng.below(uint32_t(locals.size()))],
                                   rng.chance(1, 2) ? " == " : " > ", expr(locals), ") {\n"}));
                ++depth;
            } else if (roll < 22 && depth < 4) {
                const std::string i = locals[rng.below(uint32_t(locals.size()))];
                put_text(out, indent + "for (" + i + " = 0; " + i + " < " + expr(locals) + "; " +
                                  i + "++) {\n");
                ++depth;
            } else if (roll < 32 && depth > 1) {
                --depth;
                put_text(out, std::string(size_t(depth) * 4, ' ') + "}\n");
            } else if (roll < 50) {
                std::string call = functions[rng.below(uint32_t(functions.size()))] + "(";
                const uint32_t args = rng.below(4);
                for (uint32_t a = 0; a < args; ++a) call += (a ? ", " : "") + expr(locals);
                put_text(out, indent + call + ");\n");
            } else if (roll < 54) {
                put_text(out, cat({indent, "/* ", WORDS[words.pick(rng)], " ",
                                   WORDS[words.pick(rng)], " */\n"}));
            } else if (roll < 58) {
                put_text(out, indent + "return " + expr(locals) + ";\n");
            } else {
                static const char* const assign[] = {" = ", " += ", " -= ", " |= ", " = "};
                put_text(out, cat({indent, locals[rng.below(uint32_t(locals.size()))],
                                   pick_from(rng, assign), expr(locals), ";\n"}));
            }
        }
        for (; depth > 1; --depth) put_text(out, std::string(size_t(depth - 1) * 4, ' ') + "}\n");
        put_text(out, "    return " + locals[0] + ";\n}\n\n");
        functions.push_back(fname);
    }
}

void log_text(Rng& rng, size_t size, Bytes& out) {
    uint32_t day = 12, hour = 9, minute = 30, second = 0, milli = 0;
    static const char* const levels[] = {"INFO ", "INFO ", "INFO ", "INFO ",
                                         "DEBUG", "DEBUG", "WARN ", "ERROR"};
    while (out.size() < size) {
        milli += rng.below(rng.chance(1, 10) ? 60000 : 400);
        second += milli / 1000, milli %= 1000;
        minute += second / 60, second %= 60;
        hour += minute / 60, minute %= 60;
        day += hour / 24, hour %= 24;
        if (day > 28) day = 1;
        char stamp[64];
        snprintf(stamp, sizeof stamp, "1996-05-%02u %02u:%02u:%02u.%03u [%s] ", day, hour, minute,
                 second, milli, pick_from(rng, levels));
        std::string line = stamp;
        const std::string file = dos_name(rng);
        switch (rng.below(7)) {
        case 0:
        case 1:
            line += cat({"Copying ", dos_path(rng), file, " to ", dos_path(rng), file, " (",
                         std::to_string(rng.range(100, 900000)), " bytes)"});
            break;
        case 2:
            line += cat({"Registry key HKEY_LOCAL_MACHINE\\Software\\",
                         capitalised(ident(rng, true)), "\\", capitalised(ident(rng, true)),
                         " set to \"", std::to_string(rng.below(1000)), "\""});
            break;
        case 3:
            line += cat({"Checking free space on drive ", rng.chance(3, 4) ? "C:" : "D:", " ",
                         std::to_string(rng.next() % 900000000), " bytes free"});
            break;
        case 4:
            line += "Decompressing " + file + ": " + std::to_string(rng.below(101)) + "% done";
            break;
        case 5:
            line += cat({"Updating ", dos_path(rng), "WIN.INI section [",
                         capitalised(ident(rng, true)), "]"});
            break;
        default:
            line += "Created directory " + dos_path(rng);
            break;
        }
        put_text(out, line + "\r\n");
    }
}

// ---------------------------------------------------------------------------
// Binary-like data

// 32-bit x86-like code: functions with frame prologues and epilogues, stack
// and global operands from small sets, calls to earlier functions and through
// an import table, padding between functions.
void x86_code(Rng& rng, size_t size, Bytes& out, uint32_t base) {
    static const Skewed ops(24, 2);
    static const Skewed frame(12, 1);
    static const Skewed imports(64, 3);
    static const Skewed globals(400, 5);
    std::vector<uint32_t> starts;
    const uint32_t iat = 0x00402000;
    const uint32_t data = 0x0040A000;
    auto disp = [&] {
        const uint32_t k = uint32_t(frame.pick(rng));
        return uint8_t(rng.chance(3, 4) ? uint8_t(0x100 - 4 * (k + 1)) : uint8_t(8 + 4 * k));
    };
    const size_t begin = out.size();
    while (out.size() - begin < size) {
        const uint32_t ip0 = base + uint32_t(out.size() - begin);
        starts.push_back(ip0);
        // Prologue.
        put_text(out, "\x55\x8B\xEC");
        if (rng.chance(2, 3)) {
            out.push_back(0x83), out.push_back(0xEC), out.push_back(uint8_t(4 * rng.range(1, 16)));
        }
        for (uint32_t r = rng.below(4); r; --r)
            out.push_back(uint8_t(0x53 + rng.below(4))); // push ebx..edi
        const uint32_t count = rng.range(6, 120);
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t ip = base + uint32_t(out.size() - begin);
            switch (ops.pick(rng)) {
            case 0:
                out.push_back(0x8B), out.push_back(0x45), out.push_back(disp());
                break; // mov eax,[ebp+d]
            case 1:
                out.push_back(0x89), out.push_back(0x45), out.push_back(disp());
                break; // mov [ebp+d],eax
            case 2: {  // call rel32 to an earlier function
                const uint32_t target = starts[rng.below(uint32_t(starts.size()))];
                out.push_back(0xE8), put_u32(out, target - (ip + 5));
                break;
            }
            case 3:
                out.push_back(uint8_t(0x50 + rng.below(8)));
                break; // push reg
            case 4:
                out.push_back(0x85), out.push_back(0xC0);
                break; // test eax,eax
            case 5:
                out.push_back(rng.chance(1, 2) ? 0x74 : 0x75),
                    out.push_back(uint8_t(rng.range(2, 60)));
                break;
            case 6:
                out.push_back(0x6A), out.push_back(uint8_t(rng.below(rng.chance(1, 2) ? 4 : 256)));
                break;
            case 7:
                out.push_back(0xFF), out.push_back(0x15),
                    put_u32(out, iat + 4 * uint32_t(imports.pick(rng)));
                break;
            case 8:
                out.push_back(0x83), out.push_back(0xC4),
                    out.push_back(uint8_t(4 * rng.range(1, 6)));
                break;
            case 9:
                out.push_back(0x8B), out.push_back(0x4D), out.push_back(disp());
                break; // mov ecx,[ebp+d]
            case 10:
                out.push_back(0xA1), put_u32(out, data + 4 * uint32_t(globals.pick(rng)));
                break;
            case 11:
                out.push_back(0x33), out.push_back(0xC0);
                break; // xor eax,eax
            case 12:
                out.push_back(0x8D), out.push_back(0x45), out.push_back(disp());
                break; // lea
            case 13:
                out.push_back(0x68), put_u32(out, 0x00408000 + 16 * rng.below(300));
                break; // push offset
            case 14:
                out.push_back(0xC7), out.push_back(0x45), out.push_back(disp()),
                    put_u32(out, rng.below(rng.chance(1, 2) ? 2 : 1000));
                break;
            case 15:
                out.push_back(0x3B), out.push_back(uint8_t(0xC0 + rng.below(64)));
                break; // cmp r,r
            case 16:
                out.push_back(0xEB), out.push_back(uint8_t(rng.range(2, 100)));
                break;
            case 17:
                out.push_back(0x0F), out.push_back(uint8_t(0x84 + rng.below(2))),
                    put_u32(out, rng.range(6, 600));
                break;
            case 18:
                out.push_back(0x89), out.push_back(0x0D),
                    put_u32(out, data + 4 * uint32_t(globals.pick(rng)));
                break;
            case 19:
                out.push_back(uint8_t(0x58 + rng.below(8)));
                break; // pop reg
            case 20:
                out.push_back(0x8B), out.push_back(uint8_t(0xC0 + rng.below(64)));
                break; // mov r,r
            case 21:
                out.push_back(0x40 + uint8_t(rng.below(16)));
                break; // inc/dec r
            case 22:
                out.push_back(0x83), out.push_back(uint8_t(0xF8 + rng.below(8))),
                    out.push_back(uint8_t(rng.below(32)));
                break;
            default:
                out.push_back(0xC1), out.push_back(uint8_t(0xE0 + rng.below(16))),
                    out.push_back(uint8_t(rng.range(1, 31)));
                break;
            }
        }
        // Epilogue, then padding to 16 bytes.
        for (uint32_t r = rng.below(3); r; --r) out.push_back(uint8_t(0x5B + rng.below(4)));
        if (rng.chance(1, 2))
            put_text(out, "\x8B\xE5\x5D");
        else
            out.push_back(0xC9);
        if (rng.chance(1, 3))
            out.push_back(0xC2), put_u16(out, 4 * rng.range(1, 4));
        else
            out.push_back(0xC3);
        while ((out.size() - begin) % 16) out.push_back(rng.chance(1, 4) ? 0x90 : 0xCC);
    }
    out.resize(begin + size);
}

void string_table(Rng& rng, size_t size, Bytes& out, bool wide) {
    static const Skewed words(WORD_COUNT, 6);
    const size_t begin = out.size();
    while (out.size() - begin < size) {
        std::string s;
        switch (rng.below(4)) {
        case 0:
            s = pick_from(rng, IMPORTS);
            break;
        case 1:
            s = dos_name(rng);
            break;
        default: {
            const uint32_t n = rng.range(2, 9);
            for (uint32_t i = 0; i < n; ++i) {
                std::string w = WORDS[words.pick(rng)];
                s += (i ? " " : "") + (i ? w : capitalised(w));
            }
            if (rng.chance(1, 4)) s += " %s";
            if (rng.chance(1, 4)) s += rng.chance(1, 2) ? "." : "!";
        }
        }
        for (char c : s) {
            out.push_back(uint8_t(c));
            if (wide) out.push_back(0);
        }
        out.push_back(0);
        if (wide) out.push_back(0);
        while (!wide && (out.size() - begin) % 4) out.push_back(0);
    }
    out.resize(begin + size);
}

// Arrays of little-endian records: counters, small enumerations, random
// walks, running offsets, constants.
void int_tables(Rng& rng, size_t size, Bytes& out) {
    const size_t begin = out.size();
    while (out.size() - begin < size) {
        const uint32_t fields = rng.range(2, 6);
        uint32_t kind[6], state[6], step[6];
        for (uint32_t f = 0; f < fields; ++f) {
            kind[f] = rng.below(7);
            state[f] = rng.below(kind[f] == 0 ? 1000 : 100000);
            step[f] = rng.range(1, kind[f] == 0 ? 4 : 64);
        }
        const uint32_t records = rng.range(100, 4000);
        for (uint32_t r = 0; r < records && out.size() - begin < size; ++r) {
            for (uint32_t f = 0; f < fields; ++f) {
                switch (kind[f]) {
                case 0:
                    put_u32(out, state[f] += step[f]);
                    break; // counter
                case 1:
                    put_u16(out, state[f] % 7 == 0 ? 0 : (rng.below(6) << 4));
                    break; // enum
                case 2:
                    state[f] += rng.below(2 * step[f] + 1) - step[f];
                    put_u32(out, state[f]);
                    break; // walk
                case 3:
                    out.push_back(uint8_t(rng.chance(7, 8) ? 1 : rng.below(8)));
                    break; // flags
                case 4:
                    put_u16(out, uint16_t(int16_t(rng.below(200)) - 100));
                    break; // small signed
                case 5:
                    state[f] += rng.range(16, 4096) & ~15u;
                    put_u32(out, state[f]);
                    break; // offset
                default:
                    put_u32(out, state[f]);
                    break; // constant
                }
            }
        }
        // Smooth 16-bit curves, as lookup tables are.
        const uint32_t samples = rng.range(256, 4096);
        int32_t v = int32_t(rng.below(30000)), dv = 0;
        for (uint32_t i = 0; i < samples; ++i) {
            dv += int32_t(rng.below(9)) - 4;
            if (dv > 40) dv = 40;
            if (dv < -40) dv = -40;
            v += dv;
            put_u16(out, uint16_t(v));
        }
    }
    out.resize(begin + size);
}

void records_db(Rng& rng, size_t size, Bytes& out) {
    static const Skewed words(WORD_COUNT, 6);
    put_text(out, "RECDB1\x1A");
    out.resize(64, 0);
    uint32_t id = 1000, date = 0x1F2A0000;
    while (out.size() < size) {
        const size_t at = out.size();
        put_u32(out, id += rng.range(1, 3));
        std::string name = cat({capitalised(WORDS[words.pick(rng)]), " ", WORDS[words.pick(rng)]});
        name.resize(24, '\0');
        put_text(out, name);
        const uint32_t price = 100 * rng.range(1, 500);
        put_u32(out, price + (rng.chance(1, 2) ? 99 : 0));
        put_u16(out, rng.below(rng.chance(1, 3) ? 1000 : 20));
        const uint32_t days = rng.below(3);
        date += days * 0x10000 + rng.below(60);
        put_u32(out, date);
        out.push_back(uint8_t(rng.below(4)));
        out.resize(at + 64, 0);
    }
    out.resize(size);
}

// An 8-bit palette bitmap: flat background, rectangles, dithered fills,
// gradient bands and a little noise, rows written bottom up.
void bitmap8(Rng& rng, size_t size, Bytes& out) {
    const uint32_t width = size > 300000 ? 800 : 256;
    const uint32_t header = 14 + 40 + 1024;
    const uint32_t height = uint32_t((size > header ? size - header : 0) / width) + 1;
    Bytes px(size_t(width) * height, uint8_t(rng.below(256)));
    const uint32_t shapes = 8 + height / 8;
    for (uint32_t s = 0; s < shapes; ++s) {
        const uint32_t x0 = rng.below(width), y0 = rng.below(height);
        const uint32_t w = rng.range(4, width / 2), h = rng.range(2, std::max(2u, height / 6));
        const uint8_t c1 = rng.byte(), c2 = rng.byte();
        const uint32_t style = rng.below(10);
        for (uint32_t y = y0; y < std::min(height, y0 + h); ++y) {
            for (uint32_t x = x0; x < std::min(width, x0 + w); ++x) {
                uint8_t c = c1;
                if (style == 0)
                    c = ((x + y) & 1) ? c1 : c2; // dither
                else if (style == 1)
                    c = uint8_t(c1 + (x - x0) / 8); // gradient
                else if (style <= 4)
                    c = uint8_t(c1 + rng.below(style * 2)); // photo-like
                else if (style == 5 && rng.chance(1, 3))
                    c = rng.byte(); // noise
                px[size_t(y) * width + x] = c;
            }
        }
    }
    put_text(out, "BM");
    put_u32(out, uint32_t(header + px.size()));
    put_u32(out, 0);
    put_u32(out, header);
    put_u32(out, 40);
    put_u32(out, width);
    put_u32(out, height);
    put_u16(out, 1);
    put_u16(out, 8);
    put_u32(out, 0);
    put_u32(out, uint32_t(px.size()));
    put_u32(out, 2835), put_u32(out, 2835), put_u32(out, 256), put_u32(out, 0);
    for (uint32_t i = 0; i < 256; ++i) {
        // A 6x6x6 cube plus greys, as 8-bit palettes often are.
        const uint32_t r = i < 216 ? (i / 36) * 51 : (i - 216) * 6;
        const uint32_t g = i < 216 ? ((i / 6) % 6) * 51 : (i - 216) * 6;
        const uint32_t b = i < 216 ? (i % 6) * 51 : (i - 216) * 6;
        out.push_back(uint8_t(b)), out.push_back(uint8_t(g)), out.push_back(uint8_t(r)),
            out.push_back(0);
    }
    out.insert(out.end(), px.begin(), px.end());
    out.resize(size);
}

// A 1-bit 8x16 font: each glyph a few strokes.
void font_bits(Rng& rng, size_t size, Bytes& out) {
    put_text(out, "FONT8x16");
    out.resize(32, 0);
    static const uint8_t strokes[] = {0x00, 0x18, 0x3C, 0x66, 0x7E, 0x60,
                                      0x06, 0xC3, 0xFF, 0x24, 0x42, 0x81};
    while (out.size() < size) {
        uint8_t row = 0;
        for (int y = 0; y < 16; ++y) {
            if (y < 2 || y > 13)
                row = 0;
            else if (rng.chance(1, 3))
                row = strokes[rng.below(sizeof strokes)];
            out.push_back(row);
        }
    }
    out.resize(size);
}

// A program image: a header, code, strings (narrow and wide), tables, zeros.
void executable(Rng& rng, size_t size, Bytes& out) {
    put_text(out, "MZ\x90");
    out.resize(0x3C, 0);
    put_u32(out, 0x80);
    put_text(out, "This program cannot be run in DOS mode.\r\r\n$");
    out.resize(0x80, 0);
    put_text(out, std::string("PE\0\0\x4C\x01\x04\0", 8));
    out.resize(0x400, 0);
    const size_t code = size * 62 / 100;
    x86_code(rng, code, out, 0x00401000);
    string_table(rng, size * 9 / 100, out, false);
    for (const char* name : IMPORTS) {
        out.push_back(uint8_t(rng.below(256))), out.push_back(0);
        put_text(out, name);
        out.push_back(0);
        if (out.size() % 2) out.push_back(0);
    }
    int_tables(rng, size * 10 / 100, out);
    out.resize(out.size() + size * 4 / 100, 0);
    string_table(rng, size * 10 / 100, out, true);
    if (out.size() < size) int_tables(rng, size - out.size(), out);
    out.resize(size);
}

// ---------------------------------------------------------------------------
// Already-compressed data: random bytes with a small header now and then.

void compressed(Rng& rng, size_t size, Bytes& out, const char* magic) {
    while (out.size() < size) {
        const size_t at = out.size();
        put_text(out, magic);
        put_u32(out, uint32_t(at));
        const uint32_t block = rng.range(16384, 65536);
        put_u32(out, block);
        put_text(out, dos_name(rng));
        out.push_back(0);
        for (uint32_t i = 0; i < block; i += 8) {
            const uint64_t r = rng.next();
            for (int b = 0; b < 8; ++b) out.push_back(uint8_t(r >> (8 * b)));
        }
    }
    out.resize(size);
}

// ---------------------------------------------------------------------------
// The corpus plan

enum class Generator { PROSE, INI, SOURCE, LOG, EXE, TABLES, RECORDS, BITMAP, FONT, CAB, ZIP };

struct Planned {
    const char* path;
    Kind kind;
    Generator generator;
    uint64_t nominal; // bytes in the full-size corpus
};

const Planned PLAN[] = {
    {"text/manual.txt", Kind::TEXT, Generator::PROSE, 3000000},
    {"text/help.txt", Kind::TEXT, Generator::PROSE, 1150000},
    {"text/readme.txt", Kind::TEXT, Generator::PROSE, 6000},
    {"text/license.txt", Kind::TEXT, Generator::PROSE, 40000},
    {"text/setup.ini", Kind::TEXT, Generator::INI, 12000},
    {"text/options.ini", Kind::TEXT, Generator::INI, 380000},
    {"text/engine.c", Kind::TEXT, Generator::SOURCE, 2100000},
    {"text/engine.h", Kind::TEXT, Generator::SOURCE, 100000},
    {"text/install.log", Kind::TEXT, Generator::LOG, 1600000},
    {"bin/setup.exe", Kind::BINARY, Generator::EXE, 3000000},
    {"bin/engine.dll", Kind::BINARY, Generator::EXE, 1800000},
    {"bin/helper.exe", Kind::BINARY, Generator::EXE, 150000},
    {"bin/tables.dat", Kind::BINARY, Generator::TABLES, 1200000},
    {"bin/levels.dat", Kind::BINARY, Generator::TABLES, 470000},
    {"bin/records.db", Kind::BINARY, Generator::RECORDS, 700000},
    {"bin/splash.bmp", Kind::BINARY, Generator::BITMAP, 1000000},
    {"bin/icons.bmp", Kind::BINARY, Generator::BITMAP, 60000},
    {"bin/system.fnt", Kind::BINARY, Generator::FONT, 8000},
    {"data/media.cab", Kind::COMPRESSED, Generator::CAB, 2500000},
    {"data/music.dat", Kind::COMPRESSED, Generator::CAB, 1200000},
    {"data/samples.zip", Kind::COMPRESSED, Generator::ZIP, 450000},
    {"data/update.pak", Kind::COMPRESSED, Generator::ZIP, 40000},
};

Bytes make(Generator g, uint64_t seed, size_t size) {
    Rng rng(seed);
    Bytes out;
    out.reserve(size + 4096);
    switch (g) {
    case Generator::PROSE:
        prose(rng, size, out);
        break;
    case Generator::INI:
        ini_text(rng, size, out);
        break;
    case Generator::SOURCE:
        source_text(rng, size, out);
        break;
    case Generator::LOG:
        log_text(rng, size, out);
        break;
    case Generator::EXE:
        executable(rng, size, out);
        break;
    case Generator::TABLES:
        int_tables(rng, size, out);
        break;
    case Generator::RECORDS:
        records_db(rng, size, out);
        break;
    case Generator::BITMAP:
        bitmap8(rng, size, out);
        break;
    case Generator::FONT:
        font_bits(rng, size, out);
        break;
    case Generator::CAB:
        compressed(rng, size, out, "MSCF");
        break;
    case Generator::ZIP:
        compressed(rng, size, out, "PK\x03\x04");
        break;
    }
    out.resize(size);
    return out;
}

} // namespace

const char* kind_name(Kind kind) {
    switch (kind) {
    case Kind::TEXT:
        return "text";
    case Kind::BINARY:
        return "binary";
    case Kind::COMPRESSED:
        return "compressed";
    }
    return "?";
}

std::vector<File> generate(const Options& options) {
    std::vector<File> files;
    for (const Planned& p : PLAN) {
        if (options.text_only && p.kind != Kind::TEXT) continue;
        // Scale in integers so every machine agrees; never below 1 KB.
        uint64_t size = p.nominal * options.total_bytes / NOMINAL_BYTES;
        if (size < 1024) size = 1024;
        files.push_back(
            {p.path, p.kind, make(p.generator, seed_for(options.seed, p.path), size_t(size))});
    }
    return files;
}

std::vector<File> edge_inputs(uint64_t seed) {
    std::vector<File> files;
    auto add = [&](const std::string& name, Kind kind, Bytes data) {
        files.push_back({name, kind, std::move(data)});
    };
    Rng rng(seed_for(seed, "edge"));
    add("empty.bin", Kind::BINARY, {});
    add("one.bin", Kind::BINARY, {'A'});
    add("two.bin", Kind::BINARY, {'a', 'b'});
    add("three.bin", Kind::BINARY, {'x', 'x', 'x'});
    add("run_a.bin", Kind::BINARY, Bytes(100000, 'a'));
    add("zeros.bin", Kind::BINARY, Bytes(70000, 0));
    add("spaces.txt", Kind::TEXT, Bytes(10000, ' '));
    {
        Bytes b(300, ' ');
        prose(rng, 20000, b);
        add("lead_spaces.txt", Kind::TEXT, b);
    }
    // A short pattern repeated up to sizes around the window.
    const std::string pattern = "0123456789abcdefghijklmnopqrstuvwxyz!";
    for (size_t n : {4095, 4096, 4097}) {
        Bytes b;
        while (b.size() < n) b.push_back(uint8_t(pattern[b.size() % pattern.size()]));
        add("pattern_" + std::to_string(n) + ".bin", Kind::BINARY, b);
    }
    // A random block of 4095, 4096 and 4097 bytes repeated: matches at (and
    // just past) the full window distance.
    for (size_t period : {4095, 4096, 4097}) {
        Bytes block(period);
        for (auto& c : block) c = rng.byte();
        Bytes b;
        for (int i = 0; i < 5; ++i) b.insert(b.end(), block.begin(), block.end());
        add("period_" + std::to_string(period) + ".bin", Kind::BINARY, b);
    }
    {
        Bytes b;
        for (int r = 0; r < 64; ++r)
            for (int i = 0; i < 256; ++i) b.push_back(uint8_t(i));
        add("all_bytes.bin", Kind::BINARY, b);
    }
    {
        Bytes b;
        prose(rng, 20000, b);
        add("text_small.txt", Kind::TEXT, b);
    }
    {
        Bytes b;
        compressed(rng, 256 * 1024, b, "PK\x03\x04");
        add("random.bin", Kind::COMPRESSED, b);
    }
    {
        Bytes b;
        executable(rng, 300000, b);
        add("program.exe", Kind::BINARY, b);
    }
    {
        Bytes b;
        bitmap8(rng, 200000, b);
        add("picture.bmp", Kind::BINARY, b);
    }
    {
        Bytes b;
        prose(rng, 1200000, b);
        Bytes c;
        source_text(rng, 400000, c);
        b.insert(b.end(), c.begin(), c.end());
        add("text_large.txt", Kind::TEXT, b);
    }
    return files;
}

uint64_t total_size(const std::vector<File>& files) {
    uint64_t n = 0;
    for (const File& f : files) n += f.data.size();
    return n;
}

uint64_t digest(const std::vector<File>& files) {
    uint64_t h = 0xCBF29CE484222325ull;
    auto mix = [&h](const uint8_t* p, size_t n) {
        for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001B3ull;
    };
    for (const File& f : files) {
        mix(reinterpret_cast<const uint8_t*>(f.path.data()), f.path.size());
        uint8_t size[8];
        for (int i = 0; i < 8; ++i) size[i] = uint8_t(uint64_t(f.data.size()) >> (8 * i));
        mix(size, sizeof size);
        mix(f.data.data(), f.data.size());
    }
    return h;
}

bool write_files(const std::string& dir, const std::vector<File>& files, std::string* error) {
    namespace fs = std::filesystem;
    for (const File& f : files) {
        const fs::path path = fs::path(dir) / fs::path(f.path);
        std::error_code ec;
        fs::create_directories(path.parent_path(), ec);
        if (ec) {
            *error = path.parent_path().string() + ": " + ec.message();
            return false;
        }
        FILE* out = fopen(path.string().c_str(), "wb");
        if (!out) {
            *error = path.string() + ": " + strerror(errno);
            return false;
        }
        const bool ok = fwrite(f.data.data(), 1, f.data.size(), out) == f.data.size();
        if (fclose(out) != 0 || !ok) {
            *error = path.string() + ": write error";
            return false;
        }
    }
    return true;
}

} // namespace corpus
