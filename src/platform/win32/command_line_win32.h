// The program's name at the head of its command line, split off as the C
// runtime's start-up splits it: from an opening double quote up to the next
// one (quotes removed), otherwise up to the first space or tab.
#pragma once

#include <cstddef>

#include "archive/path_text.h"

struct CommandLineHead {
    const char* name; // the program's name, quotes removed (not terminated)
    size_t name_length;
    const char* arguments; // what follows the name, leading blanks skipped
};

inline CommandLineHead split_command_line(const char* line) {
    CommandLineHead head = {line, 0, line};
    if (!line) return {"", 0, ""};
    const char* p = line;
    if (*p == '"') {
        head.name = ++p;
        while (*p && *p != '"') ++p;
        head.name_length = size_t(p - head.name);
        if (*p == '"') ++p;
    } else {
        while (*p && *p != ' ' && *p != '\t') ++p;
        head.name_length = size_t(p - line);
    }
    while (*p == ' ' || *p == '\t') ++p;
    head.arguments = p;
    return head;
}

// Whether the program's name, as started, is a path relative to the folder
// that was current at the start: it has a folder or a drive part
// (DISK1\WBOOT.EXE, .\WBOOT.EXE, \WBOOT.EXE, E:WBOOT.EXE) but is not
// absolute (E:\DISK1\WBOOT.EXE, \\SERVER\SHARE\WBOOT.EXE). A bare name is
// not: the system may have found it on the search path, not in the current
// folder.
inline bool own_path_is_relative(const char* name, LeadByteTest is_lead) {
    if (name[0] == '\\' && name[1] == '\\') return false;
    const bool has_drive = ((name[0] | 0x20) >= 'a' && (name[0] | 0x20) <= 'z') && name[1] == ':';
    if (has_drive && (name[2] == '\\' || name[2] == '/')) return false;
    if (has_drive) return true;
    for (const char* c = name; *c; c = next_character(c, is_lead))
        if (*c == '\\' || *c == '/') return true;
    return false;
}

// Takes the program's own path from the command line (program_get_own_path
// gives it from then on). The process entry calls it first, before anything
// can change the current folder.
void remember_own_path();
