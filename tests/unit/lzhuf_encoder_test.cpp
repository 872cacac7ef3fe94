#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "archive/entry_decoder.h"
#include "pack/lzhuf_encoder.h"
#include "test_support.h"

namespace {

Bytes repeat(const std::string& pattern, size_t size) {
    Bytes out(size);
    for (size_t i = 0; i < size; ++i) out[i] = uint8_t(pattern[i % pattern.size()]);
    return out;
}

std::string as_text(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

TEST(LzhufEncoder, RoundTripsVariedData) {
    struct Case {
        const char* what;
        Bytes data;
    };
    Bytes mixed = text_bytes(3000, 5);
    const Bytes noise = random_bytes(3000, 6);
    mixed.insert(mixed.end(), noise.begin(), noise.end());
    mixed.insert(mixed.end(), 5000, 0);
    const Case cases[] = {
        {"empty", {}},
        {"one byte", {0x7F}},
        {"spaces", Bytes(100, ' ')},
        {"run of zeros", Bytes(10000, 0)},
        {"text", text_bytes(50000, 1)},
        {"random", random_bytes(50000, 2)},
        {"mixed", mixed},
        {"4095-byte period", repeat(std::string(4094, 'a') + "b", 20000)},
        {"4096-byte period", repeat(as_text(random_bytes(4096, 3)), 20000)},
        {"4097-byte period", repeat(as_text(random_bytes(4097, 4)), 20000)},
        {"256-byte period", repeat(as_text(random_bytes(256, 5)), 70000)},
        // Matches that reach into the bytes they write, at distances either
        // side of a machine word, over many window lengths.
        {"3-byte period", repeat("abc", 70000)},
        {"7-byte period", repeat(as_text(random_bytes(7, 7)), 70000)},
        {"8-byte period", repeat(as_text(random_bytes(8, 8)), 70000)},
        {"9-byte period", repeat(as_text(random_bytes(9, 9)), 70000)},
    };
    for (const Case& c : cases) {
        for (ParseMode mode : {ParseMode::GREEDY, ParseMode::LAZY, ParseMode::PRICED}) {
            const Bytes stream = encode_member(c.data.data(), c.data.size(), mode);
            std::string fault;
            EXPECT_EQ(decode_bytes(stream, &fault), c.data) << c.what;
            EXPECT_EQ(fault, "") << c.what;
            EXPECT_EQ(g_decode_fault, DecodeFault::NONE) << c.what; // no match past the end
        }
    }
}

TEST(LzhufEncoder, LargeInputRebuildsTheModelManyTimes) {
    // Over 1 MB of text: the root frequency reaches its limit about every
    // 32 thousand symbols, so the model is rebuilt dozens of times.
    const Bytes data = text_bytes(1 << 21, 11);
    const Bytes stream = encode_member(data.data(), data.size());
    EXPECT_LT(stream.size(), data.size() / 2);
    EXPECT_EQ(decode_bytes(stream), data);
}

// A window that slides many times over the data, read in odd pieces, gives
// the bytes of one that holds it all; a read that ends early is a failure.
TEST(LzhufEncoder, StreamingInASmallWindowGivesTheSameBytes) {
    Bytes data = text_bytes(300000, 14);
    const Bytes noise = random_bytes(50000, 15);
    data.insert(data.begin() + 100000, noise.begin(), noise.end());
    const auto stream = [&](size_t window, size_t piece, size_t size, Bytes* out) {
        size_t at = 0;
        return encode_member_streaming(
            data.size(),
            [&](uint8_t* buffer, size_t want) {
                const size_t n = std::min({want, piece, size - at});
                memcpy(buffer, data.data() + at, n);
                at += n;
                return n;
            },
            [&](const uint8_t* coded, size_t n) {
                out->insert(out->end(), coded, coded + n);
                return true;
            },
            window);
    };
    Bytes small, whole;
    EXPECT_TRUE(stream(MIN_ENCODE_WINDOW, 999, data.size(), &small));
    EXPECT_TRUE(stream(data.size() * 2, data.size(), data.size(), &whole));
    EXPECT_EQ(small, whole);
    EXPECT_EQ(decode_bytes(small), data);
    Bytes cut;
    EXPECT_FALSE(stream(MIN_ENCODE_WINDOW, 4096, data.size() - 1, &cut));
}

TEST(LzhufEncoder, NeverReachesIntoTheCarriedOverTail) {
    // Leave a recognisable tail in the ring from an earlier member; a member
    // decoded after it must come out the same as after a clean start.
    const Bytes tail = random_bytes(RING_SIZE * 2, 12);
    const Bytes data =
        repeat("                                                              xyz", 3000);
    const Bytes stream = encode_member(data.data(), data.size());
    decode_bytes(encode_member(tail.data(), tail.size()));
    EXPECT_EQ(decode_bytes(stream), data);
    memset(g_ring + RING_FILL, 0, MAX_MATCH);
    EXPECT_EQ(decode_bytes(stream), data);
}

TEST(LzhufEncoder, SizeFieldAndDeterminism) {
    const Bytes data = text_bytes(70000, 13);
    const Bytes a = encode_member(data.data(), data.size());
    const Bytes b = encode_member(data.data(), data.size());
    EXPECT_EQ(a, b);
    ASSERT_GE(a.size(), 4u);
    EXPECT_EQ(a[0] | a[1] << 8 | a[2] << 16 | a[3] << 24, 70000);
}

TEST(LzhufEncoder, EachParsePacksNoLargerThanTheSimplerOne) {
    // Program-like data: short fields repeated at varied distances among
    // fresh bytes, where the choice between near short and far long matches
    // matters.
    Bytes program = random_bytes(60000, 23);
    for (size_t i = 3100; i + 16 < program.size(); i += 7 + i % 13)
        memcpy(&program[i], &program[i - 16 - (i * 31) % 3000], 4 + i % 9);
    const Bytes inputs[] = {text_bytes(200000, 21), random_bytes(50000, 22), Bytes(40000, 'q'),
                            repeat("abcabdabcabeabcabd", 30000), program};
    for (const Bytes& data : inputs) {
        const size_t greedy = encode_member(data.data(), data.size(), ParseMode::GREEDY).size();
        const size_t lazy = encode_member(data.data(), data.size(), ParseMode::LAZY).size();
        const size_t priced = encode_member(data.data(), data.size(), ParseMode::PRICED).size();
        EXPECT_LE(lazy, greedy);
        EXPECT_LE(priced, lazy);
    }
}

} // namespace
