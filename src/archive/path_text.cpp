#include "archive/path_text.h"

char* last_backslash(char* path, LeadByteTest is_lead) {
    char* last = nullptr;
    for (char* c = path; *c; c = next_character(c, is_lead))
        if (*c == '\\') last = c;
    return last;
}

void upper_case_ascii(char* text, LeadByteTest is_lead) {
    for (char* c = text; *c; c = next_character(c, is_lead))
        if (*c >= 'a' && *c <= 'z') *c = char(*c - 'a' + 'A');
}
