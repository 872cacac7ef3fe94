// The platform calls that work the same for the host tools and for the
// tests' stand-in of the system (which takes these from here): seeking, closing
// and comparing open files, the buffered streams once open, file times,
// folder listings, and text formatting.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/calendar_time.h"
#include "platform/platform.h"

namespace {

bool copy_name(const char* text, char* buffer, uint32_t size) {
    const size_t n = strlen(text);
    if (n + 1 > size) return false;
    memcpy(buffer, text, n + 1);
    return true;
}

} // namespace

int32_t file_seek(FileHandle file, int32_t distance, int origin) {
    const int whence = origin == FILE_FROM_END       ? SEEK_END
                       : origin == FILE_FROM_CURRENT ? SEEK_CUR
                                                     : SEEK_SET;
    const off_t at = lseek(file, distance, whence);
    return at < 0 || at > INT32_MAX ? -1 : int32_t(at);
}

void file_close(FileHandle file) {
    close(file);
}

bool file_is_same(FileHandle a, FileHandle b) {
    struct stat sa, sb;
    return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

void stream_set_buffer(Stream* stream, char* buffer, uint32_t size) {
    setvbuf(stream, buffer, _IOFBF, size);
}

size_t stream_read(Stream* stream, void* buffer, size_t size) {
    return fread(buffer, 1, size, stream);
}

size_t stream_write(Stream* stream, const void* buffer, size_t size) {
    return fwrite(buffer, 1, size, stream);
}

bool stream_seek(Stream* stream, uint32_t offset) {
    return fseeko(stream, off_t(offset), SEEK_SET) == 0;
}

bool stream_flush(Stream* stream) {
    return fflush(stream) == 0;
}

bool stream_close(Stream* stream) {
    return fclose(stream) == 0;
}

bool stream_set_creation_time(Stream* stream, const CalendarTime& utc) {
    // The host keeps no creation time; the modification time stands for it.
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = time_t(unix_from_calendar(utc));
    times[1].tv_nsec = 0;
    return futimens(fileno(stream), times) == 0;
}

FolderListing listing_start(const char* pattern, char* name, uint32_t size, bool* is_folder) {
    if (strcmp(pattern, "*.*") != 0) return NO_LISTING; // the only pattern in use
    DIR* dir = opendir(".");
    if (!dir) return NO_LISTING;
    if (!listing_next(dir, name, size, is_folder)) {
        closedir(dir);
        return NO_LISTING;
    }
    return dir;
}

bool listing_next(FolderListing listing, char* name, uint32_t size, bool* is_folder) {
    for (;;) {
        const dirent* entry = readdir(static_cast<DIR*>(listing));
        if (!entry) return false;
        if (!copy_name(entry->d_name, name, size)) continue;
        struct stat st;
        *is_folder = stat(entry->d_name, &st) == 0 && S_ISDIR(st.st_mode);
        return true;
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
