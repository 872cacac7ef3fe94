#include <gtest/gtest.h>

#include <cstring>

#include "archive/entry_decoder.h"
#include "archive/fatal_error.h"
#include "pack/lzhuf_encoder.h"
#include "test_support.h"

namespace {

// Streams worked out bit by bit from the code, and the faults of streams cut
// short. A literal's code is 9 bits at the start of a member; "a" and a match
// of 9 from one byte back make the third stream, cut at 7 in the fourth.
TEST(EntryDecoder, WorkedStreamsAndFaults) {
    struct Case {
        const char* what;
        Bytes stream;
        Bytes expected;
        const char* fault_text;
        DecodeFault fault;
    };
    const DecodeFault NONE = DecodeFault::NONE, CUT = DecodeFault::MATCH_PAST_SIZE,
                      NO_SIZE = DecodeFault::SIZE_CUT_SHORT, PAST_END = DecodeFault::DATA_PAST_END;
    const char* const E = "File error !!";
    const Case cases[] = {
        {"one literal, ending with its last bit", {0x01, 0, 0, 0, 0xE6, 0x80}, {0x41}, "", NONE},
        {"three literals", {0x03, 0, 0, 0, 0xE6, 0xF3, 0xB9, 0xE0}, bytes_of("ABC"), "", NONE},
        {"literal, match", {0x0A, 0, 0, 0, 0xF6, 0xC9, 0x00, 0x00}, Bytes(10, 'a'), "", NONE},
        {"final match cut at the size", CUT_MATCH_STREAM, Bytes(7, 'a'), "", CUT},
        {"no size", {}, {}, E, NO_SIZE},
        {"one byte of size", {1}, {}, E, NO_SIZE},
        {"three bytes of size", {1, 0, 0}, {}, E, NO_SIZE},
        // The file ends inside the match after 'a': what came before is kept.
        {"coded data past the end", {0x0A, 0, 0, 0, 0xF6, 0xC9}, {'a'}, E, PAST_END},
        {"literal one bit past the end", {0x01, 0, 0, 0, 0xE6}, {}, E, PAST_END},
    };
    for (const Case& c : cases) {
        std::string fault;
        EXPECT_EQ(decode_bytes(c.stream, &fault), c.expected) << c.what;
        EXPECT_EQ(fault, c.fault_text) << c.what;
        EXPECT_EQ(g_decode_fault, c.fault) << c.what;
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

TEST(EntryDecoder, EncodedMembersEndWithinTheirLastByte) {
    Bytes spaces_first(5, ' '); // a first match of 5 from the initial spaces
    spaces_first.push_back('x');
    for (const Bytes& data : {spaces_first, text_bytes(5000, 3)}) {
        std::string fault;
        EXPECT_EQ(decode_bytes(encode_member(data.data(), data.size()), &fault), data);
        EXPECT_EQ(fault, "");
        EXPECT_EQ(g_decode_fault, DecodeFault::NONE);
    }
}

TEST(EntryDecoder, UnwritableOutputIsDiskError) {
    const Bytes data = random_bytes(10000, 1);
    FILE* out = fopen("/dev/full", "wb");
    ASSERT_NE(out, nullptr);
    setvbuf(out, nullptr, _IONBF, 0);
    std::string fault;
    decode_bytes(encode_member(data.data(), data.size()), &fault, out);
    EXPECT_EQ(fault, "Can't write !! Disk error !!");
    EXPECT_EQ(g_decode_fault, DecodeFault::WRITE_FAILED);
    fclose(out);
}

// Byte i of a member goes to ring position (4036 + i) % 4096.
uint8_t ring_at(size_t i) {
    return g_ring[(RING_FILL + i) % RING_SIZE];
}

TEST(EntryDecoder, RingTailCarriesOverBetweenMembers) {
    // Members shorter than the ring, and longer than it by an odd amount,
    // once and many times over; each followed by a member of 100 bytes that
    // wraps round to the start of the ring.
    for (size_t size : {size_t(RING_SIZE * 2), size_t(RING_SIZE * 2 + 1234), size_t(100003)}) {
        const Bytes first = random_bytes(size, 9);
        decode_bytes(encode_member(first.data(), first.size()));
        for (size_t i = size - RING_SIZE; i < size; ++i) ASSERT_EQ(ring_at(i), first[i]) << i;
        const Bytes second = text_bytes(100, 1);
        decode_bytes(encode_member(second.data(), second.size()));
        for (size_t i = 0; i < RING_SIZE; ++i) // the spaces cover all the first left
            ASSERT_EQ(ring_at(i), i < second.size() ? second[i] : RING_FILL_BYTE) << i;
    }
    // A final match cut at the size still enters the ring whole: 'a' and a
    // match of 9 fill positions 4036 to 4045, though the file stops at 7.
    // The next member's match of 3 from position 4043 reads three of them.
    EXPECT_EQ(decode_bytes(CUT_MATCH_STREAM), Bytes(7, 'a'));
    EXPECT_EQ(decode_bytes(READS_4043_STREAM), Bytes(3, 'a'));
}

// In an archive the next member's bytes follow a member's coded bits, so the
// step that decodes a batch of symbols without checks runs close to the
// member's end, and only its guard keeps it from running past the size. The
// member's coded bits are given each size from one batch and one match below
// their length up to it: the file gets exactly that many bytes, and the ring
// the whole symbol that crossed the size. The text member's last symbols pass
// the point where the decoder writes out its window.
TEST(EntryDecoder, MemberEndingAnywhereInTheLastBatchInsideAnArchive) {
    Bytes matches_of_60 = random_bytes(1000, 5);
    matches_of_60.insert(matches_of_60.end(), 6000, 'x'); // a literal, then matches of 60
    const Bytes noise = random_bytes(3000, 6);
    const Bytes next = encode_member(noise.data(), noise.size());
    for (const Bytes& data : {text_bytes(13000, 4), matches_of_60}) {
        const size_t n = data.size();
        Bytes archive = encode_member(data.data(), data.size());
        archive.insert(archive.end(), next.begin(), next.end());
        size_t last_symbol_from = n; // the sizes down to here end inside the last symbol
        for (size_t size = n; size >= n - 32 * MAX_MATCH - MAX_MATCH; --size) {
            for (int i = 0; i < 4; ++i) archive[size_t(i)] = uint8_t(size >> (8 * i));
            std::string fault;
            ASSERT_EQ(decode_bytes(archive, &fault), Bytes(data.begin(), data.begin() + long(size)))
                << n << " cut at " << size;
            ASSERT_EQ(fault, "");
            const bool cut = g_decode_fault == DecodeFault::MATCH_PAST_SIZE;
            ASSERT_TRUE(cut ? size < n : g_decode_fault == DecodeFault::NONE) << size;
            if (cut && last_symbol_from == size + 1) last_symbol_from = size;
            // What the ring holds before the size is certain; after it, the
            // bytes of the symbol that crossed it, or those of a ring before.
            for (size_t i = size - RING_FILL; i < size; ++i) ASSERT_EQ(ring_at(i), data[i]) << i;
            for (size_t i = size; i < size + MAX_MATCH && i < n; ++i) {
                const uint8_t older = size >= last_symbol_from ? data[i] : data[i - RING_SIZE];
                ASSERT_TRUE(ring_at(i) == data[i] || ring_at(i) == older) << size << " " << i;
            }
        }
        EXPECT_GT(n - last_symbol_from, 0u); // both end in a match
    }
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
