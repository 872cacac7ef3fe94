#include "archive/entry_decoder.h"

#include <cstring>

#include "archive/crc32.h"
#include "archive/fatal_error.h"

uint8_t g_ring[RING_SIZE];
uint32_t g_member_size;
bool g_member_crc_wanted = false;
uint32_t g_member_crc = 0;
DecodeFault g_decode_fault = DecodeFault::NONE;
uint32_t g_walked_symbols = 4096;

namespace {

// Coded input is read from the archive stream a block at a time, so the hot
// loop never calls into the stream per byte.
constexpr size_t INPUT_BLOCK_SIZE = 16384;
uint8_t g_input_block[INPUT_BLOCK_SIZE];

// Eight bytes as one big-endian word: one load and a byte swap.
uint64_t load_be64(const uint8_t* p) {
    uint64_t v;
    memcpy(&v, p, sizeof v);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

// Tops the buffer up to at least 57 bits one byte at a time, reading the next
// block when needed; past the end of the file zero bytes are fed and counted.
// Takes and returns the state by value, so that the decode loop's copy is
// never addressed and can stay in registers.
__attribute__((noinline)) BitInput refill_slow(BitInput in) {
    while (in.bit_count <= 56) {
        uint64_t byte = 0;
        if (in.next == in.end && in.stream) {
            const size_t n = stream_read(in.stream, g_input_block, INPUT_BLOCK_SIZE);
            in.next = g_input_block;
            in.end = g_input_block + n;
        }
        if (in.next != in.end)
            byte = *in.next++;
        else
            in.pad_bits += 8;
        in.bits |= byte << (56 - in.bit_count);
        in.bit_count += 8;
    }
    return in;
}

// Makes sure at least 57 bits are held, from a block that still holds at
// least 8 unread bytes. It ORs in a whole word; the bits it sets below
// bit_count's new end are the true next bits, so the later refills that set
// them again agree.
inline void refill_in_block(BitInput& in) {
    if (in.bit_count > 56) return;
    in.bits |= load_be64(in.next) >> in.bit_count;
    const uint32_t take = (63 - in.bit_count) >> 3;
    in.next += take;
    in.bit_count += take * 8;
}

// Makes sure at least 57 bits are held, wherever the block stands.
inline void refill(BitInput& in) {
    if (in.bit_count > 56) return;
    if (in.end - in.next >= 8) {
        refill_in_block(in);
        return;
    }
    in = refill_slow(in);
}

inline uint32_t take_bits(BitInput& in, uint32_t n) {
    const uint32_t v = uint32_t(in.bits >> (64 - n));
    in.bits <<= n;
    in.bit_count -= n;
    return v;
}

// The decoder works in a straight window rather than in the ring itself:
// byte L of the window stands for ring position L % RING_SIZE, the RING_SIZE
// bytes before the write position are the ring's content, and a match is a
// plain backward copy that never wraps. Decoded bytes are written from the
// window in runs; when the write position passes WINDOW_FLUSH_AT the run is
// written and the last RING_SIZE bytes move back to the start. The slack
// after it takes a whole match plus the word a copy may write past its end.
constexpr uint32_t WINDOW_FLUSH_AT = 5 * RING_SIZE;
constexpr uint32_t WINDOW_SLACK = 2 * MAX_MATCH + 8;
uint8_t g_window[WINDOW_FLUSH_AT + WINDOW_SLACK];

// Writes the window bytes [from, to) to the member file.
void write_window(Stream* out, uint32_t from, uint32_t to) {
    const size_t n = to - from;
    if (g_member_crc_wanted) g_member_crc = crc32_update(g_member_crc, &g_window[from], n);
    if (out && n && stream_write(out, &g_window[from], n) != n) {
        g_decode_fault = DecodeFault::WRITE_FAILED;
        fatal_error(TEXT_CANT_WRITE);
    }
}

// Lays the ring out in the window and returns the write position: the ring
// position r is at RING_SIZE + r, the older positions before it.
uint32_t ring_to_window(uint32_t r) {
    memcpy(&g_window[r], &g_ring[r], RING_SIZE - r);
    memcpy(&g_window[RING_SIZE], g_ring, r);
    return RING_SIZE + r;
}

// Puts the window's last RING_SIZE bytes back into the ring.
void window_to_ring(uint32_t w) {
    const uint32_t r = w % RING_SIZE;
    memcpy(&g_ring[r], &g_window[w - RING_SIZE], RING_SIZE - r);
    memcpy(g_ring, &g_window[w - r], r);
}

// Writes the run [flushed, w) and moves the last RING_SIZE bytes back to the
// start, keeping each byte's ring position. Returns the new write position.
uint32_t flush_window(Stream* out, uint32_t flushed, uint32_t w) {
    write_window(out, flushed, w);
    const uint32_t moved = RING_SIZE + w % RING_SIZE;
    memcpy(&g_window[moved - RING_SIZE], &g_window[w - RING_SIZE], RING_SIZE);
    return moved;
}

// Copies a match of `length` bytes from `distance` bytes back to `to`. A
// match that reaches into the bytes it is writing repeats them, so close
// sources go a byte at a time; farther ones a word at a time, at least two
// words, which may write up to 15 bytes past the end (into the slack, never
// read before rewritten).
// A distance of 0 copies the bytes onto themselves: the decode loop's
// literal, stored before.
inline void copy_match(uint8_t* to, uint32_t distance, uint32_t length) {
    const uint8_t* from = to - distance;
    if (__builtin_expect(distance - 1 < 7, 0)) {
        for (uint32_t i = 0; i < length; ++i) to[i] = from[i];
        return;
    }
    // The first two words are copied whatever the length, so that the loop
    // is only entered by the rare matches longer than that.
    uint64_t word;
    memcpy(&word, from, sizeof word);
    memcpy(to, &word, sizeof word);
    memcpy(&word, from + 8, sizeof word);
    memcpy(to + 8, &word, sizeof word);
    for (uint32_t i = 16; i < length; i += 8) {
        memcpy(&word, from + i, sizeof word);
        memcpy(to + i, &word, sizeof word);
    }
}

// Puts symbol c's bytes into the window at w, where take_match has said
// what they are; returns the position after them.
inline uint32_t put_symbol(uint32_t w, int c, uint32_t distance, uint32_t length) {
    g_window[w] = uint8_t(c);
    copy_match(&g_window[w], distance, length);
    return w + length;
}

uint32_t read_size(Stream* in) {
    uint8_t b[4];
    if (stream_read(in, b, 4) != 4) {
        g_decode_fault = DecodeFault::SIZE_CUT_SHORT;
        fatal_error(TEXT_FILE_ERROR);
    }
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

} // namespace

void start_bit_input(BitInput& in, Stream* stream) {
    in.bits = 0;
    in.bit_count = 0;
    in.pad_bits = 0;
    in.stream = stream;
    in.next = in.end = g_input_block;
}

int get_bit(BitInput& in) {
    if (in.bit_count == 0) refill(in);
    return int(take_bits(in, 1));
}

int get_byte(BitInput& in) {
    if (in.bit_count < 8) refill(in);
    return int(take_bits(in, 8));
}

namespace {

// A symbol's code fits in the bits one refill leaves (at least 57), so a
// walk never refills on its way down.
static_assert(MAX_CODE_BITS <= 57, "a code fits in one refill");

// A symbol walked down the tree without the lookup table, from at least 57
// bits. Each step takes two levels with one load: the grandchild entry
// chosen by the first bit and indexed by the second is read at the same
// time as the child entry, which only says whether the first bit ended at a
// leaf. The nodes are indexed at full width, so that each step's load
// follows the add without a sign extension between them.
inline int walk_symbol(BitInput& in) {
    size_t n = uint16_t(g_child[ROOT]);
    size_t leaf;
    for (;;) {
        leaf = n + take_bits(in, 1);
        const size_t child = uint16_t(g_child[leaf]);
        if (child >= NODE_COUNT) {
            n = child;
            break;
        }
        const size_t bit = take_bits(in, 1);
        n = g_grandchild[leaf][bit];
        leaf = child + bit;
        if (n >= NODE_COUNT) break;
    }
    update_leaf_walked(int(leaf));
    return int(n) - NODE_COUNT;
}

// The body of decode_char, inlined into the decode loop so that the bit
// buffer stays in registers there. While the table is stale and `walks` is
// not 0, symbols are walked and the table left unbuilt: early in a member,
// when the tree is nearly flat, most updates exchange nodes that the table
// reads, and keeping it up to date costs more than it saves. IN_BLOCK says
// that the block is known to hold 8 unread bytes.
template <bool IN_BLOCK>
inline int next_symbol(BitInput& in, uint32_t& walks) {
    if (IN_BLOCK)
        refill_in_block(in);
    else
        refill(in);
    if (__builtin_expect(g_lookup_stale, 0)) {
        if (walks) {
            --walks;
            return walk_symbol(in);
        }
        build_code_lookup();
    }
    const CodeLookup& start = g_code_lookup[in.bits >> (64 - LOOKUP_BITS)];
    in.bits <<= start.bits;
    in.bit_count -= start.bits;
    size_t n = uint16_t(start.next);
    size_t leaf = uint16_t(start.node);
    while (n < NODE_COUNT) {
        leaf = n + take_bits(in, 1);
        n = uint16_t(g_child[leaf]);
    }
    update_leaf(int(leaf));
    return int(n) - NODE_COUNT;
}

// The match position whose code starts the held bits (at least 14 of them),
// and the bits of its code, which are left in place. The first 8 bits pick
// the prefix code; the position is its upper 6 bits and the 6 plain bits
// that follow the code.
inline uint32_t peek_position(const BitInput& in, uint32_t& code_bits) {
    const uint32_t first = uint32_t(in.bits >> 56);
    code_bits = position_code_length[first] + 6u;
    const uint32_t coded = uint32_t(in.bits >> (64 - code_bits));
    return uint32_t(position_high_bits[first]) << 6 | (coded & 63);
}

// The longest coded position: an 8-bit prefix code and 6 plain bits.
constexpr uint32_t MAX_POSITION_BITS = 14;
static_assert(MAX_CODE_BITS + MAX_POSITION_BITS <= 57,
              "a symbol and the position after it are read from one refill");

// The match, if any, that symbol c starts: takes its position's bits and
// sets the distance back and the length. Literals and matches take the same
// steps, so that which one comes next, which is hard to guess, is never a
// branch: a literal is a "match" of one byte at distance 0 after the byte is
// stored, and the bits after it are read as a position but not taken. The
// choices are masks, which a compiler cannot turn back into a branch.
inline void take_match(BitInput& in, int c, uint32_t& distance, uint32_t& length) {
    const uint32_t match = -uint32_t(c >= 256); // all ones for a match
    uint32_t position_bits;
    const uint32_t position = peek_position(in, position_bits);
    const uint32_t taken = position_bits & match;
    in.bits <<= taken;
    in.bit_count -= taken;
    distance = (position + 1) & match;
    length = 1 + ((uint32_t(c) - (256 - MATCH_THRESHOLD)) & match);
}

// A batch of symbols decoded without a check between them: BATCH_SYMBOLS
// symbols take at most BATCH_INPUT bytes of the block (each refill's word
// included) and make at most BATCH_OUTPUT bytes.
constexpr uint32_t BATCH_SYMBOLS = 32;
constexpr ptrdiff_t BATCH_INPUT =
    (BATCH_SYMBOLS * (MAX_CODE_BITS + MAX_POSITION_BITS) + 7) / 8 + 16;
constexpr uint32_t BATCH_OUTPUT = BATCH_SYMBOLS * MAX_MATCH;

} // namespace

int decode_char(BitInput& in) {
    uint32_t walks = 0;
    return next_symbol<false>(in, walks);
}

int decode_position(BitInput& in) {
    refill(in);
    uint32_t code_bits;
    const uint32_t position = peek_position(in, code_bits);
    take_bits(in, code_bits);
    return int(position);
}

uint32_t decode_entry(Stream* in, Stream* out) {
    g_decode_fault = DecodeFault::NONE;
    g_member_crc = 0;
    const uint32_t size = read_size(in);
    g_member_size = size;
    if (size == 0) return 0;

    BitInput bits;
    start_bit_input(bits, in);
    start_huff();
    memset(g_ring, RING_FILL_BYTE, RING_FILL);

    // Decoded bytes go into the window at w; the run [flushed, w) is written
    // whenever the window fills and at the end.
    uint32_t w = ring_to_window(RING_FILL);
    uint32_t flushed = w;
    uint32_t produced = 0;
    uint32_t past_size = 0; // bytes of the last match beyond the size
    uint32_t walks = g_walked_symbols;
    while (produced < size) {
        // Far from the end of the block, the size and the window's flush
        // point, a batch of symbols needs none of the checks below.
        if (bits.end - bits.next >= BATCH_INPUT && size - produced >= BATCH_OUTPUT &&
            w < WINDOW_FLUSH_AT - BATCH_OUTPUT) {
            const uint32_t start = w;
            for (uint32_t i = 0; i < BATCH_SYMBOLS; ++i) {
                const int c = next_symbol<true>(bits, walks);
                uint32_t distance, length;
                take_match(bits, c, distance, length);
                w = put_symbol(w, c, distance, length);
            }
            produced += w - start;
            continue;
        }
        const int c = next_symbol<false>(bits, walks);
        uint32_t distance, length;
        take_match(bits, c, distance, length);
        if (__builtin_expect(length > size - produced, 0)) {
            // Counted as ending at the size (the count must not wrap).
            past_size = length - (size - produced);
            produced = size - length;
        }
        if (__builtin_expect(input_overrun(bits), 0)) {
            // Keep what was decoded before the data ran out, then stop.
            window_to_ring(w);
            write_window(out, flushed, w);
            g_decode_fault = DecodeFault::DATA_PAST_END;
            fatal_error(TEXT_FILE_ERROR);
        }
        produced += length;
        w = put_symbol(w, c, distance, length);
        // The last symbol's bytes are never flushed here: a match that ends
        // past the size must not reach the file whole.
        if (__builtin_expect(w >= WINDOW_FLUSH_AT, 0) && produced < size)
            flushed = w = flush_window(out, flushed, w);
    }
    // A final match that reaches past the size is copied whole into the
    // window, so the ring the next member starts from holds all of it; the
    // file stops at the size.
    if (past_size) g_decode_fault = DecodeFault::MATCH_PAST_SIZE;
    window_to_ring(w);
    write_window(out, flushed, w - past_size);
    return size;
}
