#include <gtest/gtest.h>

#include "archive/crc32.h"
#include "test_support.h"

namespace {

// The checksum one bit at a time, straight from the polynomial.
uint32_t bitwise_crc32(const uint8_t* data, size_t size) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        c ^= data[i];
        for (int bit = 0; bit < 8; ++bit) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return ~c;
}

TEST(Crc32, CheckValueOfTheCommonPolynomial) {
    const Bytes digits = bytes_of("123456789");
    EXPECT_EQ(crc32_update(0, digits.data(), digits.size()), 0xCBF43926u);
    EXPECT_EQ(crc32_update(0, nullptr, 0), 0u);
}

// Every length and alignment around the 8-byte steps, computed whole and
// carried on over two pieces, agrees with the bitwise checksum.
TEST(Crc32, SlicedAndCarriedOnAgreesWithBitwise) {
    const Bytes data = random_bytes(100, 7);
    for (size_t start = 0; start < 8; ++start) {
        for (size_t size = 0; start + size <= 40; ++size) {
            const uint8_t* p = data.data() + start;
            const uint32_t want = bitwise_crc32(p, size);
            EXPECT_EQ(crc32_update_by_table(0, p, size), want) << start << "+" << size;
            EXPECT_EQ(crc32_update(0, p, size), want);
            const size_t cut = size / 3;
            EXPECT_EQ(crc32_update(crc32_update(0, p, cut), p + cut, size - cut), want);
        }
    }
}

// The folding path agrees with the table path at every alignment, at every
// length around its thresholds and at random lengths up to 5000, with random
// checksums carried in.
TEST(Crc32, FoldingAgreesWithTable) {
    if (!crc32_folds_by_clmul()) GTEST_SKIP() << "no carry-less multiplication on this processor";
    const Bytes data = random_bytes(5000 + 32, 11);
    const size_t to_aligned = (16 - reinterpret_cast<uintptr_t>(data.data()) % 16) % 16;
    uint32_t draw = 12;
    for (size_t align = 0; align < 16; ++align) {
        const uint8_t* p = data.data() + to_aligned + align;
        for (size_t i = 0; i < 300; ++i) {
            draw = draw * 1664525u + 1013904223u;
            const uint32_t crc = draw;
            const size_t size = i < 160 ? i : draw % 5001;
            EXPECT_EQ(crc32_update(crc, p, size), crc32_update_by_table(crc, p, size))
                << align << "+" << size;
        }
    }
}

} // namespace
