// The buffered streams of the archive copy and the member files, on the
// system's file handles. The program links no C runtime, so these are its
// own: a stream reads or writes through one buffer, either the one given to
// it (the archive's 5000 bytes) or its own of STREAM_BUFFER_SIZE bytes.
#include <windows.h>

#include <cstring>

#include "platform/platform.h"

namespace {
constexpr uint32_t STREAM_BUFFER_SIZE = 4096;
} // namespace

struct Stream {
    HANDLE file;
    bool writing;
    char* buffer;
    uint32_t size;
    uint32_t next;     // reading: the next byte to hand out; writing: bytes held
    uint32_t end;      // reading: the bytes the buffer holds
    uint32_t position; // where the file's own position is: just after the buffer's bytes
    char own_buffer[STREAM_BUFFER_SIZE];
};

namespace {

bool write_out(Stream* stream, const void* bytes, uint32_t size) {
    DWORD written = 0;
    if (!WriteFile(stream->file, bytes, size, &written, nullptr) || written != size) return false;
    stream->position += size;
    return true;
}

// Reads into `to` until `size` bytes or the end of the file.
uint32_t read_in(Stream* stream, void* to, uint32_t size) {
    uint32_t total = 0;
    while (total < size) {
        DWORD got = 0;
        if (!ReadFile(stream->file, static_cast<char*>(to) + total, size - total, &got, nullptr) ||
            got == 0)
            break;
        total += got;
    }
    stream->position += total;
    return total;
}

} // namespace

Stream* stream_open(const char* path, const char* mode) {
    const bool writing = mode[0] == 'w';
    const HANDLE file = CreateFileA(
        path, writing ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        writing ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    Stream* stream = static_cast<Stream*>(HeapAlloc(GetProcessHeap(), 0, sizeof(Stream)));
    if (!stream) {
        CloseHandle(file);
        return nullptr;
    }
    stream->file = file;
    stream->writing = writing;
    stream->buffer = stream->own_buffer;
    stream->size = STREAM_BUFFER_SIZE;
    stream->next = stream->end = stream->position = 0;
    return stream;
}

void stream_set_buffer(Stream* stream, char* buffer, uint32_t size) {
    stream->buffer = buffer;
    stream->size = size;
    stream->next = stream->end = 0;
}

size_t stream_read(Stream* stream, void* buffer, size_t size) {
    char* to = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < size) {
        if (stream->next == stream->end) {
            stream->next = stream->end = 0;
            // A request of a buffer or more bypasses the buffer.
            if (size - done >= stream->size)
                return done + read_in(stream, to + done, uint32_t(size - done));
            stream->end = read_in(stream, stream->buffer, stream->size);
            if (stream->end == 0) break;
        }
        uint32_t n = stream->end - stream->next;
        if (n > size - done) n = uint32_t(size - done);
        memcpy(to + done, stream->buffer + stream->next, n);
        stream->next += n;
        done += n;
    }
    return done;
}

size_t stream_write(Stream* stream, const void* buffer, size_t size) {
    const char* from = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < size) {
        if (stream->next == stream->size && !stream_flush(stream)) break;
        if (stream->next == 0 && size - done >= stream->size)
            return write_out(stream, from + done, uint32_t(size - done)) ? size : done;
        uint32_t n = stream->size - stream->next;
        if (n > size - done) n = uint32_t(size - done);
        memcpy(stream->buffer + stream->next, from + done, n);
        stream->next += n;
        done += n;
    }
    return done;
}

bool stream_seek(Stream* stream, uint32_t offset) {
    if (stream->writing) {
        if (!stream_flush(stream)) return false;
    } else {
        // Within the bytes the buffer holds, only the read position moves.
        const uint32_t start = stream->position - stream->end;
        if (offset >= start && offset <= stream->position) {
            stream->next = offset - start;
            return true;
        }
        stream->next = stream->end = 0;
    }
    if (SetFilePointer(stream->file, LONG(offset), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return false;
    stream->position = offset;
    return true;
}

bool stream_flush(Stream* stream) {
    if (!stream->writing || stream->next == 0) return true;
    const uint32_t held = stream->next;
    stream->next = 0; // what the file refused is not offered again
    return write_out(stream, stream->buffer, held);
}

bool stream_close(Stream* stream) {
    const bool flushed = stream_flush(stream);
    const bool closed = CloseHandle(stream->file) != 0;
    HeapFree(GetProcessHeap(), 0, stream);
    return flushed && closed;
}

bool stream_set_creation_time(Stream* stream, const CalendarTime& utc) {
    SYSTEMTIME st;
    st.wYear = WORD(utc.year);
    st.wMonth = WORD(utc.month);
    st.wDayOfWeek = 0; // ignored by the conversion
    st.wDay = WORD(utc.day);
    st.wHour = WORD(utc.hour);
    st.wMinute = WORD(utc.minute);
    st.wSecond = WORD(utc.second);
    st.wMilliseconds = 0;
    FILETIME created;
    if (!SystemTimeToFileTime(&st, &created)) return false;
    return SetFileTime(stream->file, &created, nullptr, nullptr) != 0;
}
