// The few C runtime functions the program uses, as its own: the heap, and
// the memory and string functions (which the compiler may also call by
// itself, for structure copies). With them WBOOT.EXE imports nothing but the
// system's KERNEL32, USER32 and GDI32, which every Windows loads from its
// own folder, never from beside the program. Plain loops, four bytes at a
// time where the size allows: the decoder moves its 4 KB ring and window
// through memcpy several times a member.
//
// Built with -fno-builtin and without loop-pattern recognition, so that the
// compiler does not turn these loops back into calls of themselves.
#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace {
// A 32-bit word at any address, which may alias any other type.
using Word = uint32_t __attribute__((may_alias, aligned(1)));
constexpr size_t WORD_SIZE = sizeof(Word);
} // namespace

extern "C" {

void* malloc(size_t size) {
    return HeapAlloc(GetProcessHeap(), 0, size);
}

void free(void* block) {
    if (block) HeapFree(GetProcessHeap(), 0, block);
}

void abort() {
    ExitProcess(3);
}

void* memcpy(void* to, const void* from, size_t size) {
    char* t = static_cast<char*>(to);
    const char* f = static_cast<const char*>(from);
    for (; size >= WORD_SIZE; size -= WORD_SIZE, t += WORD_SIZE, f += WORD_SIZE)
        *reinterpret_cast<Word*>(t) = *reinterpret_cast<const Word*>(f);
    while (size--) *t++ = *f++;
    return to;
}

void* memmove(void* to, const void* from, size_t size) {
    char* t = static_cast<char*>(to);
    const char* f = static_cast<const char*>(from);
    if (t <= f || t >= f + size) return memcpy(to, from, size);
    // Overlapping with the target above: from the end down.
    for (; size >= WORD_SIZE; size -= WORD_SIZE)
        *reinterpret_cast<Word*>(t + size - WORD_SIZE) =
            *reinterpret_cast<const Word*>(f + size - WORD_SIZE);
    while (size--) t[size] = f[size];
    return to;
}

void* memset(void* to, int value, size_t size) {
    char* t = static_cast<char*>(to);
    const Word pattern = 0x01010101u * uint8_t(value);
    for (; size >= WORD_SIZE; size -= WORD_SIZE, t += WORD_SIZE)
        *reinterpret_cast<Word*>(t) = pattern;
    while (size--) *t++ = char(value);
    return to;
}

int memcmp(const void* a, const void* b, size_t size) {
    const unsigned char* x = static_cast<const unsigned char*>(a);
    const unsigned char* y = static_cast<const unsigned char*>(b);
    for (; size; --size, ++x, ++y)
        if (*x != *y) return *x - *y;
    return 0;
}

size_t strlen(const char* text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

char* strcpy(char* to, const char* from) {
    char* t = to;
    while ((*t++ = *from++)) {
    }
    return to;
}

char* strcat(char* to, const char* from) {
    strcpy(to + strlen(to), from);
    return to;
}

char* strchr(const char* text, int c) {
    for (;; ++text) {
        if (*text == char(c)) return const_cast<char*>(text);
        if (!*text) return nullptr;
    }
}

char* strrchr(const char* text, int c) {
    const char* last = nullptr;
    for (;; ++text) {
        if (*text == char(c)) last = text;
        if (!*text) return const_cast<char*>(last);
    }
}

char* strstr(const char* text, const char* part) {
    const size_t n = strlen(part);
    for (; *text; ++text)
        if (memcmp(text, part, n) == 0) return const_cast<char*>(text);
    return n == 0 ? const_cast<char*>(text) : nullptr;
}

} // extern "C"
