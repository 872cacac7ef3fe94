// CRC-32 with the common polynomial (reflected 0xEDB88320), as zlib's crc32
// computes it: crc32_update(0, data, n) is the checksum of data, and a
// checksum can be carried on over further data by passing it back in.
// Pure code: no allocation, no operating-system call.
#pragma once

#include <cstddef>
#include <cstdint>

// The fastest way this processor offers: on x86-64 with carry-less
// multiplication, long inputs are folded 64 bytes at a time; everywhere else
// (and for short inputs) the table path below.
uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t size);

// The same checksum by table lookups only, eight bytes at a time: the path
// every target has, and the one the folding path must agree with.
uint32_t crc32_update_by_table(uint32_t crc, const uint8_t* data, size_t size);

// Whether crc32_update folds with carry-less multiplication here.
bool crc32_folds_by_clmul();
