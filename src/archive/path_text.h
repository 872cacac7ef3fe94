// Scanning paths in the system's ANSI code page. In the double-byte code
// pages (932, 936, 949, 950) a character may take two bytes, and the second
// may have the value of a backslash or of an ASCII letter: 0x5C in
// "\x95\x5C" (CP932) is no separator, and the 0x63 in "\x8C\x63" (CP949) is
// no 'c' to upper-case. Every scan here steps over such characters. The
// lead-byte test is handed in, so the rules hold and are checked on any host.
#pragma once

#include <cstdint>

using LeadByteTest = bool (*)(uint8_t byte);

// The character after the one at `text`, which is not the terminator: two
// bytes on for a lead byte with a second byte, one otherwise.
inline const char* next_character(const char* text, LeadByteTest is_lead) {
    return is_lead(uint8_t(text[0])) && text[1] ? text + 2 : text + 1;
}

inline char* next_character(char* text, LeadByteTest is_lead) {
    return const_cast<char*>(next_character(const_cast<const char*>(text), is_lead));
}

// The last backslash of `path` that is a character of its own; null when
// there is none.
char* last_backslash(char* path, LeadByteTest is_lead);

// Turns the single-byte letters a to z of `text` into capitals; the second
// byte of a double-byte character stays as it is.
void upper_case_ascii(char* text, LeadByteTest is_lead);
