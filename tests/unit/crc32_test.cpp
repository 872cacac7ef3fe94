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
            EXPECT_EQ(crc32_update(0, p, size), want) << start << "+" << size;
            const size_t cut = size / 3;
            EXPECT_EQ(crc32_update(crc32_update(0, p, cut), p + cut, size - cut), want);
        }
    }
}

} // namespace
