#include <gtest/gtest.h>

#include <cstring>

#include "archive/entry_decoder.h"
#include "archive/fatal_error.h"
#include "pack/lzhuf_encoder.h"
#include "test_support.h"

namespace {

TEST(EntryDecoder, WorkedStreams) {
    struct Case {
        Bytes stream;
        Bytes expected;
    };
    const Case cases[] = {
        {{0x01, 0, 0, 0, 0xE6, 0x80}, {0x41}},
        {{0x03, 0, 0, 0, 0xE6, 0xF3, 0xB9, 0xE0}, {0x41, 0x42, 0x43}},
        {{0x0A, 0, 0, 0, 0xF6, 0xC9, 0x00, 0x00}, Bytes(10, 0x61)},
    };
    for (const Case& c : cases) {
        std::string fault;
        EXPECT_EQ(decode_bytes(c.stream, &fault), c.expected);
        EXPECT_EQ(fault, "");
    }
}

TEST(EntryDecoder, SizeZeroReadsNothingMore) {
    FILE* in = stream_of({0, 0, 0, 0, 0xAB, 0xCD});
    FILE* out = tmpfile();
    EXPECT_EQ(decode_entry(in, out), 0u); // a fatal error here aborts: nothing is armed
    EXPECT_EQ(ftell(in), 4);
    EXPECT_TRUE(contents_of(out).empty());
    fclose(in);
    fclose(out);
}

TEST(EntryDecoder, SizeCutShortIsFileError) {
    for (const Bytes& stream : {Bytes{}, Bytes{1}, Bytes{1, 0, 0}}) {
        std::string fault;
        decode_bytes(stream, &fault);
        EXPECT_EQ(fault, "File error !!");
        EXPECT_EQ(g_decode_fault, DecodeFault::SIZE_CUT_SHORT);
    }
}

TEST(EntryDecoder, CodedDataPastEndOfFileIsFileError) {
    // Ten bytes announced, but the file ends inside the match after the
    // literal 'a': the rest would be decoded from bits that are not there.
    std::string fault;
    const Bytes partial = decode_bytes({0x0A, 0, 0, 0, 0xF6, 0xC9}, &fault);
    EXPECT_EQ(fault, "File error !!");
    EXPECT_EQ(g_decode_fault, DecodeFault::DATA_PAST_END);
    EXPECT_EQ(partial, Bytes{0x61}); // what was decoded before the end is kept
}

TEST(EntryDecoder, LiteralNeedingOneBitPastTheEndIsFileError) {
    std::string fault;
    EXPECT_EQ(decode_bytes({0x01, 0, 0, 0, 0xE6}, &fault), Bytes{}); // 9-bit code, 8 bits present
    EXPECT_EQ(fault, "File error !!");
}

TEST(EntryDecoder, LookAheadPastEndIsNotAnError) {
    // The single literal needs 9 bits; the stream ends right after them
    // (padding bits of the last byte are part of the file).
    std::string fault;
    EXPECT_EQ(decode_bytes({0x01, 0, 0, 0, 0xE6, 0x80}, &fault), Bytes{0x41});
    EXPECT_EQ(fault, "");
    // Every encoded member ends exactly within its last byte.
    const Bytes data = text_bytes(5000, 3);
    EXPECT_EQ(decode_bytes(encode_member(data.data(), data.size())), data);
    EXPECT_EQ(g_decode_fault, DecodeFault::NONE);
}

TEST(EntryDecoder, FinalMatchIsCutAtTheSize) {
    // The third worked stream with a size of 7: the match of 9 is cut to 6.
    std::string fault;
    EXPECT_EQ(decode_bytes({0x07, 0, 0, 0, 0xF6, 0xC9, 0x00, 0x00}, &fault), Bytes(7, 0x61));
    EXPECT_EQ(fault, "");
    EXPECT_EQ(g_decode_fault, DecodeFault::MATCH_PAST_SIZE);
}

TEST(EntryDecoder, MatchFromInitialSpaces) {
    // A first symbol of length 5 pointing into the spaces writes five spaces.
    Bytes data(5, ' ');
    data.push_back('x');
    const Bytes stream = encode_member(data.data(), data.size());
    EXPECT_EQ(decode_bytes(stream), data);
}

TEST(EntryDecoder, UnwritableOutputIsDiskError) {
    const Bytes data = random_bytes(10000, 1);
    const Bytes stream = encode_member(data.data(), data.size());
    FILE* in = stream_of(stream);
    FILE* out = fopen("/dev/full", "wb");
    ASSERT_NE(out, nullptr);
    setvbuf(out, nullptr, _IONBF, 0);
    g_fatal_error_shows_box = false;
    std::string fault;
    {
        FatalJumpScope armed;
        if (FATAL_JUMP_SAVE())
            fault = g_fatal_jump.text;
        else
            decode_entry(in, out);
    }
    g_fatal_error_shows_box = true;
    EXPECT_EQ(fault, "Can't write !! Disk error !!");
    EXPECT_EQ(g_decode_fault, DecodeFault::WRITE_FAILED);
    fclose(in);
    fclose(out);
}

TEST(EntryDecoder, RingTailCarriesOverBetweenMembers) {
    // Fill the whole ring with a member, then check the tail is what the
    // next member would see if it reached for it. Members of every size class:
    // shorter than the ring, and longer than it by an odd amount, once and
    // many times over.
    for (size_t size : {size_t(RING_SIZE * 2), size_t(RING_SIZE * 2 + 1234), size_t(100003)}) {
        const Bytes first = random_bytes(size, 9);
        decode_bytes(encode_member(first.data(), first.size()));
        // Byte i of the member went to ring position (4036 + i) % 4096.
        Bytes expected(RING_SIZE);
        for (size_t i = size - RING_SIZE; i < size; ++i)
            expected[(RING_FILL + i) % RING_SIZE] = first[i];
        for (int p = 0; p < RING_SIZE; ++p) ASSERT_EQ(g_ring[p], expected[p]) << size << " " << p;
        // The next member starts from spaces and the carried-over tail; its
        // 100 bytes wrap round to the start of the ring.
        const Bytes second = text_bytes(100, 1);
        decode_bytes(encode_member(second.data(), second.size()));
        memset(expected.data(), RING_FILL_BYTE, RING_FILL);
        for (size_t i = 0; i < second.size(); ++i)
            expected[(RING_FILL + i) % RING_SIZE] = second[i];
        for (int p = 0; p < RING_SIZE; ++p) ASSERT_EQ(g_ring[p], expected[p]) << size << " " << p;
    }
    // A final match cut at the size still enters the ring whole: 'a' and a
    // match of 9 fill positions 4036 to 4045, though the file stops at 7.
    // The next member's match of 3 from position 4043 reads three of them.
    EXPECT_EQ(decode_bytes(CUT_MATCH_STREAM), Bytes(7, 'a'));
    EXPECT_EQ(decode_bytes(READS_4043_STREAM), Bytes(3, 'a'));
}

TEST(BitInput, BitsAndBytesInOrderThenZeros) {
    FILE* in = stream_of({0xA5, 0x3C});
    BitInput bits;
    start_bit_input(bits, in);
    EXPECT_EQ(get_bit(bits), 1);
    EXPECT_EQ(get_bit(bits), 0);
    EXPECT_EQ(get_byte(bits), 0x94); // 100101 00 -> 0b10010100
    EXPECT_FALSE(input_overrun(bits));
    for (int i = 0; i < 6; ++i) get_bit(bits);
    EXPECT_FALSE(input_overrun(bits)); // exactly 16 bits consumed
    EXPECT_EQ(get_bit(bits), 0);
    EXPECT_TRUE(input_overrun(bits));
    fclose(in);
}

TEST(DecodePosition, CodeLengthsAndBounds) {
    struct Case {
        Bytes bits;
        int position;
    };
    // 000 + 000000 -> 0; 11111111 + 111111 -> 4095; 0010 + 101010 -> 1*64+42.
    const Case cases[] = {
        {{0x00, 0x00}, 0},
        {{0xFF, 0xFC}, 4095},
        {{0x2A, 0x80}, 64 + 42},
    };
    for (const Case& c : cases) {
        FILE* in = stream_of(c.bits);
        BitInput bits;
        start_bit_input(bits, in);
        EXPECT_EQ(decode_position(bits), c.position);
        fclose(in);
    }
}

} // namespace
