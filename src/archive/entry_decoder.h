// The entry decoder: turns one member stream (a 4-byte little-endian size,
// then LZHUF-coded bits, most significant bit of each byte first) back into
// the member's bytes.
#pragma once

#include <cstdint>

#include "archive/lzhuf_model.h"
#include "platform/platform.h"

// The ring buffer. Positions 0 to RING_FILL - 1 are set to spaces at the
// start of each member; the last MAX_MATCH keep what the previous member left
// (zero before the first). The decoder works in a window of its own and
// brings the ring up to date when a member ends, or runs past the end of the
// file.
extern uint8_t g_ring[RING_SIZE];
extern uint32_t g_member_size; // uncompressed size of the member being decoded

// When g_member_crc_wanted is set, decode_entry leaves in g_member_crc the
// CRC-32 of the bytes it produced (those it wrote to `out`, or would have).
extern bool g_member_crc_wanted;
extern uint32_t g_member_crc;

// Why the last decode_entry failed or what it had to mend.
enum class DecodeFault {
    NONE,
    SIZE_CUT_SHORT,  // fewer than 4 bytes left for the size
    DATA_PAST_END,   // coded bits needed beyond the end of the archive file
    WRITE_FAILED,    // the member file refused a byte
    MATCH_PAST_SIZE, // the last match reached past the size; the file stops there (not fatal)
};
extern DecodeFault g_decode_fault;

// How many symbols at the start of a member are walked down the tree a bit
// at a time instead of through the code lookup table. While the tree is
// nearly flat most updates exchange nodes that the table reads, and keeping
// the table up to date costs more than it saves. Every value decodes the
// same bytes.
extern uint32_t g_walked_symbols;

// The coded bits, read from a block buffer into a 64-bit word, next bit in
// the most significant place. `bits` and `bit_count` are the buffer and the
// number of valid bits it holds; `pad_bits` counts the zero bits fed in after
// the end of the file, which must never be consumed.
struct BitInput {
    uint64_t bits;
    uint32_t bit_count;
    uint32_t pad_bits;
    Stream* stream;
    const uint8_t* next; // unread part of the block buffer
    const uint8_t* end;
};

// Resets `in` to read from `stream` at its present position.
void start_bit_input(BitInput& in, Stream* stream);
// The next bit, 0 or 1.
int get_bit(BitInput& in);
// The next 8 bits as 0 to 255, first bit most significant.
int get_byte(BitInput& in);
// True once a bit beyond the end of the file has been consumed.
inline bool input_overrun(const BitInput& in) {
    return in.pad_bits > in.bit_count;
}

// Decodes one symbol (0 to 313) and updates the model with it.
int decode_char(BitInput& in);
// Decodes one match position, 0 to 4095.
int decode_position(BitInput& in);

// Decodes one member from `in`, positioned at its stream, into `out` (null to
// discard the bytes). Returns the number of bytes produced, which is always
// g_member_size. Raises fatal_error with "File error !!" when the size cannot
// be read or the coded bits run past the end of the file, and with
// "Can't write !! Disk error !!" when `out` refuses a byte. A final match that
// reaches past the size enters the ring whole, as every match does, but `out`
// gets its bytes only up to the size (g_decode_fault says so). Neither
// flushes nor closes `out`.
uint32_t decode_entry(Stream* in, Stream* out);
