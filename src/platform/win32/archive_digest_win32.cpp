// The digest of its archive the program file carries, in a file of its own
// so that a test program (the unpack timer) can bring its own instead.
#include <windows.h>

#include "platform/platform.h"

bool program_get_archive_digest(uint8_t* digest) {
    constexpr DWORD DIGEST_SIZE = 32;
    const HRSRC found = FindResourceA(nullptr, "ARCHIVE_DIGEST", MAKEINTRESOURCEA(10)); // RT_RCDATA
    if (!found || SizeofResource(nullptr, found) != DIGEST_SIZE) return false;
    const HGLOBAL loaded = LoadResource(nullptr, found);
    const uint8_t* bytes = loaded ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
    if (!bytes) return false;
    uint8_t any = 0;
    for (DWORD i = 0; i < DIGEST_SIZE; ++i) any |= digest[i] = bytes[i];
    return any != 0;
}
