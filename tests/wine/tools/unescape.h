/*
 * unescape.h - \xNN escapes in the arguments of the Wine test tools: a Unix
 * command line cannot carry the bytes of an ANSI code page into Wine intact,
 * so they come as text and become bytes here.
 */
#ifndef WINE_TOOLS_UNESCAPE_H
#define WINE_TOOLS_UNESCAPE_H

#include <stddef.h>

static int hexval(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

static void unescape(char* dst, size_t cap, const char* src) {
    size_t o = 0;
    while (*src && o + 1 < cap) {
        if (src[0] == '\\' && src[1] == 'x' && src[2] && src[3] && hexval(src[2]) >= 0 &&
            hexval(src[3]) >= 0) {
            dst[o++] = (char)(hexval(src[2]) * 16 + hexval(src[3]));
            src += 4;
        } else {
            dst[o++] = *src++;
        }
    }
    dst[o] = '\0';
}

#endif
