// SHA-256 (FIPS 180-4), small and plain: the installer hashes its archive
// while it copies it, to compare with the digest its signed program file
// carries. Pure code: no allocation, no operating-system call.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t SHA256_DIGEST_SIZE = 32;

struct Sha256 {
    uint32_t state[8];
    uint64_t length; // bytes hashed so far
    uint8_t block[64];
    uint32_t used; // bytes waiting in `block`
};

void sha256_start(Sha256& hash);
void sha256_update(Sha256& hash, const void* data, size_t size);
void sha256_finish(Sha256& hash, uint8_t digest[SHA256_DIGEST_SIZE]);
