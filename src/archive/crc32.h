// CRC-32 with the common polynomial (reflected 0xEDB88320), as zlib's crc32
// computes it: crc32_update(0, data, n) is the checksum of data, and a
// checksum can be carried on over further data by passing it back in.
// Pure code: no allocation, no operating-system call.
#pragma once

#include <cstddef>
#include <cstdint>

uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t size);
