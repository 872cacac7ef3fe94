#include "archive/crc32.h"

namespace {

// Slicing by 8: table k gives the CRC of a byte followed by k zero bytes, so
// eight bytes are folded in with eight lookups and no dependency between
// them. Built at compile time.
struct Crc32Tables {
    uint32_t t[8][256];
};

constexpr Crc32Tables make_tables() {
    Crc32Tables tables{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        tables.t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i)
        for (int k = 1; k < 8; ++k)
            tables.t[k][i] = tables.t[0][tables.t[k - 1][i] & 0xFF] ^ (tables.t[k - 1][i] >> 8);
    return tables;
}

constexpr Crc32Tables CRC_TABLES = make_tables();

inline uint32_t load_le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t size) {
    const auto& t = CRC_TABLES.t;
    uint32_t c = ~crc;
    for (; size >= 8; size -= 8, data += 8) {
        const uint32_t lo = c ^ load_le32(data);
        const uint32_t hi = load_le32(data + 4);
        c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
            t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    }
    for (; size; --size, ++data) c = t[0][(c ^ *data) & 0xFF] ^ (c >> 8);
    return ~c;
}
