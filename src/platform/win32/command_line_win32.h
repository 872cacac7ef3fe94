// The program's name at the head of its command line, split off as the C
// runtime's start-up splits it: from an opening double quote up to the next
// one (quotes removed), otherwise up to the first space or tab.
#pragma once

#include <cstddef>

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
