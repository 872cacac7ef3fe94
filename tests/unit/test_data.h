// Deterministic test data and archive members, shared by the unit tests and
// the fuzz targets' corpus maker; free of any test framework.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pack/archive_writer.h"

using Bytes = std::vector<uint8_t>;

// The packed time test members carry: 1999-12-31 23:59:58.
constexpr uint32_t TEST_DOS_TIME = 0x279FBF7D;

// Bytes from a seeded xorshift generator, the same for a seed everywhere.
inline Bytes random_bytes(size_t size, uint32_t seed) {
    Bytes out(size);
    uint32_t s = seed * 2654435761u + 1;
    for (uint8_t& b : out) {
        s ^= s << 13, s ^= s >> 17, s ^= s << 5;
        b = uint8_t(s >> 7);
    }
    return out;
}

// One member for the packer.
inline PackMember member(const std::string& folder, const std::string& name, const Bytes& data,
                         uint32_t dos_date_time = TEST_DOS_TIME) {
    PackMember m;
    m.folder = folder;
    m.name = name;
    m.data = data;
    m.dos_date_time = dos_date_time;
    return m;
}
