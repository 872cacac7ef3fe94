// Folder listings and text formatting on POSIX hosts: the same for the host
// tools and for the tests' stand-in of the system, which takes these from here.
#include <dirent.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace {

bool copy_name(const char* text, char* buffer, uint32_t size) {
    const size_t n = strlen(text);
    if (n + 1 > size) return false;
    memcpy(buffer, text, n + 1);
    return true;
}

} // namespace

FolderListing listing_start(const char* pattern, char* name, uint32_t size) {
    if (strcmp(pattern, "*.*") != 0) return NO_LISTING; // the only pattern in use
    DIR* dir = opendir(".");
    if (!dir) return NO_LISTING;
    if (!listing_next(dir, name, size)) {
        closedir(dir);
        return NO_LISTING;
    }
    return dir;
}

bool listing_next(FolderListing listing, char* name, uint32_t size) {
    for (;;) {
        const dirent* entry = readdir(static_cast<DIR*>(listing));
        if (!entry) return false;
        if (copy_name(entry->d_name, name, size)) return true;
    }
}

void listing_end(FolderListing listing) {
    closedir(static_cast<DIR*>(listing));
}

int text_format(char* buffer, uint32_t size, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int n = vsnprintf(buffer, size, format, arguments);
    va_end(arguments);
    if (n < 0 || uint32_t(n) + 1 > size) {
        if (size > 0) buffer[0] = '\0';
        return -1;
    }
    return n;
}
