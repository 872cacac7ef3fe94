#include "archive/crc32.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

constexpr uint32_t CRC32_POLY = 0xEDB88320u; // reflected: bit 31 is x^0

// Slicing by 8: table k gives the CRC of a byte followed by k zero bytes, so
// eight bytes are folded in with eight lookups and no dependency between
// them. Built at the first use: carried in the Windows program's file they
// would take 8 KB of it.
struct Crc32Tables {
    uint32_t t[8][256];
};

Crc32Tables g_crc_tables;
bool g_crc_tables_built = false;

void build_tables() {
    Crc32Tables& tables = g_crc_tables;
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) c = c & 1 ? CRC32_POLY ^ (c >> 1) : c >> 1;
        tables.t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i)
        for (int k = 1; k < 8; ++k)
            tables.t[k][i] = tables.t[0][tables.t[k - 1][i] & 0xFF] ^ (tables.t[k - 1][i] >> 8);
    g_crc_tables_built = true;
}

inline uint32_t load_le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The table path on the register itself (the checksum's complement).
uint32_t table_register_update(uint32_t c, const uint8_t* data, size_t size) {
    if (!g_crc_tables_built) build_tables();
    const auto& t = g_crc_tables.t;
    for (; size >= 8; size -= 8, data += 8) {
        const uint32_t lo = c ^ load_le32(data);
        const uint32_t hi = load_le32(data + 4);
        c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
            t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    }
    for (; size; --size, ++data) c = t[0][(c ^ *data) & 0xFF] ^ (c >> 8);
    return c;
}

#if defined(__x86_64__)

// Folding with carry-less multiplication. A 128-bit lane holds 128 message
// bits in the reflected order (bit 0 of byte 0 is the highest power). Moving
// a lane n bits further along the message multiplies it by x^n; carried out
// on each 64-bit half with a 33-bit constant congruent to that power, the
// lane stays 128 bits wide and can be added (xor) to the data found there.
// Four lanes run side by side over 64 bytes per step, then fold into one,
// which is reduced to 32 bits by Barrett's method.

// x^n mod P in the reflected order, moved up one bit: the carry-less product
// of two reflected 64-bit values lands one bit below the reflected place.
constexpr uint64_t fold_constant(unsigned n) {
    uint32_t c = 0x80000000u; // the polynomial 1
    for (unsigned i = 0; i < n; ++i) c = c & 1 ? (c >> 1) ^ CRC32_POLY : c >> 1;
    return uint64_t(c) << 1;
}

constexpr uint64_t reflect(uint64_t v, int bits) {
    uint64_t r = 0;
    for (int i = 0; i < bits; ++i) r |= (v >> i & 1) << (bits - 1 - i);
    return r;
}

// The full polynomial (x^32 included) in the reflected order over 33 bits,
// and floor(x^64 / P) likewise: the two factors of the Barrett reduction.
constexpr uint64_t POLY_33 = uint64_t(CRC32_POLY) << 1 | 1;

constexpr uint64_t barrett_quotient() {
    const uint64_t poly = reflect(POLY_33, 33);       // normal order, x^32 at bit 32
    uint64_t rest = (poly ^ uint64_t(1) << 32) << 32; // x^64 less x^32 * P
    uint64_t quotient = uint64_t(1) << 32;
    for (int i = 63; i >= 32; --i) {
        if (rest >> i & 1) {
            rest ^= poly << (i - 32);
            quotient |= uint64_t(1) << (i - 32);
        }
    }
    return reflect(quotient, 33);
}

// A lane's low half holds the higher powers, so it is moved by the larger
// constant: by 4 lanes (512 bits), by one lane (128 bits), and the last steps
// from 128 to 64 and from 64 to 32 bits.
constexpr uint64_t K_512_LOW = fold_constant(512 + 32);
constexpr uint64_t K_512_HIGH = fold_constant(512 - 32);
constexpr uint64_t K_128_LOW = fold_constant(128 + 32);
constexpr uint64_t K_128_HIGH = fold_constant(128 - 32);
constexpr uint64_t K_64 = fold_constant(64);
constexpr uint64_t BARRETT_MU = barrett_quotient();

__attribute__((target("pclmul,sse4.1"))) inline __m128i fold_lane(__m128i lane, __m128i k,
                                                                  __m128i next) {
    const __m128i low = _mm_clmulepi64_si128(lane, k, 0x00);
    const __m128i high = _mm_clmulepi64_si128(lane, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i load_lane(const uint8_t* p) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(p));
}

// The register carried over `size` bytes at `data`: 16-byte aligned, size a
// multiple of 16 and at least 64.
__attribute__((target("pclmul,sse4.1"))) uint32_t
fold_register_update(uint32_t c, const uint8_t* data, size_t size) {
    __m128i x0 = _mm_xor_si128(load_lane(data), _mm_cvtsi32_si128(int(c)));
    __m128i x1 = load_lane(data + 16);
    __m128i x2 = load_lane(data + 32);
    __m128i x3 = load_lane(data + 48);
    data += 64;
    size -= 64;

    __m128i k = _mm_set_epi64x(int64_t(K_512_HIGH), int64_t(K_512_LOW));
    for (; size >= 64; size -= 64, data += 64) {
        x0 = fold_lane(x0, k, load_lane(data));
        x1 = fold_lane(x1, k, load_lane(data + 16));
        x2 = fold_lane(x2, k, load_lane(data + 32));
        x3 = fold_lane(x3, k, load_lane(data + 48));
    }

    k = _mm_set_epi64x(int64_t(K_128_HIGH), int64_t(K_128_LOW));
    x1 = fold_lane(x0, k, x1);
    x2 = fold_lane(x1, k, x2);
    x0 = fold_lane(x2, k, x3);
    for (; size >= 16; size -= 16, data += 16) x0 = fold_lane(x0, k, load_lane(data));

    // 128 to 64 bits: the low half moves up by 64 bits onto the high half.
    const __m128i low32 = _mm_set_epi32(0, -1, 0, -1);
    x0 = _mm_xor_si128(_mm_srli_si128(x0, 8), _mm_clmulepi64_si128(x0, k, 0x10));
    // 64 to 32 bits (left in bits 32..63 after the reduction).
    x0 = _mm_xor_si128(
        _mm_srli_si128(x0, 4),
        _mm_clmulepi64_si128(_mm_and_si128(x0, low32), _mm_cvtsi64_si128(int64_t(K_64)), 0x00));
    // Barrett: q = floor(x0 * mu / x^64), and x0 - q * P leaves the remainder.
    const __m128i barrett = _mm_set_epi64x(int64_t(BARRETT_MU), int64_t(POLY_33));
    __m128i q = _mm_clmulepi64_si128(_mm_and_si128(x0, low32), barrett, 0x10);
    q = _mm_clmulepi64_si128(_mm_and_si128(q, low32), barrett, 0x00);
    return uint32_t(_mm_extract_epi32(_mm_xor_si128(x0, q), 1));
}

bool clmul_available() {
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}

// The folding starts from four full lanes.
constexpr size_t FOLD_MIN_SIZE = 64;

#endif

} // namespace

uint32_t crc32_update_by_table(uint32_t crc, const uint8_t* data, size_t size) {
    return ~table_register_update(~crc, data, size);
}

bool crc32_folds_by_clmul() {
#if defined(__x86_64__)
    return clmul_available();
#else
    return false;
#endif
}

uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t size) {
    uint32_t c = ~crc;
#if defined(__x86_64__)
    // The unaligned head and the tail short of 16 bytes go through the table.
    const size_t head = (16 - (reinterpret_cast<uintptr_t>(data) & 15)) & 15;
    if (size >= head + FOLD_MIN_SIZE && clmul_available()) {
        c = table_register_update(c, data, head);
        data += head;
        size -= head;
        const size_t body = size & ~size_t(15);
        c = fold_register_update(c, data, body);
        data += body;
        size -= body;
    }
#endif
    return ~table_register_update(c, data, size);
}
